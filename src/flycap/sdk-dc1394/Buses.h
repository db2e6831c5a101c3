// What the SDK over libdc1394 knows of the buses: one libdc1394 session for
// the process, the FlyCapture cameras on the buses (numbered by bus and
// node), and the bus callbacks with the thread that calls them.
//
// Bus numbers: libdc1394 does not say which card a camera hangs on, but
// every camera reads its card's cycle timer and carries its bus's reset
// generation, so cameras whose cycle timers agree (seen from the same host
// clock) and whose generations are the same share a bus. A bus keeps its
// number for as long as one of its cameras stays plugged in.
//
// Arrivals and removals: libdc1394 has no bus reset notification, so a
// thread of ours lists the cameras every kWatchPeriod while a bus callback
// is registered; every change is told as a bus reset of the camera's bus
// followed by its arrival or removal.
//
// Threads: any. One mutex guards the camera list; callbacks run on the
// watching thread, never under that mutex.
#pragma once

#include "PGRFlyCapture.h"

#include <dc1394/dc1394.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvex::flycap::dc1394sdk {

struct CameraDeleter {
    void operator()(dc1394camera_t* camera) const { dc1394_camera_free(camera); }
};
using CameraHandle = std::unique_ptr<dc1394camera_t, CameraDeleter>;

// One FlyCapture camera on the buses.
struct CameraEntry {
    uint64_t guid = 0;
    uint16_t unit = 0;
    uint32_t serialNumber = 0; // the GUID's low 32 bits
    std::string vendor;
    std::string model;
    int bus = -1;
    int node = -1;
    int maxSpeed = 400;
    uint64_t arrival = 0; // which plugging of this camera: a re-plug is a new camera
};

// What tells buses apart: every node of a bus reads its card's cycle timer
// and carries the bus's reset generation.
struct BusClock {
    int64_t phaseNs;
    uint32_t generation;
};

class Buses {
public:
    static Buses& instance();
    ~Buses();
    Buses(const Buses&) = delete;
    Buses& operator=(const Buses&) = delete;

    // False when libdc1394 cannot start: it refuses to while the machine
    // has no /dev/fw* node at all, so every call tries again.
    bool available();
    // Lists the buses again and reports the changes; the cameras in bus
    // index order.
    std::vector<CameraEntry> refresh();
    // The last list, without asking the buses.
    std::vector<CameraEntry> cameras() const;
    // The camera at this plugging is still on the bus (as last listed).
    bool present(uint64_t guid, uint64_t arrival) const;
    // A new handle on a listed camera; null when it cannot be opened.
    CameraHandle open(const CameraEntry& entry);

    void addCallback(FlyCaptureContext context, FlyCaptureCallback callback, void* param);
    bool removeCallback(FlyCaptureContext context, FlyCaptureCallback callback, void* param);
    void removeCallbacks(FlyCaptureContext context);
    // Ends the watching thread for good; bus callbacks are called no more.
    void stopWatching();

private:
    Buses();
    struct Callback {
        FlyCaptureContext context;
        FlyCaptureCallback function;
        void* param;
        bool operator==(const Callback& o) const
        {
            return context == o.context && function == o.function && param == o.param;
        }
    };
    struct Message {
        int message;
        unsigned long param;
    };
    std::vector<CameraEntry> listCameras();
    void assignBuses(std::vector<CameraEntry>& cameras, const std::vector<BusClock>& clocks);
    std::vector<Message> diffLocked(std::vector<CameraEntry>& fresh);
    void deliverLocked(std::unique_lock<std::mutex>& lock);
    void watch();
    void waitForDeliveryLocked(std::unique_lock<std::mutex>& lock);

    dc1394_t* sessionLocked();

    std::mutex _listing;          // one listing at a time: libdc1394's session is not thread-safe
    dc1394_t* _session = nullptr; // under _listing
    bool _sessionSawCameras = false;
    mutable std::mutex _m;
    std::condition_variable _cv;
    std::vector<CameraEntry> _cameras;
    std::map<uint64_t, int> _busOfGuid;
    uint64_t _nextArrival = 1;
    bool _listed = false;
    std::vector<Callback> _callbacks;
    std::deque<Message> _pending;
    bool _delivering = false;
    bool _stopping = false;
    std::thread _watcher;
    std::thread::id _watcherId;
};

} // namespace orvex::flycap::dc1394sdk
