// The process-wide owner of the cameras of one vendor stack, and the host's
// device-change callback.
//
// Threads. Everything here is host-thread business and unlocked: reset,
// destroyAllCameras, the factories and destroyVideoServer() must not run
// while other threads look cameras up. The chrono operations are the
// exception: acquisition threads call them, and back ends lock them.
#pragma once

#include <orvex/Export.h>
#include <orvex/companions/CamGUID.h>

#include <atomic>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

class IEEE1394Camera;
class IEEE1394VideoServer;
namespace orvex {
class VideoServerRegistry;
}

// The host's device-change callback. Called on the thread that created the
// server, while it dispatches window messages. `deviceName` names the
// camera as its back end knows it; both back ends pass false as flag.
class ORVEX_API CaptureDeviceChangedCB {
public:
    CaptureDeviceChangedCB() = default;
    CaptureDeviceChangedCB(const CaptureDeviceChangedCB&) = default;
    CaptureDeviceChangedCB& operator=(const CaptureDeviceChangedCB&) = default;
    virtual ~CaptureDeviceChangedCB();

    virtual void onDeviceArrival(const std::string& deviceName, bool flag) = 0;
    virtual void onDeviceRemoval(const std::string& deviceName, bool flag) = 0;
};

// The current server; throws "videoServer not allocated" when none exists.
ORVEX_API IEEE1394VideoServer& videoServer();
ORVEX_API bool isVideoServerAllocated();
// Deletes the current server (which deletes its cameras); a factory may then
// create a server again. Throws "videoServer not allocated" when none exists.
ORVEX_API void destroyVideoServer();

class ORVEX_API IEEE1394VideoServer {
public:
    IEEE1394VideoServer(const IEEE1394VideoServer&) = delete;
    IEEE1394VideoServer& operator=(const IEEE1394VideoServer&) = delete;

    // Deletes the callback when owned and frees the camera collection. It
    // does not delete cameras: back ends call destroyAllCameras() first.
    virtual ~IEEE1394VideoServer();

    virtual void captureDeviceNotification(bool capture) = 0;
    // Enumerates the stack's cameras anew: port indexes 0, 1, 2... in
    // enumeration order; with `initCameras`, initialises each.
    virtual void reset(bool initCameras) = 0;
    virtual int getNbCameras() = 0;

    // Lookups. A failing lookup leaves the server unchanged.
    virtual bool testCameraConnected(const CamGUID& guid);
    virtual IEEE1394Camera& getCamera(const CamGUID& guid);
    // By position in the camera collection (the port index unless a back end
    // removed a camera).
    virtual IEEE1394Camera& getCamera(int portIdx);
    // Replaces the contents of `guids` with every connected identifier.
    virtual void getCamsList(std::set<CamGUID>& guids);

    // The stopwatch whose running total (milliseconds) dates every image.
    virtual void startChrono() = 0;
    virtual void stopChrono() = 0;
    virtual double getChrono() = 0;

    // Deletes every camera and empties the collection and the map. Back ends
    // override it with a call to this shared implementation (plus their own
    // needs).
    virtual void destroyAllCameras() = 0;
    // The bus budget in bytes per packet.
    virtual unsigned int getMaxPacketSz() const;

    // With `own`, the server deletes the callback when it is replaced and at
    // destruction. Replacing a callback by itself keeps it.
    void setCaptureDeviceChangedCB(CaptureDeviceChangedCB* cb, bool own);
    bool isCapturingDeviceNotification() const { return _bCapturingDeviceNotification; }

protected:
    IEEE1394VideoServer();

    // Rebuilds the identifier map from the collection; an identifier seen
    // twice keeps its lowest position; null slots are skipped.
    virtual void updateMapGuidToPort();

    // Replaces the camera collection by a new, empty one (the cameras in the
    // old one must have been deleted) and returns it.
    std::vector<IEEE1394Camera*>& replaceCameraCollection();
    // "<guid> not found among connected cameras", followed by the connected
    // identifiers in ascending order or by " (no camera connected at all)".
    // Host thread.
    std::string notFoundAmongConnectedCameras(const CamGUID& guid) const;
    // Any thread: a vendor's notification thread may look whether a callback
    // is registered while the host registers one.
    CaptureDeviceChangedCB* getCaptureDeviceChangedCB() const { return _pCaptureDeviceChangedCB.load(); }

    // Cameras in port order; null until the first reset. Slots may be null.
    std::unique_ptr<std::vector<IEEE1394Camera*>> _pCamsColl;
    std::map<CamGUID, int> _mapGuidToPort;
    std::atomic<CaptureDeviceChangedCB*> _pCaptureDeviceChangedCB{nullptr};
    bool _bOwnCaptureDeviceChangedCB = true;
    bool _bCapturingDeviceNotification = false;

private:
    friend class orvex::VideoServerRegistry;

    static IEEE1394VideoServer* _pVideoServer;
    static bool _bVideoServerCreatedOnce;
};
