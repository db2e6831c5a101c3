// The fate of every image of one acquisition run of one camera (start to
// stop, or to the camera's removal): what the acquisition thread announced on
// "Orvex.stream" (one line per image it took from the SDK), what the images
// buffer reported dropping on "Orvex.lostStream", what the host read.
//
// An announced image that the host never read and the buffer never dropped
// was discarded by the stop (it came after the host's last look) or its
// notification was lost (a later image reached the host).
//
// Threads: announced() and dropped() on the acquisition thread (from the log
// appenders), seen() and close() on the host's; one mutex guards all.
#pragma once

#include <cstdint>
#include <mutex>
#include <unordered_set>
#include <vector>

namespace orvex::soak {

struct RunOutcome {
    uint64_t announced = 0;         // images the thread took from the SDK
    uint64_t seen = 0;              // read by the host
    uint64_t droppedUnseen = 0;     // dropped by the images buffer before the host read them
    uint64_t discardedAtStop = 0;   // after the host's last look
    uint64_t lostNotifications = 0; // neither read nor dropped, yet a later image was read
    uint64_t unannounced = 0;       // read by the host, never announced: the counting is wrong
    uint64_t skippedBySdk = 0;      // frame-counter gaps between announced images
};

class RunLedger {
public:
    void announced(uint32_t idx);
    void dropped(uint32_t idx);
    // Host thread, in the order the host reads them (each index once).
    void seen(uint32_t idx);
    RunOutcome close() const;

private:
    mutable std::mutex _mutex;
    std::vector<uint32_t> _announced; // in announcement order
    std::unordered_set<uint32_t> _dropped;
    std::unordered_set<uint32_t> _seen;
    bool _anySeen = false;
    uint32_t _lastSeen = 0;
};

} // namespace orvex::soak
