// The video server of one run of the tool: made, listed, pumped, deleted.
#include "Session.h"

#include <orvex/BCAMVideoServer.h>
#include <orvex/FlyCapVideoServer.h>

#include <iostream>
#include <stdexcept>

namespace orvex::cli {
namespace {

// Tells the user when a camera comes or goes during the run.
class DeviceNotice : public CaptureDeviceChangedCB {
public:
    explicit DeviceNotice(const char* what) : _what(what) {}
    void onDeviceArrival(const std::string& deviceName, bool) override
    {
        std::cerr << "orvex: " << _what << " " << deviceName << " arrived\n";
    }
    void onDeviceRemoval(const std::string& deviceName, bool) override
    {
        std::cerr << "orvex: " << _what << " " << deviceName << " was removed\n";
    }

private:
    const char* _what;
};

bool isDecimal(const std::string& text)
{
    return !text.empty() && text.size() <= 5 && text.find_first_not_of("0123456789") == std::string::npos;
}

} // namespace

CaptureDeviceChangedCB* newDeviceNotice(const char* what)
{
    return new DeviceNotice(what);
}

bool initOrReport(IEEE1394Camera& camera, const char* what)
{
    try {
        camera.init();
        return true;
    } catch (const Error& error) {
        std::cerr << "orvex: " << what << " " << camera.getPortIdx()
                  << " cannot be initialised: " << error.what() << "\n";
        return false;
    }
}

Session::Session(Backend backend, bool initCameras) : _backend(backend)
{
    _pServer = backend == Backend::bcam ? &createBCAMVideoServer(true) : &createFlyCapVideoServer(true);
    try {
        _pServer->setCaptureDeviceChangedCB(newDeviceNotice("camera"), true);
        // The servers' own init drops (FlyCapture) or stops at (BCAM) a
        // camera that fails it, without a word: the tool initialises each
        // and keeps the reason.
        _pServer->reset(false);
        pumpMessages();
        for (int position = 0; position < _pServer->getNbCameras(); ++position) {
            IEEE1394Camera& camera = _pServer->getCamera(position);
            if (initCameras) {
                try {
                    camera.init();
                } catch (const Error& error) {
                    _unavailable.push_back({&camera, error.what()});
                    continue;
                }
            }
            _cameras.push_back(&camera);
        }
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

void Session::reportUnavailable(std::ostream& err) const
{
    for (const Unavailable& u : _unavailable)
        err << "orvex: camera " << u.camera->getPortIdx() << " cannot be initialised: " << u.reason << "\n";
}

const char* Session::where() const
{
    return _backend == Backend::bcam ? "the BCAM driver" : "the FlyCapture buses";
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
    for (IEEE1394Camera* camera : _cameras) {
        if (camera->getPortIdx() == port) {
            return camera;
        }
    }
    return nullptr;
}

IEEE1394Camera* Session::findByGuid(const CamGUID& guid)
{
    return _pServer->testCameraConnected(guid) ? &_pServer->getCamera(guid) : nullptr;
}

} // namespace orvex::cli
