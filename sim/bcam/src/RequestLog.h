// The driver's side of <orvex/sim/BcamRequests.h>.
#pragma once

#include <cstdint>

namespace orvex::sim::bcam {

// Notes one request when recording; nothing otherwise. Any thread.
void noteRequest(uint32_t serialNumber, uint32_t code, uint32_t inBytes, uint32_t outBytes);

} // namespace orvex::sim::bcam
