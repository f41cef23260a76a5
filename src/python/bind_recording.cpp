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
    bool settled = false;  // a name is refused: the names end with it
};

// The samples argument, converted into one flat block with the length of each row. Rows are
// converted and kept while the values kept stay within the recording's limit; the row that
// would pass it is only measured (its length), and later rows are only counted: a recording
// whose size fits has at most that many values, so such a row is refused there or earlier.
struct RecordingRows {
    std::vector<double> values;
    std::vector<std::size_t> lengths;
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
    PYBIND11_TYPE_CASTER(kinetra::python::AxisNames, make_caster<std::vector<std::string>>::name);

    bool load(handle src, bool convert) {
        using namespace kinetra::python;
        std::unordered_set<std::string> seen;
        bool settled = false;
        const auto reserve = [&](std::size_t room) { value.names.reserve(room); };
        const ReadResult read =
            read_collection(src, convert, max_values, reserve, [&](object item) {
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
        value.settled = settled;
        return !read.refused;
    }
};

template <>
struct type_caster<kinetra::python::RecordingRows> {
    PYBIND11_TYPE_CASTER(kinetra::python::RecordingRows,
                         make_caster<std::vector<std::vector<double>>>::name);

    bool load(handle src, bool convert) {
        using namespace kinetra::python;
        const auto reserve = [&](std::size_t room) { value.lengths.reserve(room); };
        const ReadResult read = read_collection(src, convert, max_values, reserve, [&](object row) {
            if (value.cut) {
                return Visit::next;
            }
            if (!is_collection(row) || (!convert && PySequence_Check(row.ptr()) == 0)) {
                return Visit::refuse;
            }
            const std::size_t budget = max_values - value.values.size();
            const Py_ssize_t row_length = reported_length(row);
            if (row_length > static_cast<Py_ssize_t>(budget)) {
                value.cut = true;
                value.cut_length = std::min(static_cast<std::size_t>(row_length), max_values + 1);
                return Visit::next;
            }
            const std::size_t first = value.values.size();
            const ReadResult items = read_items(row, max_values, [&](object item) {
                if (value.values.size() == max_values) {
                    return Visit::next;  // only counted from here on
                }
                double number = 0.0;
                if (!load_real(item, convert, number)) {
                    return Visit::refuse;
                }
                value.values.push_back(number);
                return Visit::next;
            });
            if (items.refused) {
                return Visit::refuse;
            }
            if (items.count > budget) {
                value.values.resize(first);
                value.cut = true;
                value.cut_length = items.count;
                return Visit::next;
            }
            value.lengths.push_back(items.count);
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

// A row that differs in length from the axes, as long as it was if that fits, else one longer
// than the axes; its values are never looked at.
std::vector<double> ragged_row(std::size_t length, std::size_t axes) {
    return std::vector<double>(std::min(length, axes + 1), 0.0);
}

SampledRecording make_recording(Text name, AxisNames dimensions, RecordingRows samples, Real bpm,
                                Real beat_zero_seconds, Int32 start_pip) {
    std::vector<std::string> axes = std::move(dimensions.names);
    std::vector<std::vector<double>> rows;
    const std::size_t axis_count = dimensions.count;
    if (!detail::is_identifier(name.value) ||
        !detail::time_base_ok(bpm.value, beat_zero_seconds.value) || dimensions.too_many ||
        samples.too_many || !detail::recording_fits(axis_count, samples.count, start_pip.value)) {
        // Refused by the name, the time base or the size rule: no axes stand for the rest.
        axes.clear();
    } else if (dimensions.settled) {
        // Refused by an axis name: one row that fits stands for the rows.
        rows.emplace_back(axes.size(), 0.0);
    } else {
        // The rows up to the first one of another length than the axes: the recording looks
        // no further.
        bool ragged = false;
        auto next = samples.values.begin();
        for (const std::size_t length : samples.lengths) {
            if (length != axis_count) {
                rows.push_back(ragged_row(length, axis_count));
                ragged = true;
                break;
            }
            rows.emplace_back(next, next + static_cast<std::ptrdiff_t>(length));
            next += static_cast<std::ptrdiff_t>(length);
        }
        if (!ragged && samples.cut) {
            // As long as the axes if it is (then a row before it is refused).
            rows.push_back(samples.cut_length == axis_count
                               ? std::vector<double>(axis_count, 0.0)
                               : ragged_row(samples.cut_length, axis_count));
        }
        samples.values = {};
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
                   .def(
                       "sample",
                       [](const SampledRecording& recording, Int32 pip) {
                           return recording.sample(pip.value);
                       },
                       py::arg("pip").noconvert());
    guard_allocation(cls);
}

}  // namespace kinetra::python
