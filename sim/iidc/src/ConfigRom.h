// The camera's configuration ROM (IEEE 1212): bus information block, root
// directory, IIDC unit directory and unit dependent directory, vendor and
// model name leaves. Private to the camera model.
#pragma once

#include <orvex/sim/CameraConfig.h>

#include <cstdint>
#include <vector>

namespace orvex::sim {

// The ROM's quadlets from 0xF0000400, each directory and leaf with its CRC.
std::vector<uint32_t> buildConfigRom(const CameraConfig& config);

} // namespace orvex::sim
