// What cam.frames() returns: an iterator of frame arrays, a plain CPython
// type so that a `for` loop reaches the next frame through the type's own
// slot, with no method lookup or argument conversion per frame.
#pragma once

#include "Camera.h"

#include <optional>

namespace orvex::python {

// Adds the FrameIterator type to `module`.
void registerFrameIteratorType(pybind11::module_& module);
// A new iterator over the camera's frames: `count` frames or endless,
// each within `timeoutMs` (negative: no limit).
pybind11::object newFrameIterator(std::shared_ptr<Camera> camera, std::optional<long long> count,
                                  long timeoutMs);

} // namespace orvex::python
