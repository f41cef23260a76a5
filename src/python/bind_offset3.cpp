#include <pybind11/pybind11.h>

#include "bare_new_guard.hpp"
#include "bindings.hpp"
#include "kinetra/core.hpp"

namespace py = pybind11;

namespace kinetra::python {

void bind_offset3(py::module_& m) {
    // No constructor: instances only come back from the module's functions and methods.
    auto cls = py::class_<Offset3>(m, "Offset3")
                   .def_readonly("x", &Offset3::x)
                   .def_readonly("y", &Offset3::y)
                   .def_readonly("z", &Offset3::z)
                   .def("as_tuple", [](const Offset3& o) { return py::make_tuple(o.x, o.y, o.z); });
    guard_allocation(cls);
}

}  // namespace kinetra::python
