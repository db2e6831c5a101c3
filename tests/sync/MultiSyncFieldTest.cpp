// Field mode of the synchronisation controller over the simulated SDK: a
// slave whose bus clock steps is noticed, restarted and reported lost then
// synchronised once each; a lone far offset is not a step; the default mode
// keeps its documented events through the same step. Ticks are posted by
// the test, so nothing waits in real time.
#include "sync/SyncWorld.h"

#include "support/LogCapture.h"

#include <orvex/MultiSyncField.h>
#include <orvex/sim/CycleClock.h>

#include <algorithm>
#include <cstdlib>
#include <list>

using namespace orvex::test;
namespace iidc = orvex::iidc;

namespace {

constexpr int64_t kOneMillisecond = 24576; // ticks

class MultiSyncField : public SyncWorld {
protected:
    void startSynchronized(bool field)
    {
        orvex::setMultiSyncFieldMode(*sync, field);
        controlAll();
        sync->start();
        tickUntilSynchronized();
        ASSERT_TRUE(sync->isSynchronized());
        log->events.clear();
    }

    // Slave minus master, in ticks, as the two cameras would stamp an image
    // exposed now.
    int64_t disagreement(uint32_t slave)
    {
        const int64_t now = orvex::sim::hostNowNs();
        return iidc::signedTicksBetween(world().camera(kMaster)->stampCycleTimeAt(now),
                                        world().camera(slave)->stampCycleTimeAt(now));
    }

    // Ticks of whichever timer is armed (slow once synchronised, fast after
    // a loss) until `done` or `limit` ticks.
    template <class Done> void tickUntil(Done done, int limit = 300)
    {
        for (int i = 0; i < limit && !done(); ++i) {
            if (sync->isSynchronized())
                sync->slowTick();
            else
                sync->fastTick();
        }
    }

    // The server follows removals and arrivals while a host listens.
    struct Listener : CaptureDeviceChangedCB {
        int arrivals = 0;
        void onDeviceArrival(const std::string&, bool) override { ++arrivals; }
        void onDeviceRemoval(const std::string&, bool) override {}
    };
    Listener* listen()
    {
        auto* listener = new Listener;
        videoServer().setCaptureDeviceChangedCB(listener, true);
        return listener;
    }

    std::vector<std::string> lossesAndRecoveries() const
    {
        std::vector<std::string> seen;
        std::copy_if(log->events.begin(), log->events.end(), std::back_inserter(seen),
                     [](const std::string& e) { return e == "lost" || e == "synchronized"; });
        return seen;
    }
};

TEST_F(MultiSyncField, ASteppedSlaveIsLostThenSynchronisedOnceAndAgreesAgain)
{
    EXPECT_FALSE(orvex::isMultiSyncFieldMode(*sync));
    startSynchronized(true);
    EXPECT_TRUE(orvex::isMultiSyncFieldMode(*sync));
    for (int i = 0; i < 20; ++i)
        sync->slowTick();
    EXPECT_LT(std::llabs(disagreement(kSlave1)), 50);

    LogCapture warnings("Orvex", log4cplus::WARN_LOG_LEVEL);
    world().bus(bus1)->clock().step(kOneMillisecond);
    EXPECT_GT(std::llabs(disagreement(kSlave1)), kOneMillisecond / 2);
    // The first far offset is held back: no loss yet, nothing written.
    sync->slowTick();
    EXPECT_TRUE(sync->isSynchronized());
    // The second agrees with it: a step.
    sync->slowTick();
    EXPECT_FALSE(sync->isSynchronized());
    tickUntil([this] { return sync->isSynchronized(); });
    for (int i = 0; i < 20; ++i)
        sync->slowTick();

    EXPECT_EQ(lossesAndRecoveries(), (std::vector<std::string>{"lost", "synchronized"}));
    EXPECT_EQ(log->count("failure: "), 0u);
    EXPECT_EQ(warnings.messages(),
              std::vector<std::string>{"MultiSync: the cycle clock of camera 0x" + guid(kSlave1).to_string() +
                                       " stepped; its offsets history restarts from the step"});
    EXPECT_LT(std::llabs(disagreement(kSlave1)), 50);
    EXPECT_LT(std::llabs(disagreement(kSlave2)), 50);
}

TEST_F(MultiSyncField, ALoneFarOffsetIsNotAStep)
{
    startSynchronized(true);
    for (int i = 0; i < 20; ++i)
        sync->slowTick();
    const auto before = syncBlock(kSlave1);

    world().bus(bus1)->clock().step(kOneMillisecond);
    sync->slowTick();
    // Held back: the slave keeps the correction it had.
    EXPECT_EQ(syncBlock(kSlave1).first, before.first);
    world().bus(bus1)->clock().step(-kOneMillisecond);
    for (int i = 0; i < 5; ++i)
        sync->slowTick();

    EXPECT_TRUE(sync->isSynchronized());
    EXPECT_TRUE(lossesAndRecoveries().empty());
    EXPECT_LT(std::llabs(disagreement(kSlave1)), 50);
}

TEST_F(MultiSyncField, TheDefaultModeNeverReportsAStep)
{
    startSynchronized(false);
    for (int i = 0; i < 20; ++i)
        sync->slowTick();
    world().bus(bus1)->clock().step(kOneMillisecond);
    for (int i = 0; i < 10; ++i)
        sync->slowTick();

    // Ticks this close together make the step a drift too large for the
    // register, which is reported as a failed update; never as a loss.
    EXPECT_TRUE(sync->isSynchronized());
    EXPECT_TRUE(lossesAndRecoveries().empty());
}

TEST_F(MultiSyncField, ASlaveThatLeavesIsReportedOnceTheOthersStaySynchronisedAndItCanComeBack)
{
    Listener* listener = listen();
    startSynchronized(true);
    LogCapture warnings("Orvex", log4cplus::WARN_LOG_LEVEL);
    world().unplugCamera(kSlave2);
    // The removal reaches the server through its bus callback (on the SDK's
    // thread), then its window.
    ASSERT_TRUE(pumpUntil([&] { return !videoServer().testCameraConnected(guid(kSlave2)); }));
    for (int i = 0; i < 10; ++i)
        sync->slowTick();

    const std::string left = "failure: camera 0x" + guid(kSlave2).to_string() +
                             " left the bus: it no longer takes part in the synchronisation";
    EXPECT_EQ(log->count(left), 1u);
    EXPECT_EQ(warnings.messages(), std::vector<std::string>{left.substr(std::string("failure: ").size())});
    EXPECT_EQ(log->count("success"), 10u);
    EXPECT_TRUE(lossesAndRecoveries().empty());
    CamGUID master;
    std::list<CamGUID> cameras;
    sync->getCameras(master, cameras);
    EXPECT_EQ(cameras, (std::list<CamGUID>{guid(kMasterBusMate), guid(kSlave1)}));
    EXPECT_LT(std::llabs(disagreement(kSlave1)), 50);

    world().plugCamera(kSlave2, bus2);
    ASSERT_TRUE(pumpUntil([&] { return listener->arrivals > 0; }));
    videoServer().reset(false);
    log->events.clear();
    orvex::addMultiSyncCamera(*sync, guid(kSlave2));
    tickUntil([this] { return log->count("synchronized") > 0; });

    EXPECT_EQ(lossesAndRecoveries(), (std::vector<std::string>{"lost", "synchronized"}));
    EXPECT_LT(std::llabs(disagreement(kSlave2)), 50);
    EXPECT_LT(std::llabs(disagreement(kSlave1)), 50);
}

TEST_F(MultiSyncField, TheDefaultModeKeepsReportingALeftSlaveAtEveryTick)
{
    listen();
    startSynchronized(false);
    world().unplugCamera(kSlave2);
    ASSERT_TRUE(pumpUntil([&] { return !videoServer().testCameraConnected(guid(kSlave2)); }));
    for (int i = 0; i < 3; ++i)
        sync->slowTick();

    EXPECT_EQ(
        log->events,
        repeated("failure: master camera (GUID 0x" + guid(kSlave2).to_string() + ") is not detected", 3));
}

TEST_F(MultiSyncField, AddingACameraIsCheckedAndTakesEffectWhileRunning)
{
    EXPECT_THROW(orvex::addMultiSyncCamera(*sync, guid(kSlave1)), OrvexError); // no master yet
    sync->setCameras(guid(kMaster), {guid(kSlave1)});
    EXPECT_THROW(orvex::addMultiSyncCamera(*sync, CamGUID(0, 0)), OrvexError);
    sync->start();
    tickUntilSynchronized();
    orvex::addMultiSyncCamera(*sync, guid(kMasterBusMate));
    orvex::addMultiSyncCamera(*sync, guid(kSlave1)); // already there: nothing changes
    world().camera(kMasterBusMate)->writeBlock(iidc::kSync, std::vector<uint32_t>{1, 2}.data(), 2);
    sync->slowTick();

    EXPECT_EQ(syncBlock(kMasterBusMate), std::make_pair(0u, 0u));
    EXPECT_TRUE(sync->isSynchronized());
}

} // namespace
