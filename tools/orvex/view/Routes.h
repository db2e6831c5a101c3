// The viewer's HTTP interface: the page's files, the cameras' state as JSON,
// their newest images (PNG, or JPEG for the live preview), and the actions (settings, start, stop,
// software trigger). Handlers run on the server's threads and reach the
// cameras only through the HostQueue.
#pragma once

#include "view/Access.h"
#include "view/HostQueue.h"
#include "view/Http.h"

namespace orvex::cli {

class ViewCameras;
class ViewSync;

struct ViewHandlers {
    HttpHandler handler;
    // A watched camera's preview, from what the main thread copied and
    // encoded.
    QuickHandler quick;
};

// The handlers of every route over `cameras` and `sync` (main-thread state,
// reached only through `queue`, but for the cameras' preview slots), after
// `access` has let the request in. Live previews are JPEG at `jpegQuality`
// (1 to 100) where the build has it. Main thread, before the server starts:
// it gives the cameras their live encoder.
ViewHandlers makeViewHandlers(HostQueue& queue, ViewCameras& cameras, ViewSync& sync,
                              const ViewAccess& access, int jpegQuality);

} // namespace orvex::cli
