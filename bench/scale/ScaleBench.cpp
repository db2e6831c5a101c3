// Many cameras at once: every camera of a world file (by default 64
// FlyCapture cameras, 640x480 8-bit mono, four on each of sixteen S400
// buses, each bus within its isochronous budget; scale-world.json beside it
// is the 16-camera world on four buses) acquiring at 30 frames per second,
// paced by their bus clocks, for a minute. The host is one thread that
// dispatches the cameras' window messages: each camera's onNewImage takes
// every new image out of its images buffer, captures the newest and releases
// it, as a viewer would.
//
// Prints, per camera and in total: images received against the expected
// rate x seconds, images lost (gaps in the frame counter), split into those
// the SDK dropped and those the images buffer dropped; then the process CPU
// (total, per image) and its resident memory. Exits with status 2 when an
// image was lost, 1 on an error.
//
// --growth S first acquires with 1, 2, 4, ... cameras (then all of them),
// S seconds each, and prints how the CPU per image grows with the number of
// cameras. --cameras N acquires with the world's first N cameras only.
//
// The images buffer reaches 3 frames back unless --images-buffer says more:
// a host thread held up longer than that loses images in the buffer.
//
//   orvex_scale_bench [--world FILE] [--seconds S] [--frame-rate FPS] [--images-buffer N]
//                     [--cameras N] [--growth S]
#include "FrameIndexes.h"
#include "ProcessFigures.h"
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
#include <cstring>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#ifndef ORVEX_SCALE_WORLD
#define ORVEX_SCALE_WORLD "scale-world-64.json"
#endif

namespace {

using namespace orvex::bench;

struct Options {
    std::string world = ORVEX_SCALE_WORLD;
    double seconds = 60.0;
    double frameRate = 30.0;
    unsigned long imagesBuffer = 0; // 0: the camera's own bound
    size_t cameras = 0;             // 0: every camera of the world
    double growthSeconds = 0.0;     // 0: no growth table
};

// What the host saw of one camera.
struct Tally {
    IndexTally indexes;
    uint64_t callbacks = 0;
    double lastLook = 0.0;
    double longestWait = 0.0; // between two looks: beyond 3 frame periods the buffer drops images
};

// Takes the new images of one camera: every index once, in order; the
// newest is captured and released so that its SDK buffer goes back at once.
class TakeNewImages : public ImageCB {
public:
    TakeNewImages(IEEE1394Camera& camera, Tally& tally) : _camera(camera), _tally(tally) {}

    void onNewImage() override
    {
        ++_tally.callbacks;
        const double now = wallSeconds();
        if (_tally.lastLook > 0.0)
            _tally.longestWait = std::max(_tally.longestWait, now - _tally.lastLook);
        _tally.lastLook = now;
        drain();
    }

    void drain()
    {
        _camera.lockImagesBuffer();
        const unsigned long size = _camera.getImagesBufferSize();
        unsigned long newest = 0;
        for (unsigned long pos = size; pos-- > 0;) {
            newest = _camera.getImagesBufferContent(pos)->getIdx();
            _tally.indexes.take(static_cast<uint32_t>(newest));
        }
        if (size > 0)
            _camera.captureImage(newest);
        _camera.unlockImagesBuffer();
        if (size > 0)
            _camera.releaseImage();
    }

private:
    IEEE1394Camera& _camera;
    Tally& _tally;
};

struct Camera {
    IEEE1394Camera* camera = nullptr;
    TakeNewImages* host = nullptr; // owned by the camera
    uint32_t serial = 0;
    std::string bus;
    int packet = 0;
    Tally tally;
    uint64_t sdkDroppedBefore = 0;
    uint64_t sdkDropped = 0;
};

bool parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return false;
        if (arg == "--world")
            options.world = argv[++i];
        else if (arg == "--seconds")
            options.seconds = std::atof(argv[++i]);
        else if (arg == "--frame-rate")
            options.frameRate = std::atof(argv[++i]);
        else if (arg == "--images-buffer")
            options.imagesBuffer = std::strtoul(argv[++i], nullptr, 10);
        else if (arg == "--cameras")
            options.cameras = std::strtoul(argv[++i], nullptr, 10);
        else if (arg == "--growth")
            options.growthSeconds = std::atof(argv[++i]);
        else
            return false;
    }
    return options.seconds > 0.0 && options.frameRate > 0.0 && options.growthSeconds >= 0.0 &&
           options.growthSeconds < 1e6 && options.seconds < 1e6;
}

// Where the host thread's time went: waiting for a message (with 16
// cameras posting, a long wait means the thread was not woken or not run),
// or dispatching (the onNewImage calls themselves).
struct HostLoop {
    double longestWait = 0.0;
    double longestDispatch = 0.0;
};

void dispatchFor(double seconds, HostLoop& loop)
{
    const double until = wallSeconds() + seconds;
    for (;;) {
        const double before = wallSeconds();
        const double left = until - before;
        if (left <= 0.0)
            return;
        const auto waitMs = static_cast<DWORD>(std::min(left, 0.1) * 1000.0) + 1;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, waitMs, QS_ALLINPUT);
        const double woken = wallSeconds();
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        loop.longestWait = std::max(loop.longestWait, woken - before);
        loop.longestDispatch = std::max(loop.longestDispatch, wallSeconds() - woken);
    }
}

void setUp(Camera& c, const Options& options)
{
    IEEE1394Camera& camera = *c.camera;
    c.serial = camera.getUniqueId().low();
    c.bus = camera.getOwningBusId();
    // The frame counter as index: a gap is an image lost.
    if (!camera.enableSmartFeature(sf_frameCounter, true))
        throw std::runtime_error("camera " + std::to_string(c.serial) + " has no frame counter");
    camera.enableFrameRateFeature(true);
    camera.setFrameRate(options.frameRate);
    c.packet = camera.getNbBytesPerPacket();
    if (options.imagesBuffer > 0)
        camera.setImagesBufferMaxSize(options.imagesBuffer);
    c.host = new TakeNewImages(camera, c.tally);
    camera.setImageCB(c.host, true);
}

// One acquisition window of the first `count` cameras: their books start
// afresh and close for every camera at once (stopping one camera takes a
// while, its thread is joined, and the others' buffers would age meanwhile).
struct Window {
    size_t cameras = 0;
    double cpu = 0.0, wall = 0.0;
    uint64_t received = 0, lost = 0, sdkDropped = 0, callbacks = 0;
    double longestWait = 0.0;
    HostLoop loop;
    uint64_t rssAcquiring = 0;
};

Window acquire(std::vector<Camera>& cameras, size_t count, double seconds)
{
    Window w;
    w.cameras = count;
    for (size_t i = 0; i < count; ++i) {
        cameras[i].tally = Tally{};
        cameras[i].sdkDroppedBefore = sdkDroppedImages(cameras[i].serial);
        cameras[i].camera->startAcquisition();
    }
    const double cpu0 = processCpuSeconds();
    const double wall0 = wallSeconds();
    dispatchFor(seconds, w.loop);
    w.cpu = processCpuSeconds() - cpu0;
    w.wall = wallSeconds() - wall0;
    w.rssAcquiring = residentBytes();
    for (size_t i = 0; i < count; ++i) {
        cameras[i].host->drain();
        cameras[i].sdkDropped = sdkDroppedImages(cameras[i].serial) - cameras[i].sdkDroppedBefore;
    }
    for (size_t i = 0; i < count; ++i)
        cameras[i].camera->stopAcquisition();
    for (size_t i = 0; i < count; ++i) {
        const Camera& c = cameras[i];
        w.received += c.tally.indexes.count();
        w.lost += c.tally.indexes.skipped();
        w.sdkDropped += c.sdkDropped;
        w.callbacks += c.tally.callbacks;
        w.longestWait = std::max(w.longestWait, c.tally.longestWait);
    }
    return w;
}

double usPerImage(const Window& w)
{
    return w.received > 0 ? w.cpu * 1e6 / static_cast<double>(w.received) : 0.0;
}

void printGrowth(std::vector<Camera>& cameras, size_t count, const Options& options)
{
    std::printf("CPU per image against the number of cameras (%.0f fps, %.0f s each)\n", options.frameRate,
                options.growthSeconds);
    std::printf("  cameras  images/s  %% of one core  us per image  lost\n");
    for (size_t n = 1;; n = std::min(n * 2, count)) {
        const Window w = acquire(cameras, n, options.growthSeconds);
        std::printf("  %7zu  %8.1f  %13.2f  %12.1f  %4llu\n", n, static_cast<double>(w.received) / w.wall,
                    100.0 * w.cpu / w.wall, usPerImage(w), static_cast<unsigned long long>(w.lost));
        std::fflush(stdout);
        if (n == count)
            break;
    }
}

int run(const Options& options)
{
    orvex::sim::World::instance().loadFile(options.world);
    IEEE1394VideoServer& server = createFlyCapVideoServer(false);
    server.reset(true);
    std::vector<Camera> cameras(static_cast<size_t>(server.getNbCameras()));
    if (cameras.empty()) {
        std::fprintf(stderr, "orvex_scale_bench: no camera in %s\n", options.world.c_str());
        return 1;
    }
    if (options.cameras > cameras.size()) {
        std::fprintf(stderr, "orvex_scale_bench: %zu cameras asked, %s has %zu\n", options.cameras,
                     options.world.c_str(), cameras.size());
        return 1;
    }
    for (size_t i = 0; i < cameras.size(); ++i) {
        cameras[i].camera = &server.getCamera(static_cast<int>(i));
        setUp(cameras[i], options);
    }
    const size_t count = options.cameras > 0 ? options.cameras : cameras.size();
    if (options.growthSeconds > 0.0)
        printGrowth(cameras, count, options);

    const uint64_t rssBefore = residentBytes();
    const Window w = acquire(cameras, count, options.seconds);

    const double expected = options.frameRate * options.seconds;
    std::printf("%zu cameras, %.0f fps, %.0f s, images buffers of %d (%s)\n", count, options.frameRate,
                options.seconds, cameras.front().camera->getImagesBufferMaxSize(), options.world.c_str());
    std::printf("  serial   bus  packet  received  expected  lost  (SDK  buffer)  onNewImage\n");
    for (size_t i = 0; i < count; ++i) {
        const Camera& c = cameras[i];
        const uint64_t gaps = c.tally.indexes.skipped();
        const uint64_t byBuffer = gaps > c.sdkDropped ? gaps - c.sdkDropped : 0;
        std::printf("  %-8u %-4s %6d  %8llu  %8.0f  %4llu  (%4llu  %6llu)  %10llu\n", c.serial, c.bus.c_str(),
                    c.packet, static_cast<unsigned long long>(c.tally.indexes.count()), expected,
                    static_cast<unsigned long long>(gaps), static_cast<unsigned long long>(c.sdkDropped),
                    static_cast<unsigned long long>(byBuffer),
                    static_cast<unsigned long long>(c.tally.callbacks));
    }
    std::printf("  total: %llu images received of %.0f expected (%.1f images/s), %llu lost (SDK %llu, images "
                "buffer %llu), %llu onNewImage calls\n",
                static_cast<unsigned long long>(w.received), expected * static_cast<double>(count),
                static_cast<double>(w.received) / w.wall, static_cast<unsigned long long>(w.lost),
                static_cast<unsigned long long>(w.sdkDropped),
                static_cast<unsigned long long>(w.lost > w.sdkDropped ? w.lost - w.sdkDropped : 0),
                static_cast<unsigned long long>(w.callbacks));
    std::printf(
        "  longest time between two onNewImage of one camera: %.1f ms (host thread: longest wait for a "
        "message %.1f ms, longest dispatch %.1f ms)\n",
        w.longestWait * 1e3, w.loop.longestWait * 1e3, w.loop.longestDispatch * 1e3);
    std::printf("  process CPU: %.2f s over %.1f s (%.1f %% of one core), %.1f us per image\n", w.cpu, w.wall,
                100.0 * w.cpu / w.wall, usPerImage(w));
    std::printf("  resident memory: %.1f MiB before the start, %.1f MiB acquiring\n", mebibytes(rssBefore),
                mebibytes(w.rssAcquiring));
    std::printf("  target, no image lost: %s\n", w.lost == 0 ? "met" : "NOT met");
    destroyVideoServer();
    return w.lost == 0 ? 0 : 2;
}

} // namespace

int main(int argc, char** argv)
{
    log4cplus::Initializer logging;
    log4cplus::Logger::getRoot().addAppender(log4cplus::SharedAppenderPtr(new log4cplus::NullAppender));
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(
            stderr,
            "usage: orvex_scale_bench [--world FILE] [--seconds S] [--frame-rate FPS] [--images-buffer N] "
            "[--cameras N] [--growth S]\n");
        return 1;
    }
    try {
        return run(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "orvex_scale_bench: %s\n", error.what());
        return 1;
    }
}
