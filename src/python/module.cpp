#include <stdexcept>

#include <pybind11/pybind11.h>

#include "bindings.hpp"
#include "kinetra/catalogue.hpp"
#include "kinetra/core.hpp"

namespace py = pybind11;

namespace {

// std::invalid_argument becomes ValueError with its message, as in the standard translation,
// except that a message carrying bytes that are not UTF-8 (an unknown name given as raw bytes)
// is decoded with backslash escapes instead of failing with UnicodeDecodeError, and that a
// message naming an unknown name keeps all of it, zero bytes included.
void translate_invalid_argument(std::exception_ptr thrown) {
    try {
        std::rethrow_exception(thrown);
    } catch (const std::invalid_argument& e) {
        const auto* named = dynamic_cast<const kinetra::UnknownNameError*>(&e);
        const std::string_view text =
            named != nullptr ? named->message() : std::string_view(e.what());
        py::object message = py::reinterpret_steal<py::object>(PyUnicode_DecodeUTF8(
            text.data(), static_cast<Py_ssize_t>(text.size()), "backslashreplace"));
        if (!message) {
            throw py::error_already_set();
        }
        PyErr_SetObject(PyExc_ValueError, message.ptr());
    }
}

}  // namespace

// Multi-phase initialisation; the module cannot be loaded into sub-interpreters and declares
// no free-threading support.
PYBIND11_MODULE(kinetra, m, py::multiple_interpreters::not_supported()) {
    py::register_local_exception_translator(translate_invalid_argument);
    m.doc() = "Integer-pip rhythmic position functions";
    m.attr("PIPS_PER_BEAT") = kinetra::PIPS_PER_BEAT;
    kinetra::python::bind_recording(m);
    kinetra::python::bind_offset3(m);
    kinetra::python::bind_user_patterns(m);
    kinetra::python::bind_lookup(m);
    kinetra::python::bind_procedural(m);
}
