// The checks every command makes of --backend and the simulated world.
#include "CommonOptions.h"

#include "SimulatedWorld.h"

#include <iostream>

namespace orvex::cli {

int checkStack(const CommonOptions& common, StackUse use)
{
    const bool all = common.backend == "all";
    if (common.backend != "flycap" && common.backend != "bcam" && !all) {
        std::cerr << "orvex: unknown back end '" << common.backend << "' (expected flycap, bcam or all)\n";
        return kExitUsage;
    }
    if (all && !use.allowsAll) {
        std::cerr << "orvex: --backend all lists cameras only, or views them; name one stack for a camera\n";
        return kExitUsage;
    }
    if (common.backend == "bcam" && use.needsFlyCapture) {
        std::cerr << "orvex: sync needs the FlyCapture stack\n";
        return kExitUsage;
    }
    if (const std::string problem = simulated::worldProblem(); !problem.empty()) {
        std::cerr << "orvex: " << problem << "\n";
        return kExitFailure;
    }
    return 0;
}

Backend backendOf(const CommonOptions& common)
{
    return common.backend == "bcam" ? Backend::bcam : Backend::flycap;
}

} // namespace orvex::cli
