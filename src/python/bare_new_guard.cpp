#include "bare_new_guard.hpp"

#include <string>

namespace py = pybind11;

namespace kinetra::python {

void refuse_bare_new(py::handle cls, const char* message) {
    py::cpp_function refuse([text = std::string(message)](py::args, py::kwargs) -> py::object {
        throw py::type_error(text);
    });
    py::object as_static = py::reinterpret_steal<py::object>(PyStaticMethod_New(refuse.ptr()));
    if (!as_static) {
        throw py::error_already_set();
    }
    // Written into the type's dict directly: setting the attribute would also replace the
    // type's allocation slot, which the constructor relies on.
    auto* type = reinterpret_cast<PyTypeObject*>(cls.ptr());
    py::object dict = py::reinterpret_steal<py::object>(PyType_GetDict(type));
    if (PyDict_SetItemString(dict.ptr(), "__new__", as_static.ptr()) != 0) {
        throw py::error_already_set();
    }
    PyType_Modified(type);
}

}  // namespace kinetra::python
