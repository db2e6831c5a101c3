// The BCAM back end's video server: one BCAMCamera per device the driver
// offers, device arrival and removal, and the stopwatch.
#include <orvex/BCAMVideoServer.h>

#include "base/CriticalSection.h"
#include "base/HiddenWindow.h"
#include "bcam/BCAMTexts.h"
#include "bcam/client/BcamExtension.h"
#include "core/VideoServerRegistry.h"

#include <orvex/BCAMCamera.h>
#include <orvex/OrvexError.h>
#include <orvex/companions/WinChrono.h>

#include <log4cplus/loggingmacros.h>

#include <exception>
#include <list>
#include <memory>
#include <string>

using namespace orvex::bcam;
using orvex::ScopedLock;

// What the server keeps. Only the stopwatch is shared with other threads
// (acquisition threads date their images), under `_csChrono`.
struct BCAMVideoServer::State {
    orvex::CriticalSection _csChrono;
    std::unique_ptr<WinChrono> _pChrono = std::make_unique<WinChrono>();
    double _fChrono = 0.0;
    // The device-notification window, while reports are captured.
    std::unique_ptr<orvex::HiddenWindow> _pWnd;
};

IEEE1394VideoServer& createBCAMVideoServer(bool captureDeviceNotification)
{
    return orvex::VideoServerRegistry::create<BCAMVideoServer>(captureDeviceNotification);
}

BCAMVideoServer& bCAMVideoServer()
{
    return orvex::VideoServerRegistry::typed<BCAMVideoServer>();
}

// --- construction and destruction --------------------------------------------

BCAMVideoServer::BCAMVideoServer(bool captureDeviceNotification) : _pState(std::make_unique<State>())
{
    BCAMVideoServer::startChrono();
    BCAMVideoServer::captureDeviceNotification(captureDeviceNotification);
}

BCAMVideoServer::~BCAMVideoServer()
{
    BCAMVideoServer::destroyAllCameras();
    if (_bCapturingDeviceNotification) {
        stopCapture();
        _bCapturingDeviceNotification = false;
    }
    BCAMVideoServer::stopChrono();
}

// --- cameras -------------------------------------------------------------------

namespace {

std::list<std::string> deviceNames()
{
    try {
        return Bcam::CBcam::DeviceNames();
    } catch (const Bcam::BcamException& error) {
        ORVEX_THROW(kServerUnit, std::string(kErrReset) + error.what());
    }
}

std::unique_ptr<BCAMCamera> openCamera(const std::string& name)
{
    auto device = std::make_unique<Bcam::CBcamExtension>();
    try {
        device->Open(name);
    } catch (const Bcam::BcamException& error) {
        ORVEX_THROW(kServerUnit, std::string(kErrReset) + error.what());
    }
    // The camera owns the device from its first step: a constructor that
    // fails (its window) has deleted it already.
    return std::make_unique<BCAMCamera>(device.release());
}

} // namespace

void BCAMVideoServer::reset(bool initCameras)
{
    const std::list<std::string> names = deviceNames();
    destroyAllCameras();
    std::vector<IEEE1394Camera*>& cameras = replaceCameraCollection();
    unsigned short portIdx = 0;
    for (const std::string& name : names) {
        std::unique_ptr<BCAMCamera> camera = openCamera(name);
        camera->setPortIdx(portIdx++);
        if (initCameras) {
            camera->init();
        }
        cameras.push_back(camera.release());
    }
    updateMapGuidToPort();
}

int BCAMVideoServer::getNbCameras()
{
    if (!_pCamsColl) {
        ORVEX_THROW(kServerUnit, kErrResetFirst);
    }
    return static_cast<int>(_pCamsColl->size());
}

void BCAMVideoServer::destroyAllCameras()
{
    IEEE1394VideoServer::destroyAllCameras();
}

// --- chrono ----------------------------------------------------------------------

void BCAMVideoServer::startChrono()
{
    ScopedLock lock(_pState->_csChrono);
    _pState->_pChrono->start();
}

void BCAMVideoServer::stopChrono()
{
    ScopedLock lock(_pState->_csChrono);
    _pState->_pChrono->stop();
}

double BCAMVideoServer::getChrono()
{
    ScopedLock lock(_pState->_csChrono);
    _pState->_fChrono += _pState->_pChrono->lap();
    return _pState->_fChrono;
}

// --- device-change reports -----------------------------------------------------------

void BCAMVideoServer::captureDeviceNotification(bool capture)
{
    // Once cameras exist the host follows them through reset; switching
    // reports then changes nothing.
    if (_pCamsColl && !_pCamsColl->empty()) {
        return;
    }
    if (capture && !_bCapturingDeviceNotification) {
        startCapture();
    } else if (!capture && _bCapturingDeviceNotification) {
        stopCapture();
    }
    _bCapturingDeviceNotification = capture;
}

void BCAMVideoServer::startCapture()
{
    auto window = std::make_unique<orvex::HiddenWindow>(kServerWndClass, &BCAMVideoServer::WindowProc,
                                                        static_cast<void*>(this), kServerUnit);
    try {
        Bcam::CBcam::RegisterClient(window->handle());
    } catch (const Bcam::BcamException& error) {
        ORVEX_THROW(kServerUnit,
                    std::string("error calling BCAMVideoServer::captureDeviceNotification: ") + error.what());
    }
    _pState->_pWnd = std::move(window);
}

void BCAMVideoServer::stopCapture() noexcept
{
    if (!_pState->_pWnd) {
        return;
    }
    Bcam::CBcam::UnregisterClient(_pState->_pWnd->handle());
    _pState->_pWnd.reset(); // destroys the window, unregisters the class
}

LRESULT CALLBACK BCAMVideoServer::WindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_DEVICECHANGE && lParam != 0 &&
        (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)) {
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
        BCAMVideoServer* server = orvex::HiddenWindow::ownerOf<BCAMVideoServer>(wnd);
        CaptureDeviceChangedCB* callback = server != nullptr ? server->getCaptureDeviceChangedCB() : nullptr;
        if (callback != nullptr && header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
            const std::string name =
                reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(header)->dbcc_name;
            // The host's exception must not unwind through the system's dispatcher.
            try {
                if (wParam == DBT_DEVICEARRIVAL) {
                    callback->onDeviceArrival(name, false);
                } else {
                    callback->onDeviceRemoval(name, false);
                }
            } catch (const std::exception& error) {
                LOG4CPLUS_ERROR(g_OrvexLogger, "BCAMVideoServer::WindowProc: " << error.what());
            } catch (...) {
                LOG4CPLUS_ERROR(g_OrvexLogger, "BCAMVideoServer::WindowProc: unknown exception");
            }
        }
    }
    return DefWindowProcA(wnd, msg, wParam, lParam);
}
