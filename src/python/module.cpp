#include <pybind11/pybind11.h>

#include "bindings.hpp"
#include "kinetra/core.hpp"

namespace py = pybind11;

// Multi-phase initialisation; the module cannot be loaded into sub-interpreters and declares
// no free-threading support.
PYBIND11_MODULE(kinetra, m, py::multiple_interpreters::not_supported()) {
    m.doc() = "Integer-pip rhythmic position functions";
    m.attr("PIPS_PER_BEAT") = kinetra::PIPS_PER_BEAT;
    kinetra::python::bind_recording(m);
    kinetra::python::bind_offset3(m);
    kinetra::python::bind_user_patterns(m);
    kinetra::python::bind_lookup(m);
    kinetra::python::bind_procedural(m);
}
