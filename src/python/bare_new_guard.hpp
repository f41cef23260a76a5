#pragma once

#include <pybind11/pybind11.h>

namespace kinetra::python {

// Gives a bound class an allocation slot of its own, which forwards to the binding library's
// and turns any C++ exception into a Python one. The class keeps no __new__ of its own, so
// cls.__new__ is the instance base's. CPython then refuses cls.__new__(cls),
// base.__new__(cls) and object.__new__(cls) as "not safe", because the slot such a call
// would use is not the class's: no instance comes into being without its constructor having
// built the C++ value. Normal construction, construction of Python subclasses (which inherit
// the slot) and instances made as results keep working.
//
// The first call also makes the binding library's instance base refuse to be instantiated
// itself with a TypeError (its slot would otherwise throw a C++ exception through CPython and
// abort the interpreter); that is also what pickling with protocols 0 and 1 reaches.
void guard_allocation(pybind11::handle cls);

}  // namespace kinetra::python
