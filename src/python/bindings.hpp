#pragma once

#include <pybind11/pybind11.h>

namespace kinetra::python {

// One registration function per area, called by the module body in registration order.
void bind_recording(pybind11::module_& m);
void bind_offset3(pybind11::module_& m);
void bind_user_patterns(pybind11::module_& m);
void bind_lookup(pybind11::module_& m);
void bind_procedural(pybind11::module_& m);

}  // namespace kinetra::python
