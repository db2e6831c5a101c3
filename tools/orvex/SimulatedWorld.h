// What the tool asks of the simulated world when it runs over the simulators:
// the world file's load problem, the acquisition thread's variant, the SDK's
// dropped-image count and the cameras' true clock disagreement. A build
// without the simulators links NoSimulatedWorld.cpp instead, which answers
// "nothing to say" to each, so command code never asks which build it is.
#pragma once

#include <orvex/IEEE1394Camera.h>

#include <cstdint>
#include <optional>
#include <string>

namespace orvex::cli::simulated {

// Why the world file the user named (ORVEX_SIM_WORLD) could not be loaded;
// empty when it loaded or there is none. An empty world would otherwise
// pass for an empty bus.
std::string worldProblem();

// Chooses the acquisition thread's variant, "normal" or "wow64" (copying).
// False when this build cannot choose it: there the variant follows the
// process, and only "normal" is what the process does.
bool chooseVariant(const std::string& variant);

// The images the SDK dropped for a camera, where the SDK tells (the
// simulated one does).
std::optional<uint64_t> sdkDroppedImages(const CamGUID& guid);

// The slave's time stamp minus the master's for one trigger instant, in
// ticks: what their images would carry for an external trigger then.
// Known only where the cameras are simulated.
std::optional<int64_t> disagreementTicks(const CamGUID& master, const CamGUID& slave);

} // namespace orvex::cli::simulated
