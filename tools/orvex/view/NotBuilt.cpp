// The viewer in a build that cannot serve it (no libpng, or Windows): the
// command is refused with the reason.
#include "view/Viewer.h"

#include <iostream>

namespace orvex::cli {

int serveView(const ViewOptions&)
{
    std::cerr << "orvex: this build cannot serve the viewer (built without libpng, or for Windows)\n";
    return 1;
}

} // namespace orvex::cli
