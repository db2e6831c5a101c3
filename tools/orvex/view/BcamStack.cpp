// The BCAM server and cameras beside the FlyCapture stack (`view --backend all`).
#include "view/BcamStack.h"

#include <orvex/BCAMVideoServer.h>
#include <orvex/orvex.h>

#include "Session.h"

namespace orvex::cli {

ViewBcamStack::ViewBcamStack() : _server(std::make_unique<BCAMVideoServer>(true))
{
    _server->setCaptureDeviceChangedCB(newDeviceNotice("BCAM camera"), true);
    _server->reset(false);
    for (int position = 0; position < _server->getNbCameras(); ++position) {
        IEEE1394Camera& camera = _server->getCamera(position);
        if (initOrReport(camera, "BCAM camera"))
            _cameras.push_back(&camera);
    }
}

ViewBcamStack::~ViewBcamStack() = default;

} // namespace orvex::cli
