// The synchronisation controller as the viewer runs it: MultiSync over the
// FlyCapture cameras with the master the user names, and what the page shows
// of it: the state (synchronising, synchronised, lost), the failures with
// their message, and, over time, each slave's disagreement with the master
// and the drift the controller estimated. Main thread only: the controller's
// window and timers belong to the thread that dispatches the messages, and
// its callbacks run there; the HTTP threads reach it through the HostQueue.
#pragma once

#include "Session.h"
#include "SyncReadings.h"
#include "view/Cameras.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class MultiSync;

namespace orvex::cli {

class ViewSync {
public:
    // `flycap`: the session of the FlyCapture stack, whose server is the
    // process-wide one the controller looks its cameras up in; null when the
    // viewer runs without that stack (every start is then refused).
    explicit ViewSync(Session* flycap);
    // Stops the controller. Never throws.
    ~ViewSync();
    ViewSync(const ViewSync&) = delete;
    ViewSync& operator=(const ViewSync&) = delete;

    // `master` as the command line names a camera: a port index or a GUID.
    // The plot starts afresh with each start.
    ActionResult start(const std::string& master);
    ActionResult stop();
    // Field mode for the runs to come.
    void setFieldMode(bool field) { _field = field; }
    // Whether a controller can run at all (the FlyCapture stack is there).
    bool available() const { return _flycap != nullptr; }
    // "null" before the first start; the last run's plot stays after a stop.
    std::string stateJson() const;

    // The callbacks' side (main thread, inside the controller's ticks).
    void onUpdate();
    void onFailure(const std::string& message);
    void onSynchronized();
    void onLost();

private:
    enum class Phase { stopped, synchronising, synchronised, lost };
    using Points = std::deque<std::pair<double, double>>; // (seconds, value)
    struct Slave {
        CamGUID guid;
        unsigned short port;
        std::optional<SlaveCorrection> correction;
        std::optional<int64_t> disagreement;
        Points disagreements;
        Points drifts;
    };

    double elapsed() const;
    const char* phaseName() const;
    static void keep(Points& points, double t, double value);

    Session* _flycap;
    bool _field = false;
    Phase _phase = Phase::stopped;
    bool _everStarted = false;
    CamGUID _master;
    unsigned short _masterPort = 0;
    std::size_t _masterBusCameras = 0;
    std::vector<Slave> _slaves;
    std::chrono::steady_clock::time_point _startedAt, _stoppedAt;
    std::optional<double> _synchronisedAfter;
    uint64_t _updates = 0;
    uint64_t _failures = 0;
    std::string _lastFailure;
    // Last, so that it goes first: its callbacks reach the members above.
    std::unique_ptr<MultiSync> _sync;
};

} // namespace orvex::cli
