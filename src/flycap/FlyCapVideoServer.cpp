// The FlyCapture back end's video server: enumeration, one FlyCapCamera per
// camera, bus arrival and removal, and the stopwatch.
#include <orvex/FlyCapVideoServer.h>

#include "base/CriticalSection.h"
#include "base/HiddenWindow.h"
#include "core/VideoServerRegistry.h"
#include "flycap/DeviceRemoval.h"
#include "flycap/FlyCapCall.h"
#include "flycap/FlyCapDefs.h"
#include "flycap/FlyCapTexts.h"
#include "flycap/SdkContext.h"

#include <orvex/FlyCapCamera.h>
#include <orvex/OrvexError.h>
#include <orvex/companions/WinChrono.h>

#include <log4cplus/loggingmacros.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

using namespace orvex::flycap;
using orvex::ScopedLock;

// What the server keeps. Only the stopwatch is shared with other threads
// (under `_cs`); `_hWnd` is also read by the SDK's thread and by cameras that
// report a removal, hence atomic.
struct FlyCapVideoServer::State {
    orvex::CriticalSection _cs;
    std::unique_ptr<WinChrono> _pChrono = std::make_unique<WinChrono>();
    double _fChrono = 0.0;
    // The server's own context, for the bus callback.
    SdkContext _fcContext;
    bool _bCaptureDeviceNotification = false;
    std::unique_ptr<orvex::HiddenWindow> _pWnd;
    std::atomic<HWND> _hWnd{nullptr};

    // Posts `message` about a camera to the hidden window. Any thread; does
    // nothing while there is no window.
    void post(UINT message, uint32_t serialNumber) const
    {
        if (const HWND wnd = _hWnd.load()) {
            PostMessageA(wnd, message, 0, static_cast<LPARAM>(serialNumber));
        }
    }
};

namespace {

// The text under which the host hears of a camera: "0x" + its identifier.
std::string deviceName(const CamGUID& guid)
{
    return "0x" + guid.to_string();
}

// A name field of an enumeration entry, which the SDK should terminate but
// which must not be read past its end if it does not.
std::string entryText(const char (&field)[FLYCAPTURE_NAME_LENGTH])
{
    return std::string(field, strnlen(field, FLYCAPTURE_NAME_LENGTH));
}

} // namespace

IEEE1394VideoServer& createFlyCapVideoServer(bool captureDeviceNotification)
{
    return orvex::VideoServerRegistry::create<FlyCapVideoServer>(captureDeviceNotification);
}

FlyCapVideoServer& flyCapVideoServer()
{
    return orvex::VideoServerRegistry::typed<FlyCapVideoServer>();
}

// --- construction and destruction --------------------------------------------

FlyCapVideoServer::FlyCapVideoServer(bool capture) : _pState(std::make_unique<State>())
{
    LOG4CPLUS_TRACE(g_OrvexLogger, "FlyCapVideoServer::FlyCapVideoServer " << (capture ? 1 : 0));
    LOG4CPLUS_TRACE(g_OrvexLogger, "FlyCapVideoServer::FlyCapVideoServer critical section initialized");
    FlyCapVideoServer::startChrono();
    LOG4CPLUS_TRACE(g_OrvexLogger, "FlyCapVideoServer::FlyCapVideoServer chrono started");
    // On a failure below, the state's owners close the window and context.
    _pState->_fcContext = SdkContext::create(FLYCAP_SITE(kServerUnit));
    LOG4CPLUS_TRACE(g_OrvexLogger, "FlyCapVideoServer::FlyCapVideoServer context created");
    FlyCapVideoServer::captureDeviceNotification(capture);
    LOG4CPLUS_TRACE(g_OrvexLogger, "FlyCapVideoServer::FlyCapVideoServer done");
}

FlyCapVideoServer::~FlyCapVideoServer()
{
    FlyCapVideoServer::stopChrono();
    FlyCapVideoServer::destroyAllCameras();
    // Closing the context ends the SDK's bus callback (the SDK waits for a
    // call in progress) while everything the callback reads still exists.
    // The window goes with the state: nothing still queued for it reaches
    // this server.
    _pState->_fcContext = SdkContext();
}

// --- cameras -------------------------------------------------------------------

namespace {

// The SDK's entries for the cameras on the buses: one per counted camera,
// never beyond those the SDK filled. A failed enumeration is logged and
// yields none.
std::vector<FlyCaptureInfoEx> enumerateCameras()
{
    unsigned int nbCameras = 0;
    checkSingle(FLYCAP_SITE(kServerUnit), flycaptureBusCameraCount(&nbCameras));
    if (nbCameras == 0) {
        return {};
    }
    unsigned int nbEntries = kEnumerationEntriesPerCamera * nbCameras;
    std::vector<FlyCaptureInfoEx> entries(nbEntries);
    const FlyCaptureError error = flycaptureBusEnumerateCamerasEx(entries.data(), &nbEntries);
    if (error != FLYCAPTURE_OK) {
        LOG4CPLUS_ERROR(g_OrvexLogger, kLogEnumerationFailed << nbCameras << kLogEnumerationFound << nbEntries
                                                             << " ): " << sdkErrorText(error));
        return {};
    }
    entries.resize(std::min(nbCameras, nbEntries));
    return entries;
}

// A camera for an enumeration entry, initialised when asked; null when its
// construction or init fails (the error has reported itself).
std::unique_ptr<IEEE1394Camera> createCamera(unsigned short portIdx, const FlyCaptureInfoEx& entry,
                                             bool initCamera)
{
    std::unique_ptr<FlyCapCamera> camera;
    try {
        camera = std::make_unique<FlyCapCamera>(portIdx, entry.uiSerialNumber, entryText(entry.szModelName),
                                                entryText(entry.szVendorName), entry.iBusNumber);
    } catch (const Error&) {
        return nullptr;
    }
    if (initCamera) {
        try {
            camera->init();
        } catch (const Error&) {
            return nullptr; // deleted here; a removal it may have posted finds nothing to remove
        }
    }
    return camera;
}

} // namespace

void FlyCapVideoServer::reset(bool initCameras)
{
    destroyAllCameras();
    std::vector<IEEE1394Camera*>& cameras = replaceCameraCollection();

    // Owned here until all are made: an error outside the Error family (a
    // fatal window failure) leaves the list empty, like the map.
    std::vector<std::unique_ptr<IEEE1394Camera>> made;
    const std::vector<FlyCaptureInfoEx> entries = enumerateCameras();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (auto camera = createCamera(static_cast<unsigned short>(i), entries[i], initCameras)) {
            made.push_back(std::move(camera));
        }
    }
    cameras.reserve(made.size());
    for (auto& camera : made) {
        cameras.push_back(camera.release());
    }
    updateMapGuidToPort();
}

int FlyCapVideoServer::getNbCameras()
{
    if (!_pCamsColl) {
        ORVEX_THROW(kServerUnit, kErrResetFirst);
    }
    return static_cast<int>(_pCamsColl->size());
}

void FlyCapVideoServer::destroyAllCameras()
{
    IEEE1394VideoServer::destroyAllCameras();
}

unsigned int FlyCapVideoServer::getMaxPacketSz() const
{
    return kMaxPacketSzOnBus;
}

void FlyCapVideoServer::removeCamera(CamGUID& guid)
{
    const auto found = _mapGuidToPort.find(guid);
    if (found == _mapGuidToPort.end() || !_pCamsColl) {
        ORVEX_THROW(kServerUnit, kErrRemoveCamera + notFoundAmongConnectedCameras(guid));
    }
    const auto position = _pCamsColl->begin() + found->second;
    delete *position;
    _pCamsColl->erase(position);
    updateMapGuidToPort();
}

// --- chrono ----------------------------------------------------------------------

void FlyCapVideoServer::startChrono()
{
    ScopedLock lock(_pState->_cs);
    _pState->_pChrono->start();
}

void FlyCapVideoServer::stopChrono()
{
    ScopedLock lock(_pState->_cs);
    _pState->_pChrono->stop();
}

double FlyCapVideoServer::getChrono()
{
    ScopedLock lock(_pState->_cs);
    _pState->_fChrono += _pState->_pChrono->lap();
    return _pState->_fChrono;
}

// --- device-change capture ---------------------------------------------------------

void FlyCapVideoServer::captureDeviceNotification(bool capture)
{
    if (capture == _pState->_bCaptureDeviceNotification) {
        return;
    }
    _pState->_bCaptureDeviceNotification = capture;
    _bCapturingDeviceNotification = capture;
    if (capture) {
        LOG4CPLUS_TRACE(g_OrvexLogger, "FlyCapVideoServer::captureDeviceNotification will create wnd");
        createWnd();
    } else {
        LOG4CPLUS_TRACE(g_OrvexLogger, "FlyCapVideoServer::captureDeviceNotification will destroy wnd");
        destroyWnd();
    }
    LOG4CPLUS_TRACE(g_OrvexLogger, "FlyCapVideoServer::captureDeviceNotification will modify callback");
    checkSingle(
        FLYCAP_SITE(kServerUnit),
        flycaptureModifyCallback(_pState->_fcContext.get(), &FlyCapVideoServer::busCallback, this, capture));
}

void FlyCapVideoServer::createWnd()
{
    auto window = std::make_unique<orvex::HiddenWindow>(kServerWndClass, &FlyCapVideoServer::WindowProc,
                                                        static_cast<void*>(this), kServerUnit);
    _pState->_hWnd.store(window->handle());
    _pState->_pWnd = std::move(window);
}

void FlyCapVideoServer::destroyWnd() noexcept
{
    _pState->_hWnd.store(nullptr);
    _pState->_pWnd.reset(); // detaches the server, destroys the window, unregisters the class
}

void FlyCapVideoServer::busCallback(void* server, int message, unsigned long serialNumber)
{
    auto* self = static_cast<FlyCapVideoServer*>(server);
    if (self == nullptr || self->getCaptureDeviceChangedCB() == nullptr) {
        return;
    }
    UINT windowMessage = 0;
    switch (message) {
    case FLYCAPTURE_MESSAGE_BUS_RESET:
        LOG4CPLUS_TRACE(g_OrvexLogger, "---------bus reset----------------");
        return;
    case FLYCAPTURE_MESSAGE_DEVICE_ARRIVAL:
        LOG4CPLUS_TRACE(g_OrvexLogger, "---------device arrival----------------\r\n");
        windowMessage = kMsgDeviceArrival;
        break;
    case FLYCAPTURE_MESSAGE_DEVICE_REMOVAL:
        LOG4CPLUS_TRACE(g_OrvexLogger, "---------device removal----------------\r\n");
        windowMessage = kMsgDeviceRemoval;
        break;
    default:
        return;
    }
    self->_pState->post(windowMessage, static_cast<uint32_t>(serialNumber));
}

LRESULT CALLBACK FlyCapVideoServer::WindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == kMsgDeviceArrival || msg == kMsgDeviceRemoval) {
        if (FlyCapVideoServer* server = orvex::HiddenWindow::ownerOf<FlyCapVideoServer>(wnd)) {
            const CamGUID guid(static_cast<uint32_t>(lParam), 0);
            // Nothing may unwind through the dispatcher: the host's callback
            // and a failing removal end here, logged.
            try {
                if (msg == kMsgDeviceArrival) {
                    server->onDeviceArrival(guid);
                } else {
                    server->onDeviceRemoval(guid);
                }
            } catch (const std::exception& error) {
                LOG4CPLUS_ERROR(g_OrvexLogger, "FlyCapVideoServer::WindowProc: " << error.what());
            } catch (...) {
                LOG4CPLUS_ERROR(g_OrvexLogger, "FlyCapVideoServer::WindowProc: unknown exception");
            }
        }
    }
    return DefWindowProcA(wnd, msg, wParam, lParam);
}

void FlyCapVideoServer::onDeviceArrival(const CamGUID& guid)
{
    if (CaptureDeviceChangedCB* callback = getCaptureDeviceChangedCB()) {
        callback->onDeviceArrival(deviceName(guid), false);
    }
}

void FlyCapVideoServer::onDeviceRemoval(CamGUID guid)
{
    if (!testCameraConnected(guid)) {
        return;
    }
    removeCamera(guid);
    if (CaptureDeviceChangedCB* callback = getCaptureDeviceChangedCB()) {
        callback->onDeviceRemoval(deviceName(guid), false);
    }
}

// --- removal reports of failing cameras ------------------------------------------

void orvex::flycap::DeviceRemoval::post(uint32_t serialNumber)
{
    if (!isVideoServerAllocated()) {
        return;
    }
    if (auto* server = dynamic_cast<FlyCapVideoServer*>(&videoServer())) {
        server->_pState->post(kMsgDeviceRemoval, serialNumber);
    }
}
