#pragma once

#include <vector>

#include <pybind11/pybind11.h>

#include "kinetra/catalogue.hpp"

namespace kinetra::python {

// A new list with one dict per row, keys in the order name, description, period_pips,
// dimensions. Strings are decoded strictly as UTF-8; a failure discards the partial list.
pybind11::list catalogue_rows(const std::vector<RudimentInfo>& rows);

}  // namespace kinetra::python
