// The kernel-handle owner lives in the base layer; the FlyCapture back end
// keeps its name for it.
#pragma once

#include "base/OwnedHandle.h"

namespace orvex::flycap {
using orvex::OwnedHandle;
} // namespace orvex::flycap
