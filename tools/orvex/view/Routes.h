// The viewer's HTTP interface: the page's files, the cameras' state as JSON,
// their newest images as PNG, and the actions (settings, start, stop,
// software trigger). Handlers run on the server's threads and reach the
// cameras only through the HostQueue.
#pragma once

#include "view/Access.h"
#include "view/HostQueue.h"
#include "view/Http.h"

namespace orvex::cli {

class ViewCameras;
class ViewSync;

// The handler of every route over `cameras` and `sync` (main-thread state,
// reached only through `queue`), after `access` has let the request in.
HttpHandler makeViewHandler(HostQueue& queue, ViewCameras& cameras, ViewSync& sync, const ViewAccess& access);

} // namespace orvex::cli
