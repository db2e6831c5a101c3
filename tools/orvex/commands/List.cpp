// `orvex list`: one line per camera, in port order, for one stack or both.
#include "commands/List.h"

#include "Reports.h"
#include "Session.h"

#include <algorithm>
#include <iostream>

namespace orvex::cli::commands::list {

const char* const kSummary = "  list           list the connected cameras: port, GUID, model, vendor, bus,\n"
                             "                 firmware version and user memory size\n";

namespace {

int listStack(Backend backend)
{
    Session session(backend, true);
    printCameraList(session, std::cout, std::cerr);
    // Listed all the same: a camera that cannot be initialised is a camera failure.
    return session.unavailable().empty() ? 0 : kExitFailure;
}

} // namespace

Options parse(const CommandLineValues& line)
{
    if (line.camera)
        throw UsageError("list takes no camera");
    if (!line.settings.empty())
        throw UsageError("list takes no camera settings");
    return Options{line.common};
}

int run(const Options& options)
{
    if (const int refused = checkStack(options.common, StackUse{true, false}))
        return refused;
    if (options.common.backend == "all") {
        // One server at a time: each stack's session ends before the next begins.
        const int flycap = listStack(Backend::flycap);
        const int bcam = listStack(Backend::bcam);
        return std::max(flycap, bcam);
    }
    return listStack(backendOf(options.common));
}

} // namespace orvex::cli::commands::list
