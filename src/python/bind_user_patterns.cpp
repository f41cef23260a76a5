#include <array>
#include <string>
#include <utility>
#include <vector>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "bare_new_guard.hpp"
#include "bindings.hpp"
#include "catalogue_rows.hpp"
#include "kinetra/user_patterns.hpp"

namespace py = pybind11;

namespace kinetra::python {

namespace {

// Rows arrive as sequences of exactly three numbers and become Offset3 x, y, z.
SampledPattern make_pattern(std::string name, std::string description,
                            const std::vector<std::array<double, 3>>& rows) {
    std::vector<Offset3> samples;
    samples.reserve(rows.size());
    for (const std::array<double, 3>& row : rows) {
        samples.push_back({row[0], row[1], row[2]});
    }
    return SampledPattern(std::move(name), std::move(description), std::move(samples));
}

}  // namespace

void bind_user_patterns(py::module_& m) {
    auto pattern_class = py::class_<SampledPattern>(m, "SampledPattern")
        .def(py::init(&make_pattern), py::arg("name"), py::arg("description"),
             py::arg("samples"))
        // Strings decode strictly as UTF-8 on every read.
        .def_property_readonly("name", &SampledPattern::name)
        .def_property_readonly("description", &SampledPattern::description)
        .def_property_readonly("period_pips", &SampledPattern::sample_count)
        .def("sample", &SampledPattern::sample, py::arg("pip_count").noconvert());
    guard_allocation(pattern_class);

    // The list converts into copies of the library objects, so the Python patterns are never
    // moved from and stay usable.
    auto library_class = py::class_<PatternLibrary>(m, "PatternLibrary")
        .def(py::init<std::vector<SampledPattern>>(), py::arg("patterns"))
        .def("sample", &PatternLibrary::sample, py::arg("name"),
             py::arg("pip_count").noconvert())
        .def("catalogue",
             [](const PatternLibrary& library) { return catalogue_rows(library.catalogue()); });
    guard_allocation(library_class);
}

}  // namespace kinetra::python
