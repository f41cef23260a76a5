#include <array>
#include <string>
#include <utility>
#include <vector>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "arguments.hpp"
#include "bare_new_guard.hpp"
#include "bindings.hpp"
#include "catalogue_rows.hpp"
#include "kinetra/user_patterns.hpp"

namespace py = pybind11;

namespace kinetra::python {

namespace {

// The samples argument: rows of exactly three numbers. More rows than a pattern may have are
// refused by their number alone, before any row is converted.
struct PatternRows {
    std::vector<Offset3> rows;
    bool too_many = false;
};

// The patterns argument: SampledPattern instances (or of subclasses), kept as references until
// the library is built. More than a library may hold are refused before any is looked at.
struct PatternList {
    std::vector<py::object> items;
    bool too_many = false;
};

bool load_row(py::handle src, bool convert, Offset3& row) {
    if (!is_collection(src) || (!convert && PySequence_Check(src.ptr()) == 0)) {
        return false;
    }
    const Py_ssize_t length = reported_length(src);
    if (length >= 0 && length != 3) {
        return false;
    }
    std::array<double, 3> values{};
    std::size_t index = 0;
    const ReadResult read = read_items(src, 3, [&](py::object item) {
        return load_real(item, convert, values[index++]) ? Visit::next : Visit::refuse;
    });
    if (read.refused || read.over_limit || read.count != 3) {
        return false;
    }
    row = {values[0], values[1], values[2]};
    return true;
}

}  // namespace

}  // namespace kinetra::python

namespace pybind11::detail {

template <>
struct type_caster<kinetra::python::PatternRows> {
    using rows_caster = make_caster<std::vector<std::array<double, 3>>>;
    PYBIND11_TYPE_CASTER(kinetra::python::PatternRows, rows_caster::name);

    bool load(handle src, bool convert) {
        using namespace kinetra::python;
        constexpr std::size_t limit = kinetra::detail::max_pattern_samples;
        const auto reserve = [&](std::size_t room) { value.rows.reserve(room); };
        const ReadResult read = read_collection(src, convert, limit, reserve, [&](object item) {
            kinetra::Offset3 row{};
            if (!load_row(item, convert, row)) {
                return Visit::refuse;
            }
            value.rows.push_back(row);
            return Visit::next;
        });
        value.too_many = read.over_limit;
        return !read.refused;
    }
};

template <>
struct type_caster<kinetra::python::PatternList> {
    PYBIND11_TYPE_CASTER(kinetra::python::PatternList,
                         make_caster<std::vector<kinetra::SampledPattern>>::name);

    bool load(handle src, bool convert) {
        using namespace kinetra::python;
        constexpr std::size_t limit = kinetra::detail::max_library_patterns;
        const auto reserve = [](std::size_t) {};
        const ReadResult read = read_collection(src, convert, limit, reserve, [&](object item) {
            if (!isinstance<kinetra::SampledPattern>(item)) {
                return Visit::refuse;
            }
            value.items.push_back(std::move(item));
            return Visit::next;
        });
        value.too_many = read.over_limit;
        return !read.refused;
    }
};

}  // namespace pybind11::detail

namespace kinetra::python {

namespace {

SampledPattern make_pattern(Text name, Text description, PatternRows samples) {
    if (samples.too_many) {
        // The same count the caller gave as far as the pattern can tell: one row too many. The
        // constructor still tests the name first.
        samples.rows.assign(detail::max_pattern_samples + 1, Offset3{0.0, 0.0, 0.0});
    }
    return SampledPattern(std::move(name.value), std::move(description.value),
                          std::move(samples.rows));
}

// Copies of the given patterns, in order, as far as the library can look at them: once the
// running sample total passes its limit, the library refuses at that pattern or earlier, so
// nothing after it is copied.
PatternLibrary make_library(PatternList list) {
    std::vector<SampledPattern> patterns;
    if (list.too_many) {
        patterns.assign(detail::max_library_patterns + 1,
                        SampledPattern("a", "", {Offset3{0.0, 0.0, 0.0}}));
        return PatternLibrary(std::move(patterns));
    }
    patterns.reserve(list.items.size());
    std::size_t total = 0;
    for (const py::object& item : list.items) {
        const auto& pattern = item.cast<const SampledPattern&>();
        patterns.push_back(pattern);
        total += pattern.sample_count();
        if (total > detail::max_library_samples) {
            break;
        }
    }
    return PatternLibrary(std::move(patterns));
}

}  // namespace

void bind_user_patterns(py::module_& m) {
    auto pattern_class =
        py::class_<SampledPattern>(m, "SampledPattern")
            .def(py::init(&make_pattern), py::arg("name"), py::arg("description"),
                 py::arg("samples"))
            // Strings decode strictly as UTF-8 on every read.
            .def_property_readonly("name", &SampledPattern::name)
            .def_property_readonly("description", &SampledPattern::description)
            .def_property_readonly("period_pips", &SampledPattern::sample_count)
            .def(
                "sample",
                [](const SampledPattern& pattern, Int32 pip) { return pattern.sample(pip.value); },
                py::arg("pip_count").noconvert());
    guard_allocation(pattern_class);

    // The list converts into copies of the library objects, so the Python patterns are never
    // moved from and stay usable.
    auto library_class = py::class_<PatternLibrary>(m, "PatternLibrary")
                             .def(py::init(&make_library), py::arg("patterns"))
                             .def(
                                 "sample",
                                 [](const PatternLibrary& library, std::string_view name,
                                    Int32 pip) { return library.sample(name, pip.value); },
                                 py::arg("name"), py::arg("pip_count").noconvert())
                             .def("catalogue", [](const PatternLibrary& library) {
                                 return catalogue_rows(library.catalogue());
                             });
    guard_allocation(library_class);
}

}  // namespace kinetra::python
