#pragma once

#include <pybind11/pybind11.h>

namespace kinetra::python {

// Makes an explicit cls.__new__(cls) raise TypeError. The binding library would otherwise
// hand out an instance whose C++ object was never constructed, and reading it touches
// uninitialised memory. Instances still come into being through the constructor and as
// results, which do not go through the class's __new__ attribute.
void refuse_bare_new(pybind11::handle cls, const char* message);

}  // namespace kinetra::python
