// The process-wide video server's shared behaviour: the cameras it owns and
// the host's device-change callback.
#include <orvex/IEEE1394VideoServer.h>

#include "core/VideoServerRegistry.h"

#include <orvex/IEEE1394Camera.h>
#include <orvex/OrvexError.h>

namespace {
constexpr const char* kUnit = "IEEE1394VideoServer";
constexpr const char* kNotAllocated = "videoServer not allocated";
constexpr unsigned int kDefaultMaxPacketSz = 4915;
} // namespace

IEEE1394VideoServer* IEEE1394VideoServer::_pVideoServer = nullptr;
bool IEEE1394VideoServer::_bVideoServerCreatedOnce = false;

CaptureDeviceChangedCB::~CaptureDeviceChangedCB() = default;

IEEE1394VideoServer& videoServer()
{
    IEEE1394VideoServer* server = orvex::VideoServerRegistry::find();
    if (server == nullptr) {
        ORVEX_THROW(kUnit, kNotAllocated);
    }
    return *server;
}

bool isVideoServerAllocated()
{
    return orvex::VideoServerRegistry::find() != nullptr;
}

void destroyVideoServer()
{
    if (orvex::VideoServerRegistry::find() == nullptr) {
        ORVEX_THROW(kUnit, kNotAllocated);
    }
    orvex::VideoServerRegistry::destroy();
}

namespace orvex {

void VideoServerRegistry::refuseIfCreated()
{
    if (IEEE1394VideoServer::_bVideoServerCreatedOnce) {
        ORVEX_THROW(kUnit, "video server already created");
    }
}

IEEE1394VideoServer& VideoServerRegistry::install(std::unique_ptr<IEEE1394VideoServer> server)
{
    IEEE1394VideoServer::_pVideoServer = server.release();
    IEEE1394VideoServer::_bVideoServerCreatedOnce = true;
    return *IEEE1394VideoServer::_pVideoServer;
}

IEEE1394VideoServer* VideoServerRegistry::find()
{
    return IEEE1394VideoServer::_pVideoServer;
}

void VideoServerRegistry::destroy()
{
    // Cameras die inside the server's destructor and may still reach it
    // through videoServer(): the pointer is cleared only afterwards.
    delete IEEE1394VideoServer::_pVideoServer;
    IEEE1394VideoServer::_pVideoServer = nullptr;
    IEEE1394VideoServer::_bVideoServerCreatedOnce = false;
}

IEEE1394VideoServer& VideoServerRegistry::current()
{
    if (IEEE1394VideoServer::_pVideoServer == nullptr) {
        ORVEX_THROW(kUnit, "video server not created");
    }
    return *IEEE1394VideoServer::_pVideoServer;
}

} // namespace orvex

IEEE1394VideoServer::IEEE1394VideoServer() = default;

IEEE1394VideoServer::~IEEE1394VideoServer()
{
    CaptureDeviceChangedCB* callback = _pCaptureDeviceChangedCB.exchange(nullptr);
    if (_bOwnCaptureDeviceChangedCB) {
        delete callback;
    }
    _mapGuidToPort.clear();
    _pCamsColl.reset();
}

bool IEEE1394VideoServer::testCameraConnected(const CamGUID& guid)
{
    return _mapGuidToPort.count(guid) != 0;
}

std::string IEEE1394VideoServer::notFoundAmongConnectedCameras(const CamGUID& guid) const
{
    std::string message = guid.to_string() + " not found among connected cameras";
    if (_mapGuidToPort.empty())
        return message + " (no camera connected at all)";
    message += "(connected cameras: ";
    for (const auto& entry : _mapGuidToPort)
        message += entry.first.to_string() + ",";
    return message + ")";
}

IEEE1394Camera& IEEE1394VideoServer::getCamera(const CamGUID& guid)
{
    const auto found = _mapGuidToPort.find(guid);
    if (found == _mapGuidToPort.end()) {
        ORVEX_THROW(kUnit, notFoundAmongConnectedCameras(guid));
    }
    IEEE1394Camera& camera = getCamera(found->second);
    if (camera.getUniqueId() != guid) {
        ORVEX_THROW(kUnit, "guids collection of videoServer badly updated");
    }
    return camera;
}

IEEE1394Camera& IEEE1394VideoServer::getCamera(int portIdx)
{
    if (!_pCamsColl) {
        ORVEX_THROW(kUnit, "you must call refreshCamsList before");
    }
    if (portIdx < 0 || static_cast<std::size_t>(portIdx) >= _pCamsColl->size()) {
        ORVEX_THROW(kUnit, "invalid port idx");
    }
    IEEE1394Camera* camera = (*_pCamsColl)[static_cast<std::size_t>(portIdx)];
    if (camera == nullptr) {
        ORVEX_THROW(kUnit, "camera not created");
    }
    return *camera;
}

void IEEE1394VideoServer::getCamsList(std::set<CamGUID>& guids)
{
    guids.clear();
    for (const auto& entry : _mapGuidToPort) {
        guids.insert(entry.first);
    }
}

void IEEE1394VideoServer::destroyAllCameras()
{
    if (!_pCamsColl || _pCamsColl->empty()) {
        return;
    }
    for (IEEE1394Camera* camera : *_pCamsColl) {
        delete camera;
    }
    std::vector<IEEE1394Camera*>().swap(*_pCamsColl);
    updateMapGuidToPort();
}

unsigned int IEEE1394VideoServer::getMaxPacketSz() const
{
    return kDefaultMaxPacketSz;
}

void IEEE1394VideoServer::setCaptureDeviceChangedCB(CaptureDeviceChangedCB* cb, bool own)
{
    CaptureDeviceChangedCB* previous = _pCaptureDeviceChangedCB.exchange(cb);
    if (previous != cb && _bOwnCaptureDeviceChangedCB) {
        delete previous;
    }
    _bOwnCaptureDeviceChangedCB = own;
}

void IEEE1394VideoServer::updateMapGuidToPort()
{
    _mapGuidToPort.clear();
    if (!_pCamsColl) {
        return;
    }
    for (std::size_t i = 0; i < _pCamsColl->size(); ++i) {
        if (IEEE1394Camera* camera = (*_pCamsColl)[i]) {
            _mapGuidToPort.emplace(camera->getUniqueId(), static_cast<int>(i)); // first position wins
        }
    }
}

std::vector<IEEE1394Camera*>& IEEE1394VideoServer::replaceCameraCollection()
{
    _pCamsColl = std::make_unique<std::vector<IEEE1394Camera*>>();
    return *_pCamsColl;
}
