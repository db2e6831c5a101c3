// The process-wide video server of the BCAM back end: opens one BCAMCamera
// per device the BCAM driver offers, keeps the stopwatch that dates every
// image and, on request, reports device arrival and removal to the host.
//
// Threads. The server belongs to the host thread that creates it: reset,
// getNbCameras, captureDeviceNotification and destruction run there,
// without a lock. Arrival and removal reach the server's hidden window as
// WM_DEVICECHANGE, so the host's CaptureDeviceChangedCB runs on that thread
// while it dispatches window messages; the server does not re-enumerate by
// itself: the host calls reset. Only the stopwatch is shared with
// acquisition threads; the chrono operations hold the server's lock.
#pragma once

#include <orvex/Export.h>
#include <orvex/IEEE1394VideoServer.h>
#include <orvex/win32.h>

#include <memory>

class BCAMVideoServer;

// Creates the process-wide BCAM server; `captureDeviceNotification`
// switches arrival and removal reports on at once. Throws "video server
// already created" while a server exists. Host thread.
ORVEX_API IEEE1394VideoServer& createBCAMVideoServer(bool captureDeviceNotification);
// The process-wide server as a BCAMVideoServer; throws "video server not
// created" without one, std::bad_cast when it belongs to another back end.
ORVEX_API BCAMVideoServer& bCAMVideoServer();

class ORVEX_API BCAMVideoServer : public IEEE1394VideoServer {
public:
    // Starts the stopwatch and, when asked, switches device-change reports
    // on (the calling thread then owns the hidden window). Does not
    // enumerate: call reset. Host thread.
    explicit BCAMVideoServer(bool captureDeviceNotification);
    // Deletes every camera, stops the reports and the stopwatch. Never
    // throws. Host thread that owns the window.
    ~BCAMVideoServer() override;

    // Acts only while the server has no camera (before the first reset, or
    // after one that found none); with cameras the call changes nothing.
    void captureDeviceNotification(bool capture) override;
    // Deletes every camera, then opens one per BCAM device with port indexes
    // 0, 1, 2... in the driver's order and, with `initCameras`, initialises
    // each. A failure keeps the cameras made so far and is thrown; the
    // identifier map then waits for the next successful reset. Host thread.
    void reset(bool initCameras) override;
    // "you must call reset before" before the first reset.
    int getNbCameras() override;

    // The stopwatch (milliseconds); any thread, each holds the server's lock.
    void startChrono() override;
    void stopChrono() override;
    double getChrono() override;

    void destroyAllCameras() override;

protected:
    // Window-owning thread: WM_DEVICECHANGE about a BCAM device interface
    // goes to the host's callback.
    static LRESULT CALLBACK WindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);

private:
    // Everything the server keeps, behind the wall (BCAMVideoServer.cpp).
    struct State;

    void startCapture();
    void stopCapture() noexcept;

    std::unique_ptr<State> _pState;
};
