// The simulated world's hooks in a build without the simulators: real
// cameras have no world file, no choosable variant and no true clock to
// compare with.
#include "SimulatedWorld.h"

namespace orvex::cli::simulated {

std::string worldProblem()
{
    return {};
}

bool chooseVariant(const std::string& variant)
{
    return variant == "normal";
}

std::optional<uint64_t> sdkDroppedImages(const CamGUID&)
{
    return std::nullopt;
}

std::optional<int64_t> disagreementTicks(const CamGUID&, const CamGUID&)
{
    return std::nullopt;
}

} // namespace orvex::cli::simulated
