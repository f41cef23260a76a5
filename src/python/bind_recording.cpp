#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "arguments.hpp"
#include "bare_new_guard.hpp"
#include "bindings.hpp"
#include "kinetra/identifier.hpp"
#include "kinetra/recording.hpp"

namespace py = pybind11;

namespace kinetra::python {

namespace {

constexpr std::size_t max_values = detail::max_recording_values;

// The dimensions argument. Every name is converted; names are kept (each at most 129 bytes,
// which keeps a longer one as invalid as it was) up to the first one that the recording
// refuses, invalid or repeated, since the recording looks no further.
struct AxisNames {
    std::vector<std::string> names;
    std::size_t count = 0;
    bool too_many = false;
};

// The samples argument. Rows are converted and kept while the values kept stay within the
// recording's limit; the row that would pass it is only measured (its length), and later rows
// are only counted: a recording whose size fits has at most that many values, so such a row
// is refused there or earlier.
struct RecordingRows {
    std::vector<std::vector<double>> rows;
    std::size_t count = 0;
    bool too_many = false;
    bool cut = false;
    std::size_t cut_length = 0;  // length of the measured row; max_values + 1 stands for more
};

}  // namespace

}  // namespace kinetra::python

namespace pybind11::detail {

template <>
struct type_caster<kinetra::python::AxisNames> {
    PYBIND11_TYPE_CASTER(kinetra::python::AxisNames,
                         make_caster<std::vector<std::string>>::name);

    bool load(handle src, bool convert) {
        using namespace kinetra::python;
        if (!is_collection(src) || (!convert && PySequence_Check(src.ptr()) == 0)) {
            return false;
        }
        const Py_ssize_t length = reported_length(src);
        if (length > static_cast<Py_ssize_t>(max_values)) {
            value.too_many = true;
            return true;
        }
        value.names.reserve(length > 0 ? static_cast<std::size_t>(length) : 0);
        std::unordered_set<std::string> seen;
        bool settled = false;
        const ReadResult read = read_items(src, max_values, [&](object item) {
            std::string name;
            if (!load_text(item, name, 129)) {
                return Visit::refuse;
            }
            if (!settled) {
                settled = !kinetra::detail::is_identifier(name) || !seen.insert(name).second;
                value.names.push_back(std::move(name));
            }
            return Visit::next;
        });
        value.count = read.count;
        value.too_many = read.over_limit;
        return !read.refused;
    }
};

template <>
struct type_caster<kinetra::python::RecordingRows> {
    PYBIND11_TYPE_CASTER(kinetra::python::RecordingRows,
                         make_caster<std::vector<std::vector<double>>>::name);

    bool load(handle src, bool convert) {
        using namespace kinetra::python;
        if (!is_collection(src) || (!convert && PySequence_Check(src.ptr()) == 0)) {
            return false;
        }
        const Py_ssize_t length = reported_length(src);
        if (length > static_cast<Py_ssize_t>(max_values)) {
            value.too_many = true;
            return true;
        }
        value.rows.reserve(length > 0 ? static_cast<std::size_t>(length) : 0);
        std::size_t budget = max_values;
        const ReadResult read = read_items(src, max_values, [&](object row) {
            if (value.cut) {
                return Visit::next;
            }
            if (!is_collection(row) || (!convert && PySequence_Check(row.ptr()) == 0)) {
                return Visit::refuse;
            }
            const Py_ssize_t row_length = reported_length(row);
            if (row_length > static_cast<Py_ssize_t>(budget)) {
                value.cut = true;
                value.cut_length = std::min(static_cast<std::size_t>(row_length), max_values + 1);
                return Visit::next;
            }
            std::vector<double> values;
            values.reserve(row_length > 0 ? static_cast<std::size_t>(row_length) : 0);
            const ReadResult items = read_items(row, max_values, [&](object item) {
                if (values.size() == budget) {
                    return Visit::next;  // only counted from here on
                }
                double number = 0.0;
                if (!load_real(item, convert, number)) {
                    return Visit::refuse;
                }
                values.push_back(number);
                return Visit::next;
            });
            if (items.refused) {
                return Visit::refuse;
            }
            if (items.count > budget) {
                value.cut = true;
                value.cut_length = items.count;
                return Visit::next;
            }
            budget -= values.size();
            value.rows.push_back(std::move(values));
            return Visit::next;
        });
        value.count = read.count;
        value.too_many = read.over_limit;
        return !read.refused;
    }
};

}  // namespace pybind11::detail

namespace kinetra::python {

namespace {

SampledRecording make_recording(Text name, AxisNames dimensions, RecordingRows samples, Real bpm,
                                Real beat_zero_seconds, Int32 start_pip) {
    std::vector<std::string> axes = std::move(dimensions.names);
    std::vector<std::vector<double>> rows = std::move(samples.rows);
    if (dimensions.too_many || samples.too_many ||
        !detail::recording_fits(dimensions.count, samples.count, start_pip.value)) {
        // Refused by the size rule, after the name and time base tests: no axes stand for it.
        axes.clear();
        rows.clear();
    } else if (samples.cut) {
        // The measured row, as long as it was if that differs from the axis count (its
        // values are never looked at then), else as long as the axes (a row before it is
        // refused).
        const std::size_t axis_count = dimensions.count;
        const std::size_t length = samples.cut_length == axis_count
                                       ? axis_count
                                       : std::min(samples.cut_length, axis_count + 1);
        rows.emplace_back(length, 0.0);
    }
    return SampledRecording(std::move(name.value), std::move(axes), std::move(rows), bpm.value,
                            beat_zero_seconds.value, start_pip.value);
}

}  // namespace

void bind_recording(py::module_& m) {
    auto cls = py::class_<SampledRecording>(m, "SampledRecording")
        .def(py::init(&make_recording), py::arg("name"), py::arg("dimensions"),
             py::arg("samples"), py::arg("bpm"), py::arg("beat_zero_seconds") = 0.0,
             py::arg("start_pip") = 0)
        .def_property_readonly("name", &SampledRecording::name)
        .def_property_readonly("dimensions", &SampledRecording::dimensions)
        .def_property_readonly("sample_count", &SampledRecording::sample_count)
        .def_property_readonly("bpm", &SampledRecording::bpm)
        .def_property_readonly("beat_zero_seconds", &SampledRecording::beat_zero_seconds)
        .def_property_readonly("start_pip", &SampledRecording::start_pip)
        // A float pip is refused even when it holds a whole number.
        .def("sample",
             [](const SampledRecording& recording, Int32 pip) { return recording.sample(pip.value); },
             py::arg("pip").noconvert());
    guard_allocation(cls);
}

}  // namespace kinetra::python
