#include <pybind11/pybind11.h>

#include "bindings.hpp"
#include "procedural_functions.hpp"

namespace py = pybind11;

namespace kinetra::python {

void bind_procedural(py::module_& m) {
    // Bound directly, with an unnamed (positional-only) pip argument.
    for (const ProceduralFunction& procedural : procedural_functions) {
        m.def(procedural.name, procedural.function);
    }
}

}  // namespace kinetra::python
