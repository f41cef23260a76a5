#include "bare_new_guard.hpp"

#include <pybind11/detail/exception_translation.h>

namespace py = pybind11;

namespace kinetra::python {

namespace {

// The binding library's allocation slot, taken from the instance base before it is replaced.
newfunc library_new = nullptr;

// Sets the Python error for the exception being handled, translated as a bound function's.
void set_error_from_current_exception() noexcept {
    try {
        py::detail::try_translate_exceptions();
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "Caught an unknown exception!");
    }
}

// The slot of every guarded class: allocation exactly as the binding library does it, but no
// C++ exception ever unwinds through CPython.
PyObject* guarded_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    try {
        return library_new(type, args, kwargs);
    } catch (...) {
        set_error_from_current_exception();
        return nullptr;
    }
}

// The instance base's slot: a type without any bound class in its bases (the instance base
// itself, reached by Cls.__base__() and by pickling with protocols 0 and 1) has nothing to
// allocate and is refused before anything is allocated.
PyObject* base_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    try {
        if (py::detail::all_type_info(type).empty()) {
            PyErr_Format(PyExc_TypeError, "cannot create '%s' instances", type->tp_name);
            return nullptr;
        }
    } catch (...) {
        set_error_from_current_exception();
        return nullptr;
    }
    return guarded_new(type, args, kwargs);
}

void guard_instance_base(PyTypeObject* base) {
    if (base->tp_new == base_new) {
        return;  // the module was initialised before in this process
    }
    library_new = base->tp_new;
    base->tp_new = base_new;
    PyType_Modified(base);
}

}  // namespace

void guard_allocation(py::handle cls) {
    auto* type = reinterpret_cast<PyTypeObject*>(cls.ptr());
    guard_instance_base(type->tp_base);
    type->tp_new = guarded_new;
    // The class has no __new__ entry of its own, so cls.__new__ is the instance base's, which
    // CPython refuses for this class now that the two slots differ.
    PyType_Modified(type);
}

}  // namespace kinetra::python
