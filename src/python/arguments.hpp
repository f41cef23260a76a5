#pragma once

// Argument conversion for the constructors and methods of the classes.
//
// The rules are the binding library's own (the same accepted types, the same TypeError with
// the signature listing when a value has the wrong type), with two differences:
// - when a value's own conversion raises (an __index__ or __float__ that fails, a str that is
//   not encodable, an int too large), the TypeError says so and carries that error as its
//   cause, instead of a bare signature listing;
// - collections are read item by item and copied only as far as the library can still need
//   them: a collection longer than its limit is refused by its length, and no copy grows
//   beyond a small multiple of the library's limits, whatever the input expands to.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

namespace kinetra::python {

namespace py = pybind11;

// Replaces the pending Python error by a TypeError with that error as its cause, and throws it
// to the binding library. Memory exhaustion and exceptions that are no Exception (such as
// KeyboardInterrupt) pass through unchanged.
[[noreturn]] inline void throw_type_error_from_pending(const char* message) {
    if (PyErr_ExceptionMatches(PyExc_Exception) && !PyErr_ExceptionMatches(PyExc_MemoryError)) {
        py::raise_from(PyExc_TypeError, message);
    }
    throw py::error_already_set();
}

// ---- single values ------------------------------------------------------------------------

// A string parameter: str (as UTF-8), bytes or bytearray. At most `keep` bytes are copied.
inline bool load_text(py::handle src, std::string& out, std::size_t keep = std::string::npos) {
    const char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyUnicode_Check(src.ptr())) {
        data = PyUnicode_AsUTF8AndSize(src.ptr(), &size);
        if (data == nullptr) {
            throw_type_error_from_pending("a str argument cannot be encoded as UTF-8");
        }
    } else if (PyBytes_Check(src.ptr())) {
        data = PyBytes_AS_STRING(src.ptr());
        size = PyBytes_GET_SIZE(src.ptr());
    } else if (PyByteArray_Check(src.ptr())) {
        data = PyByteArray_AS_STRING(src.ptr());
        size = PyByteArray_GET_SIZE(src.ptr());
    } else {
        return false;
    }
    out.assign(data, std::min(static_cast<std::size_t>(size), keep));
    return true;
}

// A float parameter: float or int, and with implicit conversion whatever converts to float
// (never a str or bytes).
inline bool load_real(py::handle src, bool convert, double& out) {
    py::detail::make_caster<double> caster;
    if (caster.load(src, convert)) {
        out = static_cast<double>(caster);
        return true;
    }
    // Refused: if the object takes part in the numeric protocol, its own conversion failed.
    if (convert && PyNumber_Check(src.ptr()) != 0 && !PyUnicode_Check(src.ptr()) &&
        !PyBytes_Check(src.ptr())) {
        const double again = PyFloat_AsDouble(src.ptr());
        if (again == -1.0 && PyErr_Occurred()) {
            throw_type_error_from_pending(
                "an argument for a float parameter cannot be converted to float");
        }
    }
    return false;
}

// An int parameter (signed 32-bit), with or without implicit conversion. A float is never taken.
inline bool load_int(py::handle src, bool convert, int& out) {
    py::detail::make_caster<int> caster;
    if (caster.load(src, convert)) {
        out = static_cast<int>(caster);
        return true;
    }
    if (PyFloat_Check(src.ptr())) {
        return false;
    }
    const bool has_index = PyIndex_Check(src.ptr()) != 0;
    if (!has_index && !(convert && PyNumber_Check(src.ptr()) != 0)) {
        return false;
    }
    py::object number = py::reinterpret_steal<py::object>(has_index ? PyNumber_Index(src.ptr())
                                                                    : PyNumber_Long(src.ptr()));
    if (!number) {
        throw_type_error_from_pending(
            "an argument for an int parameter cannot be converted to int");
    }
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
    if (value == -1 && PyErr_Occurred()) {
        throw_type_error_from_pending(
            "an argument for an int parameter cannot be converted to int");
    }
    if (overflow != 0 || value < INT32_MIN || value > INT32_MAX) {
        PyErr_SetString(PyExc_OverflowError, "value outside [-2147483648, 2147483647]");
        throw_type_error_from_pending("an int argument lies outside the signed 32-bit range");
    }
    return false;
}

// ---- collections --------------------------------------------------------------------------

// Whether src is taken as a collection: a sequence other than str and bytes, or a generator,
// set, frozenset, dict view, map or zip object (the binding library's rule for vectors).
inline bool is_collection(py::handle src) {
    return py::detail::object_is_convertible_to_std_vector(src);
}

// The length a sequence reports, or -1 for an iterable that has to be read to be counted.
inline Py_ssize_t reported_length(py::handle src) {
    if (PySequence_Check(src.ptr()) == 0) {
        return -1;
    }
    const Py_ssize_t length = PySequence_Size(src.ptr());
    if (length < 0) {
        throw_type_error_from_pending("cannot take the length of a collection argument");
    }
    return length;
}

enum class Visit { next, refuse, stop };

struct ReadResult {
    bool refused = false;     // an item had the wrong type: the argument is not accepted
    std::size_t count = 0;    // items read, at most limit + 1
    bool over_limit = false;  // more than limit items
};

// Reads the items of a collection in order, handing each to visit, until visit refuses one or
// stops, or more than `limit` items have been read (the last one is then not visited).
template <typename Visitor>
ReadResult read_items(py::handle src, std::size_t limit, Visitor&& visit) {
    ReadResult result;
    py::object iterator = py::reinterpret_steal<py::object>(PyObject_GetIter(src.ptr()));
    if (!iterator) {
        throw_type_error_from_pending("cannot iterate over a collection argument");
    }
    while (true) {
        py::object item = py::reinterpret_steal<py::object>(PyIter_Next(iterator.ptr()));
        if (!item) {
            if (PyErr_Occurred()) {
                throw_type_error_from_pending("cannot read the items of a collection argument");
            }
            return result;
        }
        ++result.count;
        if (result.count > limit) {
            result.over_limit = true;
            return result;
        }
        const Visit next = visit(std::move(item));
        if (next == Visit::refuse) {
            result.refused = true;
            return result;
        }
        if (next == Visit::stop) {
            return result;
        }
    }
}

// A sized collection argument converted with a limit. Non-sequence iterables are taken only
// with implicit conversion, as by the binding library. One that reports more than `limit`
// items is accepted but refused by its length alone (over_limit, nothing read); otherwise
// reserve is told how many items it reports and its items are read as by read_items. The
// argument is not accepted when the result is refused.
template <typename Reserve, typename Visitor>
ReadResult read_collection(py::handle src, bool convert, std::size_t limit, Reserve&& reserve,
                           Visitor&& visit) {
    if (!is_collection(src) || (!convert && PySequence_Check(src.ptr()) == 0)) {
        return {.refused = true};
    }
    const Py_ssize_t length = reported_length(src);
    if (length > static_cast<Py_ssize_t>(limit)) {
        return {.over_limit = true};
    }
    reserve(length > 0 ? static_cast<std::size_t>(length) : 0);
    return read_items(src, limit, std::forward<Visitor>(visit));
}

// Counts the items of a collection without converting them, up to limit + 1.
inline std::size_t count_items(py::handle src, std::size_t limit) {
    const Py_ssize_t length = reported_length(src);
    if (length >= 0) {
        return std::min(static_cast<std::size_t>(length), limit + 1);
    }
    return read_items(src, limit, [](py::object) { return Visit::next; }).count;
}

// ---- parameter types ----------------------------------------------------------------------

// Parameters converted by the functions above; their signatures render as the binding
// library's own for std::string, double and int.
struct Text {
    std::string value;
};
struct Real {
    double value = 0.0;
};
struct Int32 {
    int value = 0;
};

}  // namespace kinetra::python

namespace pybind11::detail {

template <>
struct type_caster<kinetra::python::Text> {
    PYBIND11_TYPE_CASTER(kinetra::python::Text, make_caster<std::string>::name);
    bool load(handle src, bool) { return kinetra::python::load_text(src, value.value); }
};

template <>
struct type_caster<kinetra::python::Real> {
    PYBIND11_TYPE_CASTER(kinetra::python::Real, make_caster<double>::name);
    bool load(handle src, bool convert) {
        return kinetra::python::load_real(src, convert, value.value);
    }
};

template <>
struct type_caster<kinetra::python::Int32> {
    PYBIND11_TYPE_CASTER(kinetra::python::Int32, make_caster<int>::name);
    bool load(handle src, bool convert) {
        return kinetra::python::load_int(src, convert, value.value);
    }
};

}  // namespace pybind11::detail
