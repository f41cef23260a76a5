// Baselines for the Python benchmark: the signatures and argument rules of the kinetra module's
// functions and methods, with bodies that only build the result, so that the difference to the
// real call is the library's own work.
#include <string>
#include <string_view>
#include <vector>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

namespace py = pybind11;

namespace {

struct Offset3 {
    double x;
    double y;
    double z;
};

Offset3 bounce(int pip) noexcept { return {static_cast<double>(pip), 0.0, 0.0}; }

Offset3 sample(std::string_view name, int pip_count) {
    return {static_cast<double>(name.size()), static_cast<double>(pip_count), 0.0};
}

// The floor of a random mix of built-in names: the same binding, plus one read of a row chosen
// by the pip from one block as large as all baked tables together (set_rows). The pips of the
// benchmark are spread far wider than the block, so consecutive calls read unrelated rows, as
// calls of random patterns at random pips do.
std::vector<Offset3>& rows() {
    static std::vector<Offset3> block;
    return block;
}

void set_rows(std::size_t count) {
    std::vector<Offset3> block(count);
    for (std::size_t i = 0; i < count; ++i) {
        block[i] = {static_cast<double>(i % 7) / 8.0, static_cast<double>(i % 5) / 8.0, 0.0};
    }
    rows().swap(block);
}

Offset3 sample_row(std::string_view name, int pip_count) {
    const std::vector<Offset3>& block = rows();
    if (block.empty()) {
        return {static_cast<double>(name.size()), static_cast<double>(pip_count), 0.0};
    }
    const long long size = static_cast<long long>(block.size());
    const long long folded = ((static_cast<long long>(pip_count) % size) + size) % size;
    return block[static_cast<std::size_t>(folded)];
}

struct Pattern {
    Offset3 sample(int pip_count) const { return {static_cast<double>(pip_count), 0.0, 0.0}; }
};

struct Library {
    Offset3 sample(std::string_view name, int pip_count) const {
        return {static_cast<double>(name.size()), static_cast<double>(pip_count), 0.0};
    }
};

// A recording answers with one value per axis.
struct Recording {
    int axes;
    std::vector<double> sample(int pip) const {
        return std::vector<double>(static_cast<std::size_t>(axes), static_cast<double>(pip));
    }
};

}  // namespace

PYBIND11_MODULE(kinetra_bench_baseline, m, py::multiple_interpreters::not_supported()) {
    m.doc() = "Benchmark baselines with the signatures of the kinetra module";
    py::class_<Offset3>(m, "Offset3")
        .def_readonly("x", &Offset3::x)
        .def_readonly("y", &Offset3::y)
        .def_readonly("z", &Offset3::z)
        .def("as_tuple", [](const Offset3& o) { return py::make_tuple(o.x, o.y, o.z); });
    m.def("sample", &sample, py::arg("name"), py::arg("pip_count"));
    m.def("set_rows", &set_rows, py::arg("count"));
    m.def("sample_row", &sample_row, py::arg("name"), py::arg("pip_count"));
    m.def("bounce", &bounce);
    py::class_<Pattern>(m, "Pattern")
        .def(py::init<>())
        .def("sample", &Pattern::sample, py::arg("pip_count").noconvert());
    py::class_<Library>(m, "Library")
        .def(py::init<>())
        .def("sample", &Library::sample, py::arg("name"), py::arg("pip_count").noconvert());
    py::class_<Recording>(m, "Recording")
        .def(py::init<int>(), py::arg("axes"))
        .def("sample", &Recording::sample, py::arg("pip").noconvert());
}
