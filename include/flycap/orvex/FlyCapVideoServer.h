// The process-wide video server of the FlyCapture back end: enumerates the
// cameras on the 1394 buses, creates one FlyCapCamera per camera, follows
// camera arrival and removal, deletes cameras whose SDK calls fail for good,
// and keeps the stopwatch that dates every image.
//
// Threads. The server belongs to the host thread that creates it: reset,
// getNbCameras, captureDeviceNotification and destruction run there, without
// a lock. With capture on, the SDK calls busCallback on a thread of its own;
// it only posts 0x8001 (arrival) or 0x8002 (removal) to the server's hidden
// window. Cameras whose SDK calls fail for good post 0x8002 as well. The
// window belongs to the thread that switched capture on, so camera removal
// and the host's CaptureDeviceChangedCB run on that thread while it
// dispatches window messages. Only the stopwatch is shared with acquisition
// threads; the chrono operations hold `_cs`.
#pragma once

#include <orvex/Export.h>
#include <orvex/IEEE1394VideoServer.h>
#include <orvex/companions/CamGUID.h>
#include <orvex/win32.h>

#include <memory>

class FlyCapVideoServer;
namespace orvex::flycap {
class DeviceRemoval;
} // namespace orvex::flycap

// Creates the process-wide FlyCapture server; `captureDeviceNotification`
// switches arrival and removal capture on at once. Throws "video server
// already created" while a server exists. Host thread.
ORVEX_API IEEE1394VideoServer& createFlyCapVideoServer(bool captureDeviceNotification);
// The process-wide server as a FlyCapVideoServer; throws "video server not
// created" without one, std::bad_cast when it belongs to another back end.
ORVEX_API FlyCapVideoServer& flyCapVideoServer();

class ORVEX_API FlyCapVideoServer : public IEEE1394VideoServer {
public:
    // Starts the stopwatch, opens the server's SDK context and, when asked,
    // switches device-change capture on (the calling thread then owns the
    // hidden window). Does not enumerate: call reset. Host thread.
    explicit FlyCapVideoServer(bool captureDeviceNotification);
    // Deletes every camera, destroys the hidden window (messages still
    // queued for it reach nobody) and closes the context, which takes the
    // SDK's bus callback with it. Never throws. Host thread that owns the
    // window.
    ~FlyCapVideoServer() override;

    // Switches arrival and removal capture on (creates the hidden window on
    // the calling thread and registers the SDK bus callback) or off;
    // isCapturingDeviceNotification() reports the state, which is recorded
    // before the SDK is asked: when the SDK refuses, the error is thrown and
    // the state stays as asked. Host thread; the thread that switches it on
    // must dispatch window messages.
    void captureDeviceNotification(bool capture) override;
    // Deletes every camera, enumerates the buses, creates one camera per
    // entry with port indexes 0, 1, 2... and, with `initCameras`,
    // initialises each. Cameras whose construction or init fails are left
    // out; the others keep their port index. Host thread.
    void reset(bool initCameras) override;
    // Cameras in the list; "you must call reset before" before the first reset.
    int getNbCameras() override;

    // The stopwatch; any thread, each holds `_cs`.
    void startChrono() override;
    void stopChrono() override;
    double getChrono() override;

    void destroyAllCameras() override;
    // The bus budget in bytes per packet that acquiring cameras share.
    unsigned int getMaxPacketSz() const override;

protected:
    // Deletes the camera `guid` and takes it out of the list. Throws when it
    // is not connected. Window-owning thread.
    void removeCamera(CamGUID& guid);
    void createWnd();
    void destroyWnd() noexcept;

    // SDK thread: posts arrival and removal to the hidden window.
    static void busCallback(void* server, int message, unsigned long serialNumber);
    // Window-owning thread: removes cameras and calls the host's callback.
    static LRESULT CALLBACK WindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);

private:
    // Reaches the window of the process-wide server from any thread.
    friend class orvex::flycap::DeviceRemoval;
    // Everything the server keeps, behind the wall (FlyCapVideoServer.cpp).
    struct State;

    void onDeviceArrival(const CamGUID& guid);
    void onDeviceRemoval(CamGUID guid);

    std::unique_ptr<State> _pState;
};
