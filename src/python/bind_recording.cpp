#include <string>
#include <vector>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "bare_new_guard.hpp"
#include "bindings.hpp"
#include "kinetra/recording.hpp"

namespace py = pybind11;

namespace kinetra::python {

void bind_recording(py::module_& m) {
    auto cls = py::class_<SampledRecording>(m, "SampledRecording")
        .def(py::init<std::string, std::vector<std::string>, std::vector<std::vector<double>>,
                      double, double, int>(),
             py::arg("name"), py::arg("dimensions"), py::arg("samples"), py::arg("bpm"),
             py::arg("beat_zero_seconds") = 0.0, py::arg("start_pip") = 0)
        .def_property_readonly("name", &SampledRecording::name)
        .def_property_readonly("dimensions", &SampledRecording::dimensions)
        .def_property_readonly("sample_count", &SampledRecording::sample_count)
        .def_property_readonly("bpm", &SampledRecording::bpm)
        .def_property_readonly("beat_zero_seconds", &SampledRecording::beat_zero_seconds)
        .def_property_readonly("start_pip", &SampledRecording::start_pip)
        // A float pip is refused even when it holds a whole number.
        .def("sample", &SampledRecording::sample, py::arg("pip").noconvert());
    guard_allocation(cls);
}

}  // namespace kinetra::python
