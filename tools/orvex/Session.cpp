#include "Session.h"

#include <orvex/FlyCapVideoServer.h>

#include <iostream>
#include <stdexcept>

namespace orvex::cli {
namespace {

// Tells the user when a camera leaves during the run.
class RemovalNotice : public CaptureDeviceChangedCB {
public:
    void onDeviceArrival(const std::string& deviceName, bool) override
    {
        std::cerr << "orvex: camera " << deviceName << " arrived\n";
    }
    void onDeviceRemoval(const std::string& deviceName, bool) override
    {
        std::cerr << "orvex: camera " << deviceName << " was removed\n";
    }
};

bool isDecimal(const std::string& text)
{
    return !text.empty() && text.size() <= 5 && text.find_first_not_of("0123456789") == std::string::npos;
}

} // namespace

Session::Session(bool initCameras)
{
    _pServer = &createFlyCapVideoServer(true);
    try {
        _pServer->setCaptureDeviceChangedCB(new RemovalNotice, true);
        _pServer->reset(initCameras);
        pumpMessages();
    } catch (...) {
        destroyVideoServer();
        throw;
    }
}

Session::~Session()
{
    try {
        pumpMessages();
        destroyVideoServer();
    } catch (const std::exception& error) {
        std::cerr << "orvex: " << error.what() << "\n";
    }
}

void Session::pumpMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageA(&msg);
    }
}

IEEE1394Camera* Session::findCamera(const std::string& name)
{
    if (isDecimal(name)) {
        return findByPort(std::stoul(name));
    }
    CamGUID guid;
    try {
        guid.from_string(name);
    } catch (const std::invalid_argument&) {
        return nullptr;
    }
    return findByGuid(guid);
}

IEEE1394Camera* Session::findByPort(unsigned long port)
{
    // A camera keeps the port it was enumerated at, even when a camera before
    // it was left out: look at the ports, not the list positions.
    for (int position = 0; position < _pServer->getNbCameras(); ++position) {
        IEEE1394Camera& camera = _pServer->getCamera(position);
        if (camera.getPortIdx() == port) {
            return &camera;
        }
    }
    return nullptr;
}

IEEE1394Camera* Session::findByGuid(const CamGUID& guid)
{
    return _pServer->testCameraConnected(guid) ? &_pServer->getCamera(guid) : nullptr;
}

} // namespace orvex::cli
