#include "catalogue_rows.hpp"

namespace py = pybind11;

namespace kinetra::python {

py::list catalogue_rows(const std::vector<RudimentInfo>& rows) {
    // The four keys are made once per call and shared by the dicts of all rows; the list is
    // made at its final size and each finished dict is moved into its place. A failure
    // releases the list with the rows made so far (the remaining places are still empty).
    const py::str name_key("name");
    const py::str description_key("description");
    const py::str period_key("period_pips");
    const py::str dimensions_key("dimensions");
    py::list list(rows.size());
    Py_ssize_t position = 0;
    for (const RudimentInfo& row : rows) {
        py::dict dict;
        dict[name_key] = py::str(row.name.data(), row.name.size());
        dict[description_key] = py::str(row.description.data(), row.description.size());
        dict[period_key] = py::int_(row.period_pips);
        dict[dimensions_key] = py::int_(row.dimensions);
        PyList_SET_ITEM(list.ptr(), position++, dict.release().ptr());
    }
    return list;
}

}  // namespace kinetra::python
