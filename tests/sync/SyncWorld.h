// Test support for the synchronisation controller over the simulated SDK: a
// world of three buses (the master's bus with a second camera, and one slave
// on each of two other buses), a controller whose ticks the test can post to
// its window, and a callback that records what the controller tells.
#pragma once

#include "flycap/SimulatedBuses.h"

#include <orvex/MultiSync.h>
#include <orvex/iidc/Registers.h>
#include <orvex/iidc/SyncRegisters.h>
#ifndef _WIN32
#include <orvex/win32_testing.h>
#endif

#include <chrono>
#include <list>
#include <memory>
#include <string>
#include <vector>

namespace orvex::test {

// The controller with its timer window opened: the test posts ticks of the
// armed timer and dispatches them through its own message loop.
class TickedMultiSync : public MultiSync {
public:
    using MultiSync::Timer_FastUpdateSyncReg;
    using MultiSync::Timer_SlowUpdateSyncReg;

    HWND window() const { return getWnd(); }
    // One tick of `timer`, dispatched with everything else queued.
    void tick(UINT_PTR timer) const
    {
        PostMessageA(getWnd(), WM_TIMER, timer, 0);
        pumpPending();
    }
    void fastTick() const { tick(Timer_FastUpdateSyncReg); }
    void slowTick() const { tick(Timer_SlowUpdateSyncReg); }
};

// What the controller told, in order: "success", "failure: <message>",
// "synchronized", "lost". The log outlives the callback object, which the
// controller deletes.
struct EventLog {
    std::vector<std::string> events;
    int callbacksDeleted = 0;

    std::size_t count(const std::string& event) const
    {
        std::size_t n = 0;
        for (const std::string& e : events)
            n += e == event ? 1 : 0;
        return n;
    }
};

class RecordingEvtCB : public MultiSyncEvtCB {
public:
    explicit RecordingEvtCB(std::shared_ptr<EventLog> log) : _log(std::move(log)) {}
    ~RecordingEvtCB() override { ++_log->callbacksDeleted; }
    void onUpdateSyncRegistersSuccess() override { _log->events.push_back("success"); }
    void onUpdateSyncRegistersFailure(const std::string& message) override
    {
        _log->events.push_back("failure: " + message);
    }
    void onSynchronized() override { _log->events.push_back("synchronized"); }
    void onSynchronizationLost() override { _log->events.push_back("lost"); }

private:
    std::shared_ptr<EventLog> _log;
};

// Lets `time` pass for the test thread without pumping: on the POSIX layer
// the manual clock (switched on here, off at the fixture's TearDown) moves at
// once; on Windows the time is slept through.
inline void letTimePass(std::chrono::milliseconds time)
{
#ifndef _WIN32
    win32::testing::useManualClock(true);
    win32::testing::advanceClock(time);
#else
    Sleep(static_cast<DWORD>(time.count()));
#endif
}

inline std::vector<std::string> repeated(const std::string& event, std::size_t n)
{
    return std::vector<std::string>(n, event);
}

class SyncWorld : public SimulatedBuses {
protected:
    static constexpr uint32_t kMaster = 7240101;        // bus 0
    static constexpr uint32_t kMasterBusMate = 8120202; // bus 0
    static constexpr uint32_t kSlave1 = 9050303;        // bus 1
    static constexpr uint32_t kSlave2 = 9050404;        // bus 2

    void SetUp() override
    {
        SimulatedBuses::SetUp();
        bus1 = world().addBus();
        bus2 = world().addBus();
        addCamera(bus0, kGras20, kMaster);
        addCamera(bus0, kGras50, kMasterBusMate);
        addCamera(bus1, kFlea2, kSlave1);
        addCamera(bus2, kFlea2, kSlave2);
        // The server hears removals (on the SDK's thread, then on ours).
        createFlyCapVideoServer(true).reset(false);
        sync = std::make_unique<TickedMultiSync>();
        sync->setEvtCB(new RecordingEvtCB(log));
#ifndef _WIN32
        // The controller's own timers come due only when a test lets time
        // pass: a run slowed past the 100 ms fast period would otherwise
        // slip a real tick between the ones the test counts. The simulated
        // clocks keep real time.
        win32::testing::useManualClock(true);
#endif
    }

    void TearDown() override
    {
        sync.reset();
#ifndef _WIN32 // the test switches exist only in the POSIX Win32 layer
        win32::testing::resetSwitches();
#endif
        SimulatedBuses::TearDown();
    }

    static CamGUID guid(uint32_t serialNumber)
    {
        return CamGUID(serialNumber, 0);
    }

    void controlAll()
    {
        sync->setCameras(guid(kMaster), {guid(kMasterBusMate), guid(kSlave1), guid(kSlave2)});
    }

    // Fast ticks until the controller is synchronised (at most `limit`).
    void tickUntilSynchronized(int limit = 200)
    {
        for (int i = 0; i < limit && !sync->isSynchronized(); ++i)
            sync->fastTick();
    }

    // The two quadlets of a camera's sync block.
    std::pair<uint32_t, uint32_t> syncBlock(uint32_t serialNumber)
    {
        uint32_t q[2] = {0, 0};
        world().camera(serialNumber)->readBlock(iidc::kSync, q, 2);
        return {q[0], q[1]};
    }

    std::shared_ptr<EventLog> log = std::make_shared<EventLog>();
    std::unique_ptr<TickedMultiSync> sync;
    int bus1 = -1;
    int bus2 = -1;
};

} // namespace orvex::test
