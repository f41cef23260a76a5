#include <pybind11/pybind11.h>

#include "bindings.hpp"
#include "catalogue_rows.hpp"
#include "kinetra/catalogue.hpp"

namespace py = pybind11;

namespace kinetra::python {

void bind_lookup(py::module_& m) {
    m.def("sample", &kinetra::sample, py::arg("name"), py::arg("pip_count"));
    m.def("catalogue", []() { return catalogue_rows(kinetra::catalogue()); });
}

}  // namespace kinetra::python
