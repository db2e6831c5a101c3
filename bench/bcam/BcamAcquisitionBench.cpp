// The BCAM acquisition pipeline over the simulated driver.
//
// 1. Cost, unpaced, 8-bit mono at 640x480 and at the A102f's full 1392x1040:
//    the whole pipeline (driver, the camera's acquisition thread, sample,
//    images buffer, event notification, host capture and release) against
//    the client's grab loop alone (four grabs re-queued on completion),
//    measured in the same run: images per second and process CPU
//    microseconds per image, and their ratio.
// 2. Notification latency, paced at the camera's frame rate: from the
//    software date the acquisition thread gives an image to the moment the
//    host's onNewImage runs (the camera's own window, dispatched by the host
//    thread) or a host thread waiting on the event wakes, both read on the
//    server's stopwatch: median and 99th percentile.
//
//   bcam_acquisition_bench [seconds per cost case, default 2] [latency samples, default 500]
#include "ProcessFigures.h"

#include "bcam/client/BcamExtension.h"

#include <orvex/BCAMVideoServer.h>
#include <orvex/IEEE1394Camera.h>
#include <orvex/ImageSample.h>
#include <orvex/iidc/Registers.h>
#include <orvex/sim/BcamDriver.h>
#include <orvex/sim/World.h>
#include <orvex/win32.h>

#include <log4cplus/initializer.h>
#include <log4cplus/logger.h>
#include <log4cplus/nullappender.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using namespace orvex;

constexpr uint32_t kSerial = 0xA102;
constexpr DWORD kGrabs = 4;

struct Size {
    int width;
    int height;
};

struct Figures {
    double imagesPerSecond = 0.0;
    double cpuUsPerImage = 0.0;
};

using bench::processCpuSeconds;
using bench::wallSeconds;

void freshWorld(sim::Pacing pacing)
{
    sim::World& world = sim::World::instance();
    world.clear();
    world.addBus();
    world.addCamera(0, "A102f", kSerial);
    world.setPacing(pacing);
}

// The client alone: what the driver and the completion port cost.
Figures clientAlone(Size size, double seconds)
{
    freshWorld(sim::Pacing::unpaced);
    Bcam::CBcamExtension device;
    device.Open(sim::bcam::devicePath(kSerial));
    device.SetVideoMode(iidc::kFormat7, 0, bcam::kAnyIndex);
    device.FormatSeven[0].ImageSize.Assign(static_cast<DWORD>(size.width), static_cast<DWORD>(size.height));
    const DWORD bytes = device.FormatSeven[0].BytePerFrame();
    device.AllocateResources(kGrabs, bytes);
    std::vector<std::vector<uint8_t>> buffers(kGrabs, std::vector<uint8_t>(bytes));
    for (DWORD id = 0; id < kGrabs; ++id)
        device.GrabImageAsync(buffers[id].data(), bytes, id);
    device.ContinuousShot.Assign(true);
    unsigned long images = 0;
    const double wall0 = wallSeconds(), cpu0 = processCpuSeconds();
    double wall = 0.0;
    do {
        DWORD message = 0, error = 0, id = 0;
        device.WaitForCompletion(message, error, id, 10000);
        if (message != bcam::kGrabCompletedMessage || id >= kGrabs)
            break;
        device.GrabImageAsync(buffers[id].data(), bytes, id);
        ++images;
        wall = wallSeconds() - wall0;
    } while (wall < seconds);
    const double cpu = processCpuSeconds() - cpu0;
    device.ContinuousShot.Assign(false);
    device.Cancel();
    device.Close();
    return {static_cast<double>(images) / wall, cpu * 1e6 / static_cast<double>(images)};
}

IEEE1394Camera& cameraOfSize(Size size)
{
    IEEE1394VideoServer& server = createBCAMVideoServer(false);
    server.reset(true);
    IEEE1394Camera& camera = server.getCamera(0);
    camera.setSize(size.width, size.height);
    return camera;
}

// The whole pipeline, the host woken by the event, capturing the newest image.
Figures pipeline(Size size, double seconds)
{
    freshWorld(sim::Pacing::unpaced);
    IEEE1394Camera& camera = cameraOfSize(size);
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    camera.setNewImageEvent(event);
    camera.startAcquisition();
    unsigned long lastIndex = 0;
    const double wall0 = wallSeconds(), cpu0 = processCpuSeconds();
    double wall = 0.0;
    do {
        if (WaitForSingleObject(event, 10000) != WAIT_OBJECT_0)
            break;
        camera.lockImagesBuffer();
        if (camera.getImagesBufferSize() > 0) {
            lastIndex = camera.getImagesBufferContent(0)->getIdx();
            camera.captureImage(lastIndex);
            camera.releaseImage();
        }
        camera.unlockImagesBuffer();
        wall = wallSeconds() - wall0;
    } while (wall < seconds);
    const double cpu = processCpuSeconds() - cpu0;
    camera.stopAcquisition();
    destroyVideoServer();
    CloseHandle(event);
    // Every image the thread made counts, also those the host skipped.
    return {static_cast<double>(lastIndex) / wall, cpu * 1e6 / static_cast<double>(lastIndex)};
}

// --- notification latency ---------------------------------------------------------

class LatencyCallback : public ImageCB {
public:
    void onNewImage() override
    {
        IEEE1394Camera& camera = *getCamera();
        const double now = videoServer().getChrono();
        camera.lockImagesBuffer();
        if (camera.getImagesBufferSize() > 0) {
            const auto newest = camera.getImagesBufferContent(0);
            if (newest->getIdx() != lastIndex) {
                lastIndex = newest->getIdx();
                delays.push_back(now - newest->getSWDate());
            }
        }
        camera.unlockImagesBuffer();
    }
    std::vector<double> delays;
    unsigned long lastIndex = 0;
};

void printPercentiles(const char* how, std::vector<double> delays)
{
    if (delays.empty()) {
        std::printf("  %-9s no image\n", how);
        return;
    }
    std::sort(delays.begin(), delays.end());
    const double median = delays[delays.size() / 2];
    const double p99 = delays[std::min(delays.size() - 1, delays.size() * 99 / 100)];
    std::printf("  %-9s median %7.3f ms  99th percentile %7.3f ms  (%zu images)\n", how, median, p99,
                delays.size());
}

void latency(size_t samples)
{
    const Size size{640, 480};
    {
        freshWorld(sim::Pacing::frameRate);
        IEEE1394Camera& camera = cameraOfSize(size);
        auto* callback = new LatencyCallback;
        camera.setImageCB(callback, true);
        camera.startAcquisition();
        const double limit = wallSeconds() + 60.0;
        while (callback->delays.size() < samples && wallSeconds() < limit) {
            MSG message{};
            if (GetMessageA(&message, nullptr, 0, 0) <= 0)
                break;
            DispatchMessageA(&message);
        }
        camera.stopAcquisition();
        printPercentiles("callback", callback->delays);
        destroyVideoServer();
    }
    {
        freshWorld(sim::Pacing::frameRate);
        IEEE1394Camera& camera = cameraOfSize(size);
        HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        camera.setNewImageEvent(event);
        camera.startAcquisition();
        std::vector<double> delays;
        unsigned long lastIndex = 0;
        while (delays.size() < samples && WaitForSingleObject(event, 10000) == WAIT_OBJECT_0) {
            const double now = videoServer().getChrono();
            camera.lockImagesBuffer();
            if (camera.getImagesBufferSize() > 0) {
                const auto newest = camera.getImagesBufferContent(0);
                if (newest->getIdx() != lastIndex) {
                    lastIndex = newest->getIdx();
                    delays.push_back(now - newest->getSWDate());
                }
            }
            camera.unlockImagesBuffer();
        }
        camera.stopAcquisition();
        printPercentiles("event", delays);
        destroyVideoServer();
        CloseHandle(event);
    }
}

} // namespace

int main(int argc, char** argv)
{
    log4cplus::Initializer logging;
    // The library's lines are not part of what is measured.
    log4cplus::Logger::getRoot().addAppender(log4cplus::SharedAppenderPtr(new log4cplus::NullAppender));
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    const size_t samples = argc > 2 ? static_cast<size_t>(std::atol(argv[2])) : 500;
    sim::bcam::installDriverFiles();
    sim::bcam::installDriver();
    try {
        std::printf("1. BCAM pipeline cost, unpaced, 8-bit mono (process CPU per image; ratio to the client "
                    "alone)\n");
        for (const Size size : {Size{640, 480}, Size{1392, 1040}}) {
            const Figures alone = clientAlone(size, seconds);
            const Figures whole = pipeline(size, seconds);
            std::printf("  %4dx%-4d client alone %9.0f images/s %7.2f us | pipeline %9.0f images/s %7.2f us "
                        "(x%.2f)\n",
                        size.width, size.height, alone.imagesPerSecond, alone.cpuUsPerImage,
                        whole.imagesPerSecond, whole.cpuUsPerImage,
                        whole.cpuUsPerImage / alone.cpuUsPerImage);
        }
        std::printf(
            "2. notification latency, acquisition thread's software date to host, 640x480 at the camera's "
            "frame rate\n");
        latency(samples);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bcam_acquisition_bench: %s\n", error.what());
        return 1;
    }
    sim::World::instance().clear();
    return 0;
}
