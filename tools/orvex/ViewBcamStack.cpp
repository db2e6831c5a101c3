#include "ViewBcamStack.h"

#include <orvex/BCAMVideoServer.h>
#include <orvex/orvex.h>

#include <iostream>

namespace orvex::cli {
namespace {

// Tells the user when a BCAM camera comes or goes while the viewer runs.
class BcamDeviceNotice : public CaptureDeviceChangedCB {
public:
    void onDeviceArrival(const std::string& deviceName, bool) override
    {
        std::cerr << "orvex: BCAM camera " << deviceName << " arrived\n";
    }
    void onDeviceRemoval(const std::string& deviceName, bool) override
    {
        std::cerr << "orvex: BCAM camera " << deviceName << " was removed\n";
    }
};

} // namespace

ViewBcamStack::ViewBcamStack() : _server(std::make_unique<BCAMVideoServer>(true))
{
    _server->setCaptureDeviceChangedCB(new BcamDeviceNotice, true);
    _server->reset(false);
    for (int position = 0; position < _server->getNbCameras(); ++position) {
        IEEE1394Camera& camera = _server->getCamera(position);
        try {
            camera.init();
        } catch (const Error& error) {
            std::cerr << "orvex: BCAM camera " << camera.getPortIdx()
                      << " cannot be initialised: " << error.what() << "\n";
            continue;
        }
        _cameras.push_back(&camera);
    }
}

ViewBcamStack::~ViewBcamStack() = default;

} // namespace orvex::cli
