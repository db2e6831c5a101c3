// Many cameras at once: every camera of a world file (by default 16
// FlyCapture cameras, 640x480 8-bit mono, four on each of four S400 buses,
// each bus within its isochronous budget) acquiring at 30 frames per second,
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
// The images buffer reaches 3 frames back unless --images-buffer says more:
// a host thread held up longer than that loses images in the buffer.
//
//   orvex_scale_bench [--world FILE] [--seconds S] [--frame-rate FPS] [--images-buffer N]
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
#define ORVEX_SCALE_WORLD "scale-world.json"
#endif

namespace {

using namespace orvex::bench;

struct Options {
    std::string world = ORVEX_SCALE_WORLD;
    double seconds = 60.0;
    double frameRate = 30.0;
    unsigned long imagesBuffer = 0; // 0: the camera's own bound
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
        else
            return false;
    }
    return options.seconds > 0.0 && options.frameRate > 0.0;
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
    for (size_t i = 0; i < cameras.size(); ++i) {
        cameras[i].camera = &server.getCamera(static_cast<int>(i));
        setUp(cameras[i], options);
    }

    const uint64_t rssBefore = residentBytes();
    for (Camera& c : cameras) {
        c.sdkDroppedBefore = sdkDroppedImages(c.serial);
        c.camera->startAcquisition();
    }
    const double cpu0 = processCpuSeconds();
    const double wall0 = wallSeconds();
    HostLoop loop;
    dispatchFor(options.seconds, loop);
    const double cpu = processCpuSeconds() - cpu0;
    const double wall = wallSeconds() - wall0;
    const uint64_t rssAcquiring = residentBytes();
    // The books close for every camera at once: stopping one camera takes a
    // while (its thread is joined), and the others' buffers would age meanwhile.
    for (Camera& c : cameras) {
        c.host->drain();
        c.sdkDropped = sdkDroppedImages(c.serial) - c.sdkDroppedBefore;
    }
    for (Camera& c : cameras)
        c.camera->stopAcquisition();

    const double expected = options.frameRate * options.seconds;
    uint64_t received = 0, lost = 0, sdkDropped = 0, callbacks = 0;
    double longestWait = 0.0;
    std::printf("%zu cameras, %.0f fps, %.0f s, images buffers of %d (%s)\n", cameras.size(),
                options.frameRate, options.seconds, cameras.front().camera->getImagesBufferMaxSize(),
                options.world.c_str());
    std::printf("  serial   bus  packet  received  expected  lost  (SDK  buffer)  onNewImage\n");
    for (const Camera& c : cameras) {
        const uint64_t gaps = c.tally.indexes.skipped();
        const uint64_t byBuffer = gaps > c.sdkDropped ? gaps - c.sdkDropped : 0;
        std::printf("  %-8u %-4s %6d  %8llu  %8.0f  %4llu  (%4llu  %6llu)  %10llu\n", c.serial, c.bus.c_str(),
                    c.packet, static_cast<unsigned long long>(c.tally.indexes.count()), expected,
                    static_cast<unsigned long long>(gaps), static_cast<unsigned long long>(c.sdkDropped),
                    static_cast<unsigned long long>(byBuffer),
                    static_cast<unsigned long long>(c.tally.callbacks));
        received += c.tally.indexes.count();
        lost += gaps;
        sdkDropped += c.sdkDropped;
        callbacks += c.tally.callbacks;
        longestWait = std::max(longestWait, c.tally.longestWait);
    }
    std::printf("  total: %llu images received of %.0f expected (%.1f images/s), %llu lost (SDK %llu, images "
                "buffer %llu), %llu onNewImage calls\n",
                static_cast<unsigned long long>(received), expected * static_cast<double>(cameras.size()),
                static_cast<double>(received) / wall, static_cast<unsigned long long>(lost),
                static_cast<unsigned long long>(sdkDropped),
                static_cast<unsigned long long>(lost > sdkDropped ? lost - sdkDropped : 0),
                static_cast<unsigned long long>(callbacks));
    std::printf(
        "  longest time between two onNewImage of one camera: %.1f ms (host thread: longest wait for a "
        "message %.1f ms, longest dispatch %.1f ms)\n",
        longestWait * 1e3, loop.longestWait * 1e3, loop.longestDispatch * 1e3);
    std::printf("  process CPU: %.2f s over %.1f s (%.1f %% of one core), %.1f us per image\n", cpu, wall,
                100.0 * cpu / wall, received > 0 ? cpu * 1e6 / static_cast<double>(received) : 0.0);
    std::printf("  resident memory: %.1f MiB before the start, %.1f MiB acquiring\n", mebibytes(rssBefore),
                mebibytes(rssAcquiring));
    std::printf("  target, no image lost: %s\n", lost == 0 ? "met" : "NOT met");
    destroyVideoServer();
    return lost == 0 ? 0 : 2;
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
            "usage: orvex_scale_bench [--world FILE] [--seconds S] [--frame-rate FPS] [--images-buffer N]\n");
        return 1;
    }
    try {
        return run(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "orvex_scale_bench: %s\n", error.what());
        return 1;
    }
}
