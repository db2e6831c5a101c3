// MultiSync with Python callables as its host callbacks, and the simulated
// world's controls.
#pragma once

#include <pybind11/pybind11.h>

namespace orvex::python {

void bindSync(pybind11::module_& module);
// Adds the `sim` submodule (a module without controls where the library
// runs over real stacks).
void bindSimulator(pybind11::module_& module);

} // namespace orvex::python
