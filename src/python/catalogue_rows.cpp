#include "catalogue_rows.hpp"

namespace py = pybind11;

namespace kinetra::python {

py::list catalogue_rows(const std::vector<RudimentInfo>& rows) {
    py::list list;
    for (const RudimentInfo& row : rows) {
        py::dict dict;
        dict["name"] = py::str(row.name.data(), row.name.size());
        dict["description"] = py::str(row.description.data(), row.description.size());
        dict["period_pips"] = py::int_(row.period_pips);
        dict["dimensions"] = py::int_(row.dimensions);
        list.append(std::move(dict));
    }
    return list;
}

}  // namespace kinetra::python
