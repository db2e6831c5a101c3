// A camera's register space and user memory as bytes.
#pragma once

#include "Camera.h"

namespace orvex::python {

void bindRawAccess(pybind11::class_<Camera, std::shared_ptr<Camera>>& cls);

} // namespace orvex::python
