// The synchronisation controller over the simulated SDK, with its ticks
// dispatched by a real message loop on the test thread: the events of a run
// from start to synchronised, failed and stalled register access, the
// staleness rule, stop, the camera set and the callback object.
#include "sync/SyncWorld.h"

#include "support/LogCapture.h"

#include <orvex/sim/Faults.h>

#include <stdexcept>

using namespace orvex::test;
namespace iidc = orvex::iidc;
using orvex::sim::FaultTable;

namespace {

// The simulated SDK's text for an error code, from the library the back end
// loaded.
std::string sdkText(FlyCaptureError error)
{
    const auto toString = sdkProbe<decltype(&flycaptureErrorToString)>("flycaptureErrorToString");
    return toString != nullptr ? toString(error) : std::string();
}

constexpr const char* kSlaveReadFailure = "failure: flycaptureGetCameraRegister(slaveCamCntxt, "
                                          "FC_REG_CSR_CYCLE_TIME, &regVal): ";
constexpr const char* kWriteFailure = "flycaptureWriteRegisterBlock(camCntxt, 0xFFFF, FC_REG_SYNC, "
                                      "pgrSyncRegValue, 2): ";

// A CYCLE_TIME read (of any camera, or of one) failing after `skip` others.
FaultTable::Fault cycleTimeReadFault(unsigned skip, FlyCaptureError error, uint32_t serialNumber = 0)
{
    FaultTable::Fault fault;
    fault.function = "flycaptureGetCameraRegister";
    fault.serialNumber = serialNumber;
    fault.address = iidc::kCycleTime;
    fault.skip = skip;
    fault.errorCode = error;
    return fault;
}

// Ten seconds, and one millisecond, in FILETIME units.
constexpr LONGLONG kTenSeconds = 100000000LL;
constexpr LONGLONG kOneMillisecond = 10000LL;

} // namespace

using MultiSyncRun = SyncWorld;

TEST_F(MultiSyncRun, TicksFromStartToSynchronisedThenSlow)
{
    controlAll();
    sync->start();
    EXPECT_TRUE(sync->isStarted());
    EXPECT_EQ(repeated("success", 1), log->events) << "start writes the master's bus";
    EXPECT_EQ(std::make_pair(0u, 0u), syncBlock(kMasterBusMate));

    tickUntilSynchronized();
    ASSERT_TRUE(sync->isSynchronized());
    // 49 measuring ticks, then the 50th writes both slaves: one success
    // each, then the switch to the slow timer.
    std::vector<std::string> expected = repeated("success", 51);
    expected.push_back("synchronized");
    EXPECT_EQ(expected, log->events);
    EXPECT_FALSE(sync->lastSyncRegUpdateFailed());
    for (uint32_t slave : {kSlave1, kSlave2}) {
        EXPECT_NE(std::make_pair(0u, 0u), syncBlock(slave)) << slave << " is corrected";
    }

    // A fast tick queued before the switch is stale: no second onSynchronized.
    sync->fastTick();
    EXPECT_EQ(expected, log->events);
    sync->slowTick();
    expected.push_back("success");
    EXPECT_EQ(expected, log->events);
    EXPECT_TRUE(sync->isSynchronized());
}

// Both clocks held at chosen readings before each of the 50 measuring ticks,
// so that the offsets lie on an exact line: the slave is given the offset at
// its last whole second and the drift in ticks per second beside that second.
TEST_F(MultiSyncRun, ASlaveIsGivenTheOffsetAtItsLastWholeSecondAndTheDriftPerSecond)
{
    // A reading of `ticks` since the wrap: seconds, cycles of 3072 ticks, ticks.
    const auto cycleTime = [](int64_t ticks) {
        return static_cast<uint32_t>((ticks / 24576000) << 25 | (ticks % 24576000 / 3072) << 12 |
                                     ticks % 3072);
    };
    const struct {
        int64_t lastSlave, step, lastOffset, offsetPerStep;
        uint32_t quadlet0, quadlet1;
    } lines[] = {
        // One tick more every 0.04 s: 25 ticks a second; the last reading at 4 s sharp.
        {98304000, 983040, 24576001, 1, 0x02000001, 6404},
        // One tick less every 0.5 s: -2 ticks a second; 30 s.
        {737280000, 12288000, 3, -1, 0x00000003, 0xFFFFFE1E},
    };
    for (const auto& line : lines) {
        SCOPED_TRACE(line.quadlet1);
        sync->setCameras(guid(kMaster), {guid(kSlave1)});
        sync->start();
        for (int64_t back = 49; back >= 0; --back) {
            const int64_t slave = line.lastSlave - back * line.step;
            world().camera(kSlave1)->holdCycleTime(cycleTime(slave));
            world().camera(kMaster)->holdCycleTime(
                cycleTime(slave + line.lastOffset - back * line.offsetPerStep));
            sync->fastTick();
        }
        EXPECT_TRUE(sync->isSynchronized());
        EXPECT_EQ(std::make_pair(line.quadlet0, line.quadlet1), syncBlock(kSlave1));
        sync->stop();
    }
}

TEST_F(MultiSyncRun, SlavesAreWrittenOnlyOnceTheirHistoryHoldsFifty)
{
    controlAll();
    sync->start();
    for (int i = 0; i < 49; ++i)
        sync->fastTick();
    EXPECT_FALSE(sync->isSynchronized());
    EXPECT_EQ(std::make_pair(0u, 0u), syncBlock(kSlave1)) << "49 offsets: not written";
    sync->fastTick();
    EXPECT_TRUE(sync->isSynchronized());
    EXPECT_NE(std::make_pair(0u, 0u), syncBlock(kSlave1));
}

TEST_F(MultiSyncRun, AFailedAndStalledCycleTimeReadIsReportedAndTheNextTickGoesOn)
{
    controlAll();
    sync->start();
    sync->fastTick();
    // The 6th CYCLE_TIME read of the slave on bus 1 stalls 2 ms, then fails.
    FaultTable::Fault stalled;
    stalled.function = "flycaptureGetCameraRegister";
    stalled.serialNumber = kSlave1;
    stalled.address = iidc::kCycleTime;
    stalled.skip = 5;
    stalled.errorCode = FLYCAPTURE_TIMEOUT;
    stalled.delayNs = 2000000;
    world().faults().add(stalled);
    LogCapture errors("Orvex", log4cplus::ERROR_LOG_LEVEL);

    sync->fastTick();
    const std::string failure = kSlaveReadFailure + sdkText(FLYCAPTURE_TIMEOUT);
    EXPECT_EQ(failure, log->events.back());
    EXPECT_TRUE(sync->lastSyncRegUpdateFailed());
    ASSERT_EQ(1u, errors.messages().size());
    EXPECT_EQ(failure.substr(std::string("failure: ").size()), errors.messages()[0]);

    sync->fastTick();
    EXPECT_EQ("success", log->events.back());
    EXPECT_FALSE(sync->lastSyncRegUpdateFailed()) << "cleared by the next full update";

    // The failed tick added no offset: synchronisation takes one tick more.
    tickUntilSynchronized();
    EXPECT_EQ(1u, log->count(failure));
    EXPECT_EQ(51u, log->count("success")) << "start and 50 measuring ticks; the failed one is not among them";
}

TEST_F(MultiSyncRun, AStalledReadThatSucceedsKeepsTheUpdateGoing)
{
    controlAll();
    sync->start();
    FaultTable::Fault stalled;
    stalled.function = "flycaptureGetCameraRegister";
    stalled.address = iidc::kCycleTime;
    stalled.skip = 10;
    stalled.delayNs = 1000000;
    world().faults().add(stalled);
    sync->fastTick();
    EXPECT_EQ(0u, world().faults().pending("flycaptureGetCameraRegister")) << "the stall was used";
    EXPECT_EQ("success", log->events.back());
    EXPECT_FALSE(sync->lastSyncRegUpdateFailed());
}

TEST_F(MultiSyncRun, ASyncWriteFailingOnceIsRetriedAndLoggedOnly)
{
    controlAll();
    world().faults().failNext("flycaptureWriteRegisterBlock", 1, FLYCAPTURE_FAILED);
    LogCapture errors("Orvex", log4cplus::ERROR_LOG_LEVEL);
    sync->start();
    EXPECT_EQ(repeated("success", 1), log->events);
    EXPECT_FALSE(sync->lastSyncRegUpdateFailed());
    ASSERT_EQ(1u, errors.messages().size());
    EXPECT_EQ(kWriteFailure + sdkText(FLYCAPTURE_FAILED), errors.messages()[0]);
}

TEST_F(MultiSyncRun, ASyncWriteFailingTwiceIsReportedAndTheMasterUpdateIsRetried)
{
    controlAll();
    FaultTable::Fault write;
    write.function = "flycaptureWriteRegisterBlock";
    write.serialNumber = kMasterBusMate;
    write.address = iidc::FC_REG_SYNC;
    write.count = 2;
    write.errorCode = FLYCAPTURE_FAILED;
    world().faults().add(write);
    LogCapture errors("Orvex", log4cplus::ERROR_LOG_LEVEL);

    sync->start();
    EXPECT_TRUE(sync->isStarted()) << "a reported failure does not stop the start";
    EXPECT_EQ(std::vector<std::string>{"failure: " + (kWriteFailure + sdkText(FLYCAPTURE_FAILED))},
              log->events);
    EXPECT_TRUE(sync->lastSyncRegUpdateFailed());
    EXPECT_EQ(1u, errors.messages().size()) << "the second failure is reported, not logged";

    // The next tick runs the master update again and measures nobody.
    world().faults().add(cycleTimeReadFault(0, FLYCAPTURE_FAILED));
    sync->fastTick();
    EXPECT_EQ("success", log->events.back());
    EXPECT_FALSE(sync->lastSyncRegUpdateFailed());
    EXPECT_EQ(1u, world().faults().pending("flycaptureGetCameraRegister")) << "no CYCLE_TIME read";
}

TEST_F(MultiSyncRun, ASlaveWriteFailureLeavesTheStateAsItWas)
{
    controlAll();
    sync->start();
    tickUntilSynchronized();
    FaultTable::Fault write;
    write.function = "flycaptureWriteRegisterBlock";
    write.serialNumber = kSlave2;
    write.count = 2;
    write.errorCode = FLYCAPTURE_FAILED;
    world().faults().add(write);
    sync->slowTick();
    EXPECT_EQ("failure: " + (kWriteFailure + sdkText(FLYCAPTURE_FAILED)), log->events.back());
    EXPECT_TRUE(sync->isSynchronized());
    EXPECT_EQ(0u, log->count("lost"));
}

TEST_F(MultiSyncRun, CamerasThatLeftAreReportedWithTheirTexts)
{
    // The server follows removals while a host listens.
    struct Listener : CaptureDeviceChangedCB {
        void onDeviceArrival(const std::string&, bool) override {}
        void onDeviceRemoval(const std::string&, bool) override {}
    };
    videoServer().setCaptureDeviceChangedCB(new Listener, true);
    controlAll();
    sync->start();
    world().unplugCamera(kSlave2);
    ASSERT_TRUE(pumpUntil([&] { return !videoServer().testCameraConnected(guid(kSlave2)); }));
    sync->fastTick();
    EXPECT_EQ("failure: master camera (GUID 0x" + guid(kSlave2).to_string() + ") is not detected",
              log->events.back());
    EXPECT_FALSE(sync->lastSyncRegUpdateFailed()) << "an absent camera is not a failed access";

    sync->stop();
    world().unplugCamera(kMaster);
    ASSERT_TRUE(pumpUntil([&] { return !videoServer().testCameraConnected(guid(kMaster)); }));
    sync->start();
    EXPECT_EQ("failure: master camera was not detected", log->events.back());
}

TEST_F(MultiSyncRun, OneMeasurementIsFortyOneReadsMasterFirst)
{
    sync->setCameras(guid(kMaster), {guid(kSlave1)});
    sync->start();
    const std::string masterRead = "failure: flycaptureGetCameraRegister(masterCntxt, FC_REG_CSR_CYCLE_TIME, "
                                   "&regVal): " +
                                   sdkText(FLYCAPTURE_BUS_ERROR);
    world().faults().add(cycleTimeReadFault(20, FLYCAPTURE_BUS_ERROR, kMaster)); // m20
    sync->fastTick();
    EXPECT_EQ(masterRead, log->events.back());
    world().faults().add(cycleTimeReadFault(19, FLYCAPTURE_BUS_ERROR, kSlave1)); // s19
    sync->fastTick();
    EXPECT_EQ(kSlaveReadFailure + sdkText(FLYCAPTURE_BUS_ERROR), log->events.back());

    // Neither a 22nd master read nor a 21st slave read.
    world().faults().add(cycleTimeReadFault(21, FLYCAPTURE_BUS_ERROR, kMaster));
    world().faults().add(cycleTimeReadFault(20, FLYCAPTURE_BUS_ERROR, kSlave1));
    sync->fastTick();
    EXPECT_EQ("success", log->events.back());
    EXPECT_EQ(2u, world().faults().pending("flycaptureGetCameraRegister"));
}

TEST_F(MultiSyncRun, SetCamerasStartsTheHistoriesAfresh)
{
    controlAll();
    sync->start();
    tickUntilSynchronized();
    sync->stop();
    controlAll();
    sync->start();
    sync->fastTick();
    EXPECT_FALSE(sync->isSynchronized()) << "50 measurements again";
}

TEST_F(MultiSyncRun, ACameraOfTheSetMissingAtTheMasterUpdateIsReportedAndRetried)
{
    struct Listener : CaptureDeviceChangedCB {
        void onDeviceArrival(const std::string&, bool) override {}
        void onDeviceRemoval(const std::string&, bool) override {}
    };
    videoServer().setCaptureDeviceChangedCB(new Listener, true);
    controlAll();
    world().unplugCamera(kMasterBusMate);
    ASSERT_TRUE(pumpUntil([&] { return !videoServer().testCameraConnected(guid(kMasterBusMate)); }));
    world().faults().add(cycleTimeReadFault(0, FLYCAPTURE_FAILED));

    sync->start();
    const std::string missing =
        "failure: camera with GUID 0x" + guid(kMasterBusMate).to_string() + " is not detected";
    EXPECT_EQ(std::vector<std::string>{missing}, log->events);
    EXPECT_FALSE(sync->lastSyncRegUpdateFailed());
    sync->fastTick();
    EXPECT_EQ((std::vector<std::string>{missing, missing}), log->events) << "the master update again";
    EXPECT_EQ(1u, world().faults().pending("flycaptureGetCameraRegister")) << "no slave measured";
}

TEST_F(MultiSyncRun, AnErrorInsideATickIsReportedNotThrown)
{
    // The host's own callback throws from inside a tick.
    struct Throwing : RecordingEvtCB {
        using RecordingEvtCB::RecordingEvtCB;
        bool armed = false;
        void onUpdateSyncRegistersSuccess() override
        {
            RecordingEvtCB::onUpdateSyncRegistersSuccess();
            if (armed)
                throw std::runtime_error("host callback failed");
        }
    };
    auto* throwing = new Throwing(log);
    sync->setEvtCB(throwing);
    controlAll();
    sync->start();
    throwing->armed = true;
    sync->fastTick();
    EXPECT_EQ("failure: host callback failed", log->events.back());
    EXPECT_TRUE(sync->lastSyncRegUpdateFailed());
    EXPECT_TRUE(sync->isStarted()) << "the controller goes on";
}

// --- staleness ----------------------------------------------------------------------

#ifndef _WIN32 // the system time switches exist only in the POSIX Win32 layer

TEST_F(MultiSyncRun, APauseOfExactlyTenSecondsKeepsTheHistoriesAndOneMillisecondMoreClearsThem)
{
    orvex::win32::testing::freezeSystemTime(true);
    controlAll();
    sync->start();
    tickUntilSynchronized();
    ASSERT_TRUE(sync->isSynchronized());

    orvex::win32::testing::setSystemTimeOffset(kTenSeconds);
    sync->slowTick();
    EXPECT_TRUE(sync->isSynchronized()) << "10,000 ms is not too old";
    EXPECT_EQ(0u, log->count("lost"));

    orvex::win32::testing::setSystemTimeOffset(2 * kTenSeconds + kOneMillisecond);
    sync->slowTick();
    EXPECT_FALSE(sync->isSynchronized()) << "10,001 ms empties the histories";
    const std::vector<std::string> tail(log->events.end() - 2, log->events.end());
    EXPECT_EQ((std::vector<std::string>{"success", "lost"}), tail);

    // Back on the fast timer, the histories grow again from the offset of
    // the tick that emptied them.
    const std::size_t before = log->count("success");
    tickUntilSynchronized();
    EXPECT_EQ(before + 49, log->count("success"));
    EXPECT_EQ(2u, log->count("synchronized"));
}

TEST_F(MultiSyncRun, ARestartMoreThanTenSecondsLaterStartsTheHistoriesAfresh)
{
    orvex::win32::testing::freezeSystemTime(true);
    controlAll();
    sync->start();
    for (int i = 0; i < 30; ++i)
        sync->fastTick();
    sync->stop();
    sync->start();
    for (int i = 0; i < 20; ++i)
        sync->fastTick();
    EXPECT_TRUE(sync->isSynchronized()) << "a short stop keeps the histories";

    sync->stop();
    orvex::win32::testing::setSystemTimeOffset(kTenSeconds + kOneMillisecond);
    sync->start();
    sync->fastTick();
    EXPECT_FALSE(sync->isSynchronized()) << "the first tick after a long stop clears them";
}

#endif

// --- stop ------------------------------------------------------------------------------

TEST_F(MultiSyncRun, StopLeavesNoTimerMessageBehind)
{
    controlAll();
    sync->start();
    // Let the fast timer make its message, without dispatching it.
    letTimePass(std::chrono::milliseconds(150));
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, sync->window(), WM_TIMER, WM_TIMER, PM_NOREMOVE));
    sync->stop();
    EXPECT_FALSE(PeekMessageA(&msg, sync->window(), WM_TIMER, WM_TIMER, PM_NOREMOVE));
    letTimePass(std::chrono::milliseconds(150));
    EXPECT_FALSE(PeekMessageA(&msg, sync->window(), WM_TIMER, WM_TIMER, PM_NOREMOVE))
        << "both timers are dead";
    EXPECT_FALSE(sync->isStarted());
    EXPECT_EQ("not started", errorOf([&] { sync->stop(); }));
}

TEST_F(MultiSyncRun, StopAlsoKillsTheSlowTimer)
{
    controlAll();
    sync->start();
    tickUntilSynchronized();
    ASSERT_TRUE(sync->isSynchronized());
    sync->stop();
    letTimePass(std::chrono::milliseconds(1100)); // longer than the slow period
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, sync->window(), WM_TIMER, WM_TIMER, PM_NOREMOVE));
}

TEST_F(MultiSyncRun, ACallbackReplacedFromItselfIsDeletedOnlyOnceItReturned)
{
    // Written without `this`: the order must be right even if it is not.
    static std::vector<std::string> order;
    order.clear();
    struct Replacing : MultiSyncEvtCB {
        TickedMultiSync* sync = nullptr;
        ~Replacing() override { order.push_back("deleted"); }
        void onUpdateSyncRegistersSuccess() override
        {
            TickedMultiSync* controller = sync;
            controller->setEvtCB(nullptr);
            order.push_back("returning");
        }
    };
    controlAll();
    sync->start();
    auto* replacing = new Replacing;
    replacing->sync = sync.get();
    sync->setEvtCB(replacing);
    sync->fastTick();
    EXPECT_EQ((std::vector<std::string>{"returning", "deleted"}), order);
}

TEST_F(MultiSyncRun, AStaleTickAfterStopDoesNothing)
{
    controlAll();
    sync->start();
    sync->stop();
    const auto before = log->events;
    sync->fastTick();
    sync->slowTick();
    EXPECT_EQ(before, log->events);
}

TEST_F(MultiSyncRun, ACallbackMayStopTheControllerOrReplaceItself)
{
    struct Stopper : MultiSyncEvtCB {
        TickedMultiSync* sync;
        std::shared_ptr<EventLog> log;
        void onUpdateSyncRegistersSuccess() override
        {
            if (sync->isStarted()) {
                sync->stop();
                // Replaces (and so retires) this very object while it runs.
                sync->setEvtCB(new RecordingEvtCB(log));
            }
        }
    };
    controlAll();
    sync->start();
    auto* stopper = new Stopper;
    stopper->sync = sync.get();
    stopper->log = log;
    sync->setEvtCB(stopper);
    sync->fastTick();
    EXPECT_FALSE(sync->isStarted());
    letTimePass(std::chrono::milliseconds(150));
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, sync->window(), WM_TIMER, WM_TIMER, PM_NOREMOVE))
        << "the tick did not arm a timer after the stop";
    EXPECT_EQ(1, log->callbacksDeleted) << "the first recorder went when the stopper came";
}

// --- the camera set and the callback object ---------------------------------------------

TEST_F(MultiSyncRun, SetCamerasRefusesWithoutChangingAnything)
{
    sync->setCameras(guid(kSlave1), {guid(kSlave2), guid(kSlave1), guid(kSlave2)});
    CamGUID master;
    std::list<CamGUID> cameras;
    sync->getCameras(master, cameras);
    EXPECT_EQ(guid(kSlave1), master);
    EXPECT_EQ(std::list<CamGUID>{guid(kSlave2)}, cameras) << "master left out, duplicates collapsed";

    auto unchanged = [&] {
        CamGUID m;
        std::list<CamGUID> c;
        sync->getCameras(m, c);
        return m == guid(kSlave1) && c == std::list<CamGUID>{guid(kSlave2)};
    };
    EXPECT_EQ("invalid master camera GUID", errorOf([&] { sync->setCameras(CamGUID(), {guid(kSlave1)}); }));
    EXPECT_TRUE(unchanged());
    EXPECT_EQ("cameras collection is empty", errorOf([&] { sync->setCameras(guid(kMaster), {}); }));
    EXPECT_TRUE(unchanged());
    EXPECT_EQ("invalid GUID in cameras collection", errorOf([&] {
                  sync->setCameras(guid(kMaster), {guid(kSlave1), CamGUID(0, 0)});
              }));
    EXPECT_TRUE(unchanged());
    EXPECT_EQ("invalid GUID in cameras collection",
              refusalOf([&] { sync->setCameras(guid(kMaster), {CamGUID(0, 0)}); }).message);

    sync->start();
    EXPECT_EQ((Refusal{"MultiSync::setCameras cannot be invoked if MultiSync is started", "MultiSync"}),
              refusalOf([&] { sync->setCameras(guid(kMaster), {guid(kSlave1)}); }));
    EXPECT_TRUE(unchanged());
    EXPECT_EQ("already started", errorOf([&] { sync->start(); }));

    // A high word alone makes an identifier valid.
    sync->stop();
    EXPECT_EQ("", errorOf([&] { sync->setCameras(CamGUID(0, 1), {CamGUID(0, 2)}); }));
}

TEST_F(MultiSyncRun, StartAndTheBusQueryNeedTheirCameras)
{
    EXPECT_EQ("master camera not initialized", errorOf([&] { sync->start(); }));
    EXPECT_EQ("master camera not initialized", errorOf([&] { sync->areAllCamerasOnTheSameBus(); }));
    EXPECT_FALSE(sync->isStarted());

    sync->setCameras(guid(kMaster), {guid(kMasterBusMate)});
    EXPECT_TRUE(sync->areAllCamerasOnTheSameBus());
    sync->setCameras(guid(kMaster), {guid(kMaster)});
    EXPECT_TRUE(sync->areAllCamerasOnTheSameBus()) << "only the master";
    controlAll();
    EXPECT_FALSE(sync->areAllCamerasOnTheSameBus());
    sync->setCameras(guid(kMaster), {guid(1234)});
    EXPECT_EQ("MultiSync::areAllCamerasOnTheSameBus(): camera 0x" + guid(1234).to_string() +
                  " was not detected",
              errorOf([&] { sync->areAllCamerasOnTheSameBus(); }));
}

TEST_F(MultiSyncRun, CamerasOnTheMastersBusAreZeroedOnceAndNeverMeasured)
{
    // A correction left from before must go.
    const uint32_t old[2] = {0x02000001, 0x6404};
    world().camera(kMasterBusMate)->writeBlock(iidc::kSync, old, 2);
    world().faults().add([] {
        FaultTable::Fault reads;
        reads.function = "flycaptureGetCameraRegister";
        reads.address = iidc::kCycleTime;
        reads.count = 1000;
        reads.errorCode = FLYCAPTURE_FAILED;
        return reads;
    }());
    sync->setCameras(guid(kMaster), {guid(kMasterBusMate)});
    sync->start();
    EXPECT_EQ(std::make_pair(0u, 0u), syncBlock(kMasterBusMate));
    sync->fastTick();
    EXPECT_TRUE(sync->isSynchronized()) << "no slave: the first tick synchronises";
    EXPECT_EQ((std::vector<std::string>{"success", "success", "synchronized"}), log->events);
    EXPECT_EQ(1000u, world().faults().pending("flycaptureGetCameraRegister")) << "no CYCLE_TIME read";
}

TEST_F(MultiSyncRun, TheCallbackObjectIsOwned)
{
    auto other = std::make_shared<EventLog>();
    auto* second = new RecordingEvtCB(other);
    sync->setEvtCB(second);
    EXPECT_EQ(1, log->callbacksDeleted) << "the previous object is deleted";
    sync->setEvtCB(second);
    EXPECT_EQ(0, other->callbacksDeleted) << "the same object handed twice stays";

    controlAll();
    sync->setEvtCB(nullptr);
    EXPECT_EQ(1, other->callbacksDeleted);
    sync->start();
    EXPECT_TRUE(other->events.empty()) << "silenced";

    sync->setEvtCB(new RecordingEvtCB(other));
    sync.reset(); // destroys a running controller
    EXPECT_EQ(2, other->callbacksDeleted);
}
