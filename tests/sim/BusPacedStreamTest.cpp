// Free-running images paced by the bus cycle clock: on one bus, cameras at
// one frame rate keep a fixed distance between their time stamps, whatever
// the bus clock's rate against the host, a slow receiver or a jump of the
// bus clock. Assertions are on the stamps, never on host time.
#include "sim/SimTestSupport.h"

#include <orvex/iidc/Registers.h>
#include <orvex/sim/CameraConfig.h>
#include <orvex/sim/CycleClock.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

namespace orvex::sim::test {
namespace {

using namespace orvex::iidc;
using namespace std::chrono_literals;

constexpr double kBusPpm = 150.0;
constexpr int64_t kCycle = kTicksPerCycle;

int64_t positiveModulo(int64_t value, int64_t modulus)
{
    const int64_t r = value % modulus;
    return r < 0 ? r + modulus : r;
}

// Each stamp's distance in ticks from the first one, unwrapped image by
// image (neighbours are far less than 64 s apart).
std::vector<int64_t> distancesFromFirst(const std::vector<Frame>& frames)
{
    std::vector<int64_t> distances;
    int64_t distance = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        if (i > 0)
            distance += signedTicksBetween(frames[i - 1].cycleTime, frames[i].cycleTime);
        distances.push_back(distance);
    }
    return distances;
}

// A camera whose small Format_7 image runs as fast as `fps` allows: no
// frame-rate control, a 0.5 ms shutter, so the readout sets the period.
std::shared_ptr<Camera> addFastCamera(World& world, int bus, uint32_t serial, double fps)
{
    CameraConfig config = *modelConfig("Grasshopper GRAS-20S4M", serial);
    config.maxRoiFrameRate = fps;
    config.frameRate.present = false;
    std::shared_ptr<Camera> camera = world.addCamera(bus, config);
    FrameGeometry g;
    g.width = 64;
    g.height = 32;
    g.bytesPerPacket = camera->packetLimits(g.width, g.height, 1).maxBytes;
    EXPECT_EQ(camera->configureFormat7(g), Status::ok);
    EXPECT_EQ(camera->setPropertyRaw(kFeatureShutter, false, true, false, 25, 0), Status::ok); // 0.5 ms
    return camera;
}

int64_t periodTicks(const Camera& camera)
{
    return std::llround(camera.framePeriodSeconds() * kTickFrequencyHz);
}

// A receiver that holds the stream thread in every `every`-th image.
class SlowCollector : public FrameCollector {
public:
    SlowCollector(unsigned every, std::chrono::microseconds hold) : _every(every), _hold(hold) {}
    void onFrame(const Frame& frame) override
    {
        FrameCollector::onFrame(frame);
        if (++_seen % _every == 0)
            std::this_thread::sleep_for(_hold);
    }
    bool held(size_t index) const { return (index + 1) % _every == 0; }

private:
    const unsigned _every;
    const std::chrono::microseconds _hold;
    unsigned _seen = 0;
};

class BusPacedStream : public FreshWorld {
protected:
    void SetUp() override
    {
        FreshWorld::SetUp();
        _bus = world().addBus(busAt(0, 10.0, kBusPpm));
    }
    CycleClock& clock() { return world().bus(_bus)->clock(); }

    int _bus = 0;
};

TEST_F(BusPacedStream, TwoCamerasOnOneBusKeepAFixedDistanceBetweenTheirStamps)
{
    const auto a = addFastCamera(world(), _bus, 0xA1, 1000.0);
    const auto b = addFastCamera(world(), _bus, 0xB2, 1000.0);
    const int64_t period = periodTicks(*a);
    ASSERT_EQ(period, 8 * kCycle) << "1 ms: eight whole cycles";
    auto sinkA = std::make_shared<FrameCollector>();
    auto sinkB = std::make_shared<FrameCollector>();
    ASSERT_EQ(a->startStream(sinkA, Pacing::frameRate), Status::ok);
    ASSERT_EQ(b->startStream(sinkB, Pacing::frameRate), Status::ok);
    ASSERT_TRUE(sinkA->waitFor(200));
    ASSERT_TRUE(sinkB->waitFor(200));
    a->stopStream();
    b->stopStream();

    const std::vector<Frame> framesA = sinkA->frames(), framesB = sinkB->frames();
    const uint32_t origin = framesA.front().cycleTime;
    for (size_t i = 0; i < framesA.size(); ++i) {
        ASSERT_EQ(positiveModulo(signedTicksBetween(origin, framesA[i].cycleTime), period), 0)
            << "camera A, image " << i << ": a whole number of periods after its first";
    }
    // Every image of B lies the same distance after the latest period of A:
    // the stamps of the two cameras keep their relation, image after image.
    const int64_t phase = positiveModulo(signedTicksBetween(origin, framesB.front().cycleTime), period);
    for (size_t j = 0; j < framesB.size(); ++j) {
        ASSERT_EQ(positiveModulo(signedTicksBetween(origin, framesB[j].cycleTime), period), phase)
            << "camera B, image " << j;
    }
    EXPECT_EQ(phase % kCycle, 0) << "both start on cycle boundaries";
}

TEST_F(BusPacedStream, ImagesStartOnCycleBoundariesAlongTheGridOfThePeriodInBusTicks)
{
    // 1/700 s is 35108.57 ticks: the grid advances by 35109 ticks, each
    // image starting at the first cycle boundary from its grid point.
    const auto camera = addFastCamera(world(), _bus, 0xC3, 700.0);
    const int64_t period = periodTicks(*camera);
    ASSERT_EQ(period, 35109);
    auto sink = std::make_shared<FrameCollector>();
    const int64_t startedNs = hostNowNs();
    ASSERT_EQ(camera->startStream(sink, Pacing::frameRate), Status::ok);
    ASSERT_TRUE(sink->waitFor(150));
    camera->stopStream();
    EXPECT_GE(sink->frames().front().exposureStartNs, startedNs)
        << "the grid starts with the stream: no image exposed before it";

    // Every image starts at the first cycle boundary from its point of one
    // grid of the period: measured from the first image, the grid's origin
    // o lies in (d - k * period - cycle, d - k * period] for every image at
    // distance d and k periods, so all these ranges overlap.
    const std::vector<Frame> frames = sink->frames();
    const std::vector<int64_t> distances = distancesFromFirst(frames);
    int64_t lowest = -kCycle + 1, highest = 0, previousPeriods = 0;
    for (size_t i = 1; i < frames.size(); ++i) {
        SCOPED_TRACE("image " + std::to_string(i));
        ASSERT_EQ(cycleOffset(frames[i].cycleTime), 0u) << "starts on a cycle boundary";
        EXPECT_EQ(frames[i].cycleTime, frames[i].busCycleTime) << "no sync correction: the bus clock";
        EXPECT_FALSE(frames[i].triggered);
        const int64_t periods = (distances[i] + period / 2) / period;
        EXPECT_GT(periods, previousPeriods) << "one image per grid point";
        previousPeriods = periods;
        lowest = std::max(lowest, distances[i] - periods * period - kCycle + 1);
        highest = std::min(highest, distances[i] - periods * period);
        EXPECT_EQ(frames[i].frameCounter, frames[i - 1].frameCounter + 1);
    }
    EXPECT_LE(lowest, highest) << "no single grid of " << period << " ticks holds every image";
}

TEST_F(BusPacedStream, ASlowReceiverOrAStallSkipsWholePeriodsAndKeepsThePhase)
{
    const auto camera = addFastCamera(world(), _bus, 0xD4, 1000.0);
    const int64_t period = periodTicks(*camera);
    // Every fifth image holds the stream thread for two and a half periods.
    auto sink = std::make_shared<SlowCollector>(5, 2500us);
    ASSERT_EQ(camera->startStream(sink, Pacing::frameRate), Status::ok);
    ASSERT_TRUE(sink->waitFor(30));
    constexpr int64_t kStallNs = 20'000'000;
    camera->stallStream(kStallNs);
    ASSERT_TRUE(sink->waitFor(sink->frames().size() + 30));
    camera->stopStream();

    const std::vector<Frame> frames = sink->frames();
    const std::vector<int64_t> distances = distancesFromFirst(frames);
    int64_t longest = 0;
    for (size_t i = 1; i < frames.size(); ++i) {
        SCOPED_TRACE("image " + std::to_string(i));
        EXPECT_EQ(distances[i] % period, 0) << "on the grid of the first image";
        const int64_t gap = distances[i] - distances[i - 1];
        EXPECT_GE(gap, period);
        if (sink->held(i - 1)) {
            EXPECT_GE(gap, 2 * period)
                << "the images missed while the receiver was busy are not delivered late";
        }
        EXPECT_EQ(frames[i].frameCounter, frames[i - 1].frameCounter + 1)
            << "images not taken are not counted";
        longest = std::max(longest, gap);
    }
    EXPECT_GE(static_cast<double>(longest), kStallNs * 1e-9 * kTickFrequencyHz) << "the stall";
    EXPECT_EQ(camera->lostImages(), 0u);
}

TEST_F(BusPacedStream, AJumpOfTheBusClockMovesTheStampsNotTheCadence)
{
    const auto camera = addFastCamera(world(), _bus, 0xE5, 1000.0);
    const int64_t period = periodTicks(*camera);
    auto sink = std::make_shared<FrameCollector>();
    ASSERT_EQ(camera->startStream(sink, Pacing::frameRate), Status::ok);
    ASSERT_TRUE(sink->waitFor(20));
    // Sixty seconds back and a bit: a camera waiting for its next image on
    // the bus clock's old reading would wait a minute.
    const int64_t jump = -60 * int64_t{kTicksPerSecond} - 1000;
    const size_t before = sink->frames().size();
    clock().step(jump);
    ASSERT_TRUE(sink->waitFor(before + 20, 5s)) << "the stream goes on";
    camera->stopStream();

    // The camera counts its own cycles: its grid moves with the clock's
    // jump taken to whole cycles, and its images stay on cycle boundaries.
    const int64_t jumpInCycles = -60 * int64_t{kTicksPerSecond}; // 1000 ticks is the nearer to 0 cycles
    const std::vector<Frame> frames = sink->frames();
    const std::vector<int64_t> distances = distancesFromFirst(frames);
    size_t jumped = 0;
    for (size_t i = 1; i < frames.size(); ++i) {
        SCOPED_TRACE("image " + std::to_string(i));
        EXPECT_EQ(cycleOffset(frames[i].cycleTime), 0u);
        int64_t gap = distances[i] - distances[i - 1];
        if (gap < 0) {
            ++jumped;
            gap -= jumpInCycles;
        }
        EXPECT_GT(gap, 0);
        EXPECT_EQ(gap % period, 0) << "the cadence goes on across the jump";
    }
    EXPECT_EQ(jumped, 1u);
}

// --- the conversions behind the pacing ------------------------------------------------

TEST(CycleClockInverse, FindsTheFirstInstantOfATickAcrossRateChangesAndJumps)
{
    CycleClock clock;
    clock.setTicksNow(5 * int64_t{kTicksPerSecond});
    clock.setDriftPpm(-73.0);
    clock.setWander(900.0, 11); // large moves, so that each anchor has its own rate
    const int64_t start = hostNowNs();
    const int64_t later = start + 5'000'000'000;
    clock.ticksAt(later); // lays the wander's anchors up to then: all of it is known
    const auto checkInverse = [&](int64_t fromNs, int64_t toNs) {
        const int64_t first = clock.ticksAt(fromNs), last = clock.ticksAt(toNs);
        for (int64_t ticks = first; ticks < last; ticks += (last - first) / 997 + 1) {
            const int64_t at = clock.hostNsAt(ticks);
            ASSERT_EQ(clock.ticksAt(at), ticks) << "reads the tick there";
            ASSERT_EQ(clock.ticksAt(at - 1), ticks - 1) << "and not a nanosecond before";
        }
    };
    checkInverse(start, later);

    // A jump: the bus clock moves, the own count runs on within half a cycle
    // and keeps the cycle boundaries.
    const int64_t beforeJumpNs = hostNowNs();
    const int64_t ownBefore = clock.ownTicksAt(beforeJumpNs);
    const int64_t busBefore = clock.ticksAt(beforeJumpNs);
    const int64_t jump = 3 * int64_t{kTicksPerSecond} + 1600; // 1600 ticks: nearer to one cycle than none
    clock.step(jump);
    EXPECT_NEAR(clock.ticksAt(beforeJumpNs) - busBefore, jump, 1) << "the bus clock jumped";
    EXPECT_NEAR(clock.ownTicksAt(beforeJumpNs) - ownBefore, jump - (3 * int64_t{kTicksPerSecond} + kCycle), 1)
        << "the own count moved by what the whole cycles left over";
    EXPECT_EQ(positiveModulo(clock.ticksAt(beforeJumpNs) - clock.ownTicksAt(beforeJumpNs), kCycle), 0);
    clock.step(-1500); // nearer to none
    EXPECT_NEAR(clock.ownTicksAt(beforeJumpNs) - ownBefore,
                jump - 1500 - (3 * int64_t{kTicksPerSecond} + kCycle), 1);
    for (int64_t own = ownBefore; own < ownBefore + 10 * kCycle; own += 1229) {
        const int64_t at = clock.hostNsAtOwn(own);
        EXPECT_EQ(clock.ownTicksAt(at), own);
        EXPECT_EQ(clock.ownTicksAt(at - 1), own - 1);
    }
    const int64_t ownBeforeSetting = clock.ownTicksAt(beforeJumpNs);
    clock.setTicksNow(0);
    EXPECT_LE(std::llabs(clock.ownTicksAt(beforeJumpNs) - ownBeforeSetting), kCycle / 2 + 1)
        << "setting the clock is a jump too";
}

TEST(CycleClockInverse, AClockDrivenPastStandstillStillRunsForward)
{
    CycleClock clock;
    clock.setDriftPpm(-2e6);
    const int64_t now = hostNowNs();
    EXPECT_GT(clock.ticksAt(now + 1'000'000'000), clock.ticksAt(now));
    const int64_t ticks = clock.ticksAt(now) + 100;
    EXPECT_EQ(clock.ticksAt(clock.hostNsAt(ticks)), ticks);
}

} // namespace
} // namespace orvex::sim::test
