// Soak: three cameras (two sharing one bus) acquiring for minutes while the
// host keeps changing things, as a long-running application would:
// - every round (about two seconds): a shutter change on an acquiring camera,
//   a stop, new region and restart of another, images taken all along;
// - every third round: one camera unplugged in the simulated world while it
//   acquires; the host hears the removal and the arrival through the video
//   server, then reopens the cameras (the server lists a camera that came
//   back only after a reset, which re-creates them all);
// - every fourth round: every camera stopped and started again.
// The host takes images in each camera's onNewImage (its hidden window),
// capturing and releasing the newest, so that SDK buffers go back while
// acquiring.
//
// Checks, each a violation that makes the exit status 1:
// - no lost notification: every image an acquisition thread took from the
//   SDK was read by the host, or dropped by its images buffer, or came after
//   the host's last look before a stop (RunLedger);
// - no image lost between the SDK and the thread: the frame-counter gaps of
//   a run are images the SDK counted as dropped;
// - every SDK buffer returned: no buffer lent after each stop and after each
//   unplug; no SDK context and no bus callback left once the server is gone;
// - resident memory at the end within 1 MiB of that after the warm-up
//   rounds, both measured in the same state (every camera at full size);
// - no ERROR line on "Orvex" outside the unplugs;
// - every run of half a second or more brings at least half its frames.
//
//   orvex_soak [--seconds S]   (default 600)
#include "FrameIndexes.h"
#include "LogWatch.h"
#include "ProcessFigures.h"
#include "RunLedger.h"
#include "SdkProbes.h"

#include <orvex/FlyCapVideoServer.h>
#include <orvex/IEEE1394Camera.h>
#include <orvex/ImageSample.h>
#include <orvex/OrvexError.h>
#include <orvex/sim/World.h>
#include <orvex/win32.h>

#include <log4cplus/initializer.h>
#include <log4cplus/logger.h>
#include <log4cplus/nullappender.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace orvex::bench;
using orvex::soak::LogWatch;
using orvex::soak::RunLedger;
using orvex::soak::RunOutcome;
namespace sim = orvex::sim;

constexpr uint32_t kSensorWidth = 640;
constexpr uint32_t kSensorHeight = 480;
constexpr double kFrameRate = 60.0;
// Two cameras share bus 0 (S800, 9830 bytes per cycle): half each, and a
// bit less.
constexpr int kSharedBusPacket = 4096;
constexpr int kWarmUpRounds = 6;
constexpr uint64_t kRssAllowance = uint64_t{1024} * 1024;
constexpr double kGiveUpSeconds = 5.0;
constexpr double kShortestJudgedRun = 0.5; // seconds

// The sanitizers keep memory of their own (AddressSanitizer's quarantine of
// freed blocks, ThreadSanitizer's history), so resident memory grows under
// them without a leak; LeakSanitizer reports leaks instead.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kResidentMemoryMeaningful = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kResidentMemoryMeaningful = false;
#else
constexpr bool kResidentMemoryMeaningful = true;
#endif
#else
constexpr bool kResidentMemoryMeaningful = true;
#endif

struct Region {
    int x, y, width, height;
};
constexpr Region kFullRegion{0, 0, 640, 480};
constexpr Region kRegions[] = {{64, 48, 320, 240}, {160, 120, 480, 360}, {0, 0, 640, 240}, kFullRegion};

// One camera as the host knows it, across its camera objects.
struct SoakCamera {
    uint32_t serial = 0;
    int bus = 0;
    Region region = kFullRegion;
    IEEE1394Camera* camera = nullptr; // null while the server has none for it
    std::shared_ptr<RunLedger> ledger;
    IndexTally tally;
    uint64_t sdkDroppedAtStart = 0;
    double runStart = 0.0;
};

struct Totals {
    RunOutcome images;
    uint64_t sdkDropped = 0;
    uint64_t runs = 0, stops = 0, unplugs = 0, resets = 0, regionChanges = 0, shutterChanges = 0;
    uint64_t lentChecks = 0, onNewImage = 0;
};

class Violations {
public:
    void add(const std::string& what)
    {
        if (_texts.size() < 20)
            _texts.push_back(what);
        ++_count;
        std::fprintf(stderr, "orvex_soak: VIOLATION %s\n", what.c_str());
    }
    uint64_t count() const { return _count; }
    const std::vector<std::string>& texts() const { return _texts; }

private:
    std::vector<std::string> _texts;
    uint64_t _count = 0;
};

// onNewImage: every index once into the run's ledger; the newest captured
// and released.
class TakeNewImages : public ImageCB {
public:
    TakeNewImages(SoakCamera& camera, Totals& totals) : _camera(camera), _totals(totals) {}
    void onNewImage() override
    {
        ++_totals.onNewImage;
        take(_camera);
    }

    static void take(SoakCamera& c)
    {
        IEEE1394Camera& camera = *c.camera;
        camera.lockImagesBuffer();
        const unsigned long size = camera.getImagesBufferSize();
        unsigned long newest = 0;
        for (unsigned long pos = size; pos-- > 0;) {
            newest = camera.getImagesBufferContent(pos)->getIdx();
            if (c.tally.take(static_cast<uint32_t>(newest)))
                c.ledger->seen(static_cast<uint32_t>(newest));
        }
        if (size > 0)
            camera.captureImage(newest);
        camera.unlockImagesBuffer();
        if (size > 0)
            camera.releaseImage();
    }

private:
    SoakCamera& _camera;
    Totals& _totals;
};

// Arrivals and removals as the server reports them, by serial number.
class DeviceChanges : public CaptureDeviceChangedCB {
public:
    void onDeviceArrival(const std::string& name, bool) override { arrived.push_back(serialOf(name)); }
    void onDeviceRemoval(const std::string& name, bool) override { removed.push_back(serialOf(name)); }
    static uint32_t serialOf(const std::string& name)
    {
        return static_cast<uint32_t>(std::strtoull(name.c_str(), nullptr, 16) & 0xFFFFFFFFu);
    }
    bool heard(const std::vector<uint32_t>& events, uint32_t serial) const
    {
        return std::find(events.begin(), events.end(), serial) != events.end();
    }
    std::vector<uint32_t> arrived, removed;
};

std::string fixed(double value, int decimals)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

void dispatchPending()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
}

// Dispatches the host thread's messages for `seconds`, or until `done`.
bool dispatchFor(double seconds, const std::function<bool()>& done = nullptr)
{
    const double until = wallSeconds() + seconds;
    for (;;) {
        dispatchPending();
        if (done && done())
            return true;
        const double left = until - wallSeconds();
        if (left <= 0.0)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min(left, 0.02) * 1000.0) + 1,
                                  QS_ALLINPUT);
    }
}

class Soak {
public:
    Soak(double seconds) : _seconds(seconds) {}
    int run();

private:
    void buildWorld();
    void openAll();
    void configure(SoakCamera& c);
    void startRun(SoakCamera& c);
    void endRun(SoakCamera& c, bool byUnplug);
    void stopAll();
    void startAll();
    void changeShutter(SoakCamera& c);
    void changeRegion(SoakCamera& c, const Region& region);
    void unplugAndReplug(SoakCamera& c);
    uint64_t measureResident();
    void finish();
    void report(double cpu, double wall, int rounds) const;

    double _seconds;
    std::vector<SoakCamera> _cameras;
    IEEE1394VideoServer* _server = nullptr;
    DeviceChanges* _changes = nullptr; // owned by the server
    LogWatch _watch;
    Totals _totals;
    Violations _violations;
    std::mt19937 _random{13};
    size_t _nextRegion = 0;
    uint64_t _rssAfterWarmUp = 0, _rssAtEnd = 0;
    int _rssRound = 0;
    uint64_t _rssHighest = 0; // sampled at the end of every round
};

void Soak::buildWorld()
{
    sim::World& world = sim::World::instance();
    world.clear();
    world.setPacing(sim::Pacing::frameRate);
    sim::BusConfig fast;
    fast.speed = 800;
    const int bus0 = world.addBus(fast);
    fast.driftPpm = 25.0;
    const int bus1 = world.addBus(fast);
    const int buses[] = {bus0, bus0, bus1};
    for (uint32_t i = 0; i < 3; ++i) {
        sim::CameraConfig config = *sim::modelConfig("Flea2 FL2G-50S5M", 5010001 + i);
        config.modelName = "Flea2 FL2G-03S2M";
        config.sensorWidth = kSensorWidth;
        config.sensorHeight = kSensorHeight;
        config.maxFrameRate = kFrameRate;
        config.frameRate.defaultRaw = static_cast<uint32_t>(kFrameRate * 16.0);
        world.addCamera(buses[i], config);
        SoakCamera c;
        c.serial = config.serialNumber;
        c.bus = buses[i];
        _cameras.push_back(c);
    }
}

// After a reset: every camera the server lists, set up as the host keeps it.
void Soak::openAll()
{
    for (SoakCamera& c : _cameras)
        c.camera = nullptr;
    for (int port = 0; port < _server->getNbCameras(); ++port) {
        IEEE1394Camera& camera = _server->getCamera(port);
        for (SoakCamera& c : _cameras) {
            if (camera.getUniqueId().low() == c.serial) {
                c.camera = &camera;
                camera.setImageCB(new TakeNewImages(c, _totals), true);
                configure(c);
            }
        }
    }
    for (const SoakCamera& c : _cameras) {
        if (c.camera == nullptr)
            throw std::runtime_error("camera " + std::to_string(c.serial) + " is not listed");
    }
}

void Soak::configure(SoakCamera& c)
{
    IEEE1394Camera& camera = *c.camera;
    if (!camera.enableSmartFeature(sf_frameCounter, true))
        throw std::runtime_error("camera " + std::to_string(c.serial) + " has no frame counter");
    camera.setRoi(c.region.x, c.region.y, c.region.width, c.region.height);
    const int unit = camera.getUnitNbBytesPerPacket();
    const int limit = c.bus == _cameras.front().bus ? kSharedBusPacket : camera.getMaxNbBytesPerPacket();
    camera.setNbBytesPerPacket(std::min(limit, camera.getMaxNbBytesPerPacket()) / unit * unit);
    camera.enableFrameRateFeature(true);
    camera.setFrameRate(std::min(kFrameRate, camera.getFrameRateMax()));
}

void Soak::startRun(SoakCamera& c)
{
    c.ledger = std::make_shared<RunLedger>();
    c.tally = IndexTally{};
    _watch.openRun(c.camera->getPortIdx(), c.ledger);
    c.sdkDroppedAtStart = sdkDroppedImages(c.serial);
    c.camera->startAcquisition();
    c.runStart = wallSeconds();
    ++_totals.runs;
}

// Closes the run's books. A stop first takes what is left in the buffer.
// After an unplug the caller has taken it, checked the lent buffers and read
// the SDK's drops while the camera object still existed.
void Soak::endRun(SoakCamera& c, bool byUnplug)
{
    const std::string who = "camera " + std::to_string(c.serial);
    uint64_t sdkDropped = 0;
    if (!byUnplug) {
        TakeNewImages::take(c);
        c.camera->stopAcquisition();
        ++_totals.stops;
        ++_totals.lentChecks;
        if (const unsigned lent = sdkLentBuffers(c.serial))
            _violations.add(who + ": " + std::to_string(lent) + " SDK buffers still lent after the stop");
        sdkDropped = sdkDroppedImages(c.serial) - c.sdkDroppedAtStart;
        _watch.closeRun(c.camera->getPortIdx());
    } else {
        sdkDropped = c.sdkDroppedAtStart; // the caller put the run's drops there
    }
    const RunOutcome out = c.ledger->close();
    const double lasted = wallSeconds() - c.runStart;
    if (out.lostNotifications > 0)
        _violations.add(who + ": " + std::to_string(out.lostNotifications) +
                        " images never reached the host");
    if (out.unannounced > 0)
        _violations.add(who + ": " + std::to_string(out.unannounced) + " images read but never announced");
    if (out.skippedBySdk > sdkDropped)
        _violations.add(who + ": " + std::to_string(out.skippedBySdk) + " frame-counter gaps, only " +
                        std::to_string(sdkDropped) + " dropped by the SDK");
    // A thread that ends, or an SDK that runs out of buffers, shows as a run
    // far below the frame rate; a loaded machine does not halve it.
    const double expected = kFrameRate * lasted;
    if (lasted > kShortestJudgedRun && static_cast<double>(out.announced) < expected / 2)
        _violations.add(who + ": " + std::to_string(out.announced) + " images in " + fixed(lasted, 1) +
                        " s at " + fixed(kFrameRate, 0) + " fps");
    _totals.images.announced += out.announced;
    _totals.images.seen += out.seen;
    _totals.images.droppedUnseen += out.droppedUnseen;
    _totals.images.discardedAtStop += out.discardedAtStop;
    _totals.images.lostNotifications += out.lostNotifications;
    _totals.images.unannounced += out.unannounced;
    _totals.images.skippedBySdk += out.skippedBySdk;
    _totals.sdkDropped += sdkDropped;
    c.ledger.reset();
}

void Soak::stopAll()
{
    // Every buffer read first: a stop takes a while (its thread is joined)
    // and the other cameras' buffers would age meanwhile.
    for (SoakCamera& c : _cameras) {
        if (c.camera != nullptr && c.camera->isAcquisitionStarted())
            TakeNewImages::take(c);
    }
    for (SoakCamera& c : _cameras) {
        if (c.camera != nullptr && c.camera->isAcquisitionStarted())
            endRun(c, false);
    }
}

void Soak::startAll()
{
    for (SoakCamera& c : _cameras) {
        if (c.camera != nullptr && !c.camera->isAcquisitionStarted())
            startRun(c);
    }
}

void Soak::changeShutter(SoakCamera& c)
{
    IEEE1394Camera& camera = *c.camera;
    const unsigned long low = camera.getShutterMin();
    const unsigned long high = std::max(low, std::min<unsigned long>(camera.getShutterMax(), 15000));
    camera.setShutter(std::uniform_int_distribution<unsigned long>(low, high)(_random));
    ++_totals.shutterChanges;
}

void Soak::changeRegion(SoakCamera& c, const Region& region)
{
    endRun(c, false);
    c.region = region;
    configure(c);
    ++_totals.regionChanges;
    startRun(c);
}

void Soak::unplugAndReplug(SoakCamera& c)
{
    sim::World& world = sim::World::instance();
    const std::string who = "camera " + std::to_string(c.serial);
    _watch.expectTrouble(true);
    const uint64_t lockFailures = _watch.lockFailures();
    world.unplugCamera(c.serial);
    ++_totals.unplugs;

    // Nothing dispatched yet, so the camera object still exists: its thread
    // alone must give every lent buffer back once its lock fails.
    const double giveUp = wallSeconds() + kGiveUpSeconds;
    while ((_watch.lockFailures() == lockFailures || sdkLentBuffers(c.serial) != 0) && wallSeconds() < giveUp)
        Sleep(1);
    ++_totals.lentChecks;
    if (const unsigned lent = sdkLentBuffers(c.serial))
        _violations.add(who + ": " + std::to_string(lent) + " SDK buffers still lent after the unplug");
    // What its images buffer still holds reached the host too.
    TakeNewImages::take(c);
    c.sdkDroppedAtStart = sdkDroppedImages(c.serial) - c.sdkDroppedAtStart;
    _watch.closeRun(c.camera->getPortIdx());

    _changes->removed.clear();
    if (!dispatchFor(kGiveUpSeconds, [&] { return _changes->heard(_changes->removed, c.serial); }))
        _violations.add(who + ": removal not heard");
    endRun(c, true);
    c.camera = nullptr; // the server has deleted it

    dispatchFor(0.3); // the others go on meanwhile
    _changes->arrived.clear();
    world.plugCamera(c.serial, c.bus);
    if (!dispatchFor(kGiveUpSeconds, [&] { return _changes->heard(_changes->arrived, c.serial); }))
        _violations.add(who + ": arrival not heard");

    // Reopen: the server lists the camera again only after a reset.
    stopAll();
    _server->reset(true);
    ++_totals.resets;
    openAll();
    startAll();
    _watch.expectTrouble(false);
}

// Every camera restarted at full size, so that both measurements see the
// same buffers; then a moment of acquisition.
uint64_t Soak::measureResident()
{
    stopAll();
    for (SoakCamera& c : _cameras) {
        c.region = kFullRegion;
        configure(c);
    }
    startAll();
    dispatchFor(0.5);
    return residentBytes();
}

void Soak::finish()
{
    stopAll();
    destroyVideoServer();
    _server = nullptr;
    dispatchPending();
    if (const unsigned contexts = sdkLiveContexts())
        _violations.add(std::to_string(contexts) + " SDK contexts left after the server");
    if (const unsigned callbacks = sdkBusCallbacks())
        _violations.add(std::to_string(callbacks) + " bus callbacks left after the server");
    const LogWatch::Errors errors = _watch.errors();
    if (errors.unexpected > 0)
        _violations.add(std::to_string(errors.unexpected) + " ERROR lines outside the unplugs");
    if (kResidentMemoryMeaningful && _rssRound > 0 && _rssAtEnd > _rssAfterWarmUp + kRssAllowance)
        _violations.add("resident memory grew by " + std::to_string((_rssAtEnd - _rssAfterWarmUp) / 1024) +
                        " KiB");
}

int Soak::run()
{
    buildWorld();
    _server = &createFlyCapVideoServer(true);
    _changes = new DeviceChanges;
    _server->setCaptureDeviceChangedCB(_changes, true);
    _server->reset(true);
    openAll();
    startAll();

    const double cpu0 = processCpuSeconds();
    const double wall0 = wallSeconds();
    int round = 0;
    while (wallSeconds() - wall0 < _seconds) {
        dispatchFor(0.6);
        changeShutter(_cameras[static_cast<size_t>(round) % 3]);
        dispatchFor(0.4);
        changeRegion(_cameras[static_cast<size_t>(round + 1) % 3],
                     kRegions[_nextRegion++ % std::size(kRegions)]);
        dispatchFor(0.6);
        if (round % 3 == 2)
            unplugAndReplug(_cameras[static_cast<size_t>(round / 3) % 3]);
        if (round % 4 == 3) {
            stopAll();
            dispatchFor(0.2);
            startAll();
        }
        dispatchFor(0.4);
        ++round;
        _rssHighest = std::max(_rssHighest, residentBytes());
        if (round == kWarmUpRounds) {
            _rssAfterWarmUp = measureResident();
            _rssRound = round;
        }
    }
    _rssAtEnd = measureResident();
    _rssHighest = std::max(_rssHighest, _rssAtEnd);
    const double cpu = processCpuSeconds() - cpu0;
    const double wall = wallSeconds() - wall0;
    if (round <= kWarmUpRounds)
        _violations.add("too short to measure memory after " + std::to_string(kWarmUpRounds) +
                        " warm-up rounds");
    finish();
    report(cpu, wall, round);
    return _violations.count() == 0 ? 0 : 1;
}

void Soak::report(double cpu, double wall, int rounds) const
{
    const auto n = [](uint64_t v) { return static_cast<unsigned long long>(v); };
    const Totals& t = _totals;
    std::printf("soak: %.1f s, %d rounds, %zu cameras\n", wall, rounds, _cameras.size());
    std::printf(
        "  runs %llu: stops %llu, region changes %llu, shutter changes %llu, unplugs and replugs %llu, "
        "server resets %llu\n",
        n(t.runs), n(t.stops), n(t.regionChanges), n(t.shutterChanges), n(t.unplugs), n(t.resets));
    std::printf("  images taken from the SDK by the threads: %llu; read by the host: %llu (%llu onNewImage "
                "calls); dropped by the images buffer unread: %llu; discarded at a stop or unplug: %llu\n",
                n(t.images.announced), n(t.images.seen), n(t.onNewImage), n(t.images.droppedUnseen),
                n(t.images.discardedAtStop));
    std::printf("  lost notifications: %llu (target 0); read but never announced: %llu\n",
                n(t.images.lostNotifications), n(t.images.unannounced));
    std::printf("  dropped by the SDK: %llu; frame-counter gaps between announced images: %llu\n",
                n(t.sdkDropped), n(t.images.skippedBySdk));
    std::printf("  SDK buffers still lent: 0 expected at %llu checks (after every stop and unplug); "
                "contexts %u and bus callbacks %u after the server\n",
                n(t.lentChecks), sdkLiveContexts(), sdkBusCallbacks());
    const double grewKiB = (static_cast<double>(_rssAtEnd) - static_cast<double>(_rssAfterWarmUp)) / 1024.0;
    std::printf("  resident memory after %d warm-up rounds %.2f MiB, at the end %.2f MiB: %+.0f KiB (target "
                "within 1024 KiB%s); highest at a round's end %.2f MiB\n",
                _rssRound, mebibytes(_rssAfterWarmUp), mebibytes(_rssAtEnd), grewKiB,
                kResidentMemoryMeaningful ? "" : ", not checked under a sanitizer", mebibytes(_rssHighest));
    const LogWatch::Errors errors = _watch.errors();
    std::printf("  ERROR lines on \"Orvex\": %llu during unplugs, %llu otherwise\n", n(errors.expected),
                n(errors.unexpected));
    for (const auto& [text, count] : errors.byText)
        std::printf("    %6llu  %s\n", n(count), text.c_str());
    std::printf("  process CPU: %.2f s over %.1f s (%.1f %% of one core)\n", cpu, wall, 100.0 * cpu / wall);
    if (_violations.count() == 0) {
        std::printf("  result: no violation\n");
        return;
    }
    std::printf("  result: %llu violations\n", n(_violations.count()));
    for (const std::string& text : _violations.texts())
        std::printf("    %s\n", text.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    log4cplus::Initializer logging;
    log4cplus::Logger::getRoot().addAppender(log4cplus::SharedAppenderPtr(new log4cplus::NullAppender));
    double seconds = 600.0;
    if (argc == 3 && std::string(argv[1]) == "--seconds")
        seconds = std::atof(argv[2]);
    if ((argc != 1 && argc != 3) || !(seconds > 0.0)) {
        std::fprintf(stderr, "usage: orvex_soak [--seconds S]\n");
        return 2;
    }
    try {
        Soak soak(seconds);
        return soak.run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "orvex_soak: %s\n", error.what());
        return 2;
    }
}
