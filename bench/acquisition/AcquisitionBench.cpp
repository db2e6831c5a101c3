// The acquisition pipeline over the simulated FlyCapture SDK.
//
// 1. Cost: the simulated SDK unpaced, 8-bit mono at 640x480 and 2448x2048,
//    normal and WOW64 thread. The whole pipeline (SDK, acquisition thread,
//    sample, images buffer, event notification, host capture and release)
//    against the simulated SDK alone (LockLatest/Unlock loop) measured in the
//    same run: images per second and process CPU microseconds per image.
// 2. Notification latency: a host-fired software trigger makes the image
//    available in the SDK at once; the time until the host's onNewImage (the
//    camera's own window, dispatched by the host thread) or until a waiting
//    event wakes, at 30 and 1000 triggers per second: median and 99th
//    percentile; beside them, in the same run, the floor of two plain
//    thread hand-offs, which is what waking threads costs on the machine.
//
// The host keeps warnings only, so the per-image line on "Orvex.stream" is
// not written; "log" as third argument switches it on (INFO, into a null
// appender), which is what a host that configures no logging gets.
//
//   acquisition_bench [seconds per cost case, default 2] [latency samples at 1000 Hz, default 2000] [log]
#include "PGRFlyCapture.h"
#include "ProcessFigures.h"

#include <orvex/FlyCapCamera.h>
#include <orvex/FlyCapVideoServer.h>
#include <orvex/ImageSample.h>
#include <orvex/iidc/Registers.h>
#include <orvex/sim/World.h>
#include <orvex/win32.h>
#include <orvex/win32_testing.h>

#include <log4cplus/initializer.h>
#include <log4cplus/logger.h>
#include <log4cplus/nullappender.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace orvex;
namespace iidc = orvex::iidc;

using orvex::bench::processCpuSeconds;
using orvex::bench::wallSeconds;

struct Figures {
    double imagesPerSecond = 0.0;
    double cpuUsPerImage = 0.0;
};

sim::CameraConfig cameraOf(uint32_t width, uint32_t height)
{
    sim::CameraConfig config = *sim::modelConfig("Grasshopper GRAS-50S5M", 1);
    config.sensorWidth = width;
    config.sensorHeight = height;
    return config;
}

void freshWorld(uint32_t width, uint32_t height, sim::Pacing pacing)
{
    sim::World& world = sim::World::instance();
    world.clear();
    world.addBus();
    world.addCamera(0, cameraOf(width, height));
    world.setPacing(pacing);
}

// The simulated SDK alone.
Figures sdkAlone(uint32_t width, uint32_t height, double seconds)
{
    freshWorld(width, height, sim::Pacing::unpaced);
    FlyCaptureContext context = nullptr;
    flycaptureCreateContext(&context);
    flycaptureInitializePlus(context, 0, 9, nullptr);
    FlyCapturePacketInfo info{};
    flycaptureGetCustomImagePacketInfo(context, 0, width, height, FLYCAPTURE_MONO8, &info);
    flycaptureStartCustomImagePacket(context, 0, 0, 0, width, height, info.uiMaxSizeBytes, FLYCAPTURE_MONO8);
    FlyCaptureImage image{};
    unsigned long images = 0;
    unsigned checksum = 0;
    const double wall0 = wallSeconds(), cpu0 = processCpuSeconds();
    double wall = 0.0;
    do {
        for (int i = 0; i < 1000; ++i) {
            if (flycaptureLockLatest(context, &image) != FLYCAPTURE_OK)
                std::abort();
            checksum += image.pData[0];
            flycaptureUnlock(context, image.uiBufferIndex);
        }
        images += 1000;
        wall = wallSeconds() - wall0;
    } while (wall < seconds);
    const double cpu = processCpuSeconds() - cpu0;
    flycaptureStop(context);
    flycaptureDestroyContext(context);
    if (checksum == 1)
        std::printf(" ");
    return {static_cast<double>(images) / wall, cpu * 1e6 / static_cast<double>(images)};
}

// The whole pipeline, the host capturing and releasing the newest image at
// every event.
Figures pipeline(uint32_t width, uint32_t height, bool wow64, double seconds)
{
    using win32::testing::Wow64;
    win32::testing::setWow64(wow64 ? Wow64::wow64 : Wow64::native);
    freshWorld(width, height, sim::Pacing::unpaced);
    IEEE1394VideoServer& server = createFlyCapVideoServer(false);
    server.reset(true);
    IEEE1394Camera& camera = server.getCamera(0);
    const HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    camera.setNewImageEvent(event);
    unsigned long captured = 0;
    unsigned checksum = 0;

    camera.startAcquisition();
    const double wall0 = wallSeconds(), cpu0 = processCpuSeconds();
    unsigned long firstIdx = 0, lastIdx = 0;
    double wall = 0.0;
    do {
        if (WaitForSingleObject(event, 1000) != WAIT_OBJECT_0)
            continue;
        camera.lockImagesBuffer();
        if (camera.getImagesBufferSize() > 0) {
            const unsigned long idx = camera.getImagesBufferContent(0)->getIdx();
            const boost::shared_ptr<ImageSample> image = camera.captureImage(idx);
            checksum += static_cast<const unsigned char*>(image->getImage()->data())[100];
            camera.releaseImage();
            if (firstIdx == 0)
                firstIdx = idx;
            lastIdx = idx;
            ++captured;
        }
        camera.unlockImagesBuffer();
        wall = wallSeconds() - wall0;
    } while (wall < seconds);
    const double cpu = processCpuSeconds() - cpu0;
    camera.stopAcquisition();
    camera.setNewImageEvent(nullptr);
    CloseHandle(event);
    destroyVideoServer();
    win32::testing::setWow64(Wow64::native);
    if (checksum == 1)
        std::printf(" ");
    // Every image the thread added, captured by the host or not.
    const double images = static_cast<double>(lastIdx - firstIdx + 1);
    return {images / wall, cpu * 1e6 / images};
}

// One copy of an image as the WOW64 thread makes it: from one of the SDK's
// five buffers into one of the camera's slots, in turn, so that the caches
// hold as little of them as in the pipeline.
double memcpyUs(uint32_t width, uint32_t height, double seconds)
{
    const size_t bytes = size_t{width} * height;
    std::vector<std::vector<unsigned char>> sdk(5, std::vector<unsigned char>(bytes, 1));
    std::vector<std::vector<unsigned char>> slots(9, std::vector<unsigned char>(bytes, 2));
    unsigned long copies = 0;
    const double cpu0 = processCpuSeconds(), wall0 = wallSeconds();
    do {
        std::vector<unsigned char>& to = slots[copies % slots.size()];
        std::memcpy(to.data(), sdk[copies % sdk.size()].data(), bytes);
        sdk[copies % sdk.size()][copies % bytes] = to[(copies * 7) % bytes];
        ++copies;
    } while (wallSeconds() - wall0 < seconds / 4);
    return (processCpuSeconds() - cpu0) * 1e6 / static_cast<double>(copies);
}

// --- notification latency ----------------------------------------------------------

struct LatencyCB : public ImageCB {
    void onNewImage() override { notifiedAt = wallSeconds(); }
    double notifiedAt = 0.0;
};

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    const auto at = static_cast<size_t>(std::lround(p * static_cast<double>(values.size() - 1)));
    return values[at];
}

// Sleeps to the instant rather than spinning up to it: a host thread that
// burns its CPU between images is scheduled behind busier neighbours when
// it wakes for the notification, which showed as milliseconds at p99.
void waitUntil(double at)
{
    timespec t{};
    t.tv_sec = static_cast<time_t>(at);
    t.tv_nsec = static_cast<long>((at - static_cast<double>(t.tv_sec)) * 1e9);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
    }
}

// The floor of the same path with nothing of ours in it: the host hands a
// request to a sleeping thread, which wakes the waiting host back (mutex
// and condition variable each way), as the trigger wakes the acquisition
// thread and the thread wakes the host.
struct Hop {
    std::mutex m;
    std::condition_variable cv;
    uint64_t count = 0;
};

void pass(Hop& hop, uint64_t count)
{
    {
        std::lock_guard<std::mutex> lock(hop.m);
        hop.count = count;
    }
    hop.cv.notify_one();
}

void await(Hop& hop, uint64_t count)
{
    std::unique_lock<std::mutex> lock(hop.m);
    hop.cv.wait(lock, [&] { return hop.count >= count; });
}

std::vector<double> floorLatency(double rate, size_t samples)
{
    Hop request, reply;
    std::thread worker([&] {
        for (uint64_t i = 1; i <= samples; ++i) {
            await(request, i);
            pass(reply, i);
        }
    });
    std::vector<double> out;
    double next = wallSeconds();
    for (uint64_t i = 1; i <= samples; ++i) {
        next += 1.0 / rate;
        waitUntil(next);
        const double fired = wallSeconds();
        pass(request, i);
        await(reply, i);
        out.push_back(wallSeconds() - fired);
    }
    worker.join();
    return out;
}

// Latencies of one way of notifying, from two starts: the trigger write
// (the register write included) and its return, by which the simulated SDK
// has the image (the camera makes it inside the write). The time the image
// became available lies between the two.
struct Latencies {
    std::vector<double> fromWrite;
    std::vector<double> fromArrival;
};

void printLatencies(const char* what, const Latencies& l)
{
    std::printf("    %-10s from arrival: median %7.1f us  p99 %8.1f us | from the write: median %7.1f us  "
                "p99 %8.1f us\n",
                what, percentile(l.fromArrival, 0.5) * 1e6, percentile(l.fromArrival, 0.99) * 1e6,
                percentile(l.fromWrite, 0.5) * 1e6, percentile(l.fromWrite, 0.99) * 1e6);
}

void latency(double rate, size_t samples)
{
    freshWorld(640, 480, sim::Pacing::unpaced);
    IEEE1394VideoServer& server = createFlyCapVideoServer(false);
    server.reset(true);
    IEEE1394Camera& camera = server.getCamera(0);
    unsigned long mode = 0;
    camera.readRegister(iidc::kTriggerMode, mode);
    camera.writeRegister(iidc::kTriggerMode, mode | iidc::kTriggerOn);
    auto* cb = new LatencyCB;
    camera.setImageCB(cb, true);
    const HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);

    Latencies viaCallback, viaEvent;
    for (int how = 0; how < 2; ++how) {
        camera.setNewImageEvent(how == 1 ? event : nullptr);
        camera.startAcquisition();
        Latencies& out = how == 0 ? viaCallback : viaEvent;
        double next = wallSeconds();
        for (size_t i = 0; i < samples; ++i) {
            next += 1.0 / rate;
            waitUntil(next);
            cb->notifiedAt = 0.0;
            const double fired = wallSeconds();
            camera.writeRegister(iidc::kSoftwareTrigger, iidc::kSoftwareTriggerFire);
            const double arrived = wallSeconds();
            double notified = 0.0;
            if (how == 0) {
                MSG msg;
                while (cb->notifiedAt == 0.0 && GetMessageA(&msg, nullptr, 0, 0) > 0)
                    DispatchMessageA(&msg);
                notified = cb->notifiedAt;
            } else {
                WaitForSingleObject(event, 1000);
                notified = wallSeconds();
            }
            out.fromWrite.push_back(notified - fired);
            out.fromArrival.push_back(notified - arrived);
            // Keep the buffer from holding SDK buffers for long.
            camera.lockImagesBuffer();
            camera.unlockImagesBuffer();
        }
        camera.stopAcquisition();
    }
    camera.setNewImageEvent(nullptr);
    CloseHandle(event);
    destroyVideoServer();
    const std::vector<double> floor = floorLatency(rate, samples);
    std::printf("  %6.0f Hz (%zu samples)\n", rate, samples);
    printLatencies("onNewImage", viaCallback);
    printLatencies("event", viaEvent);
    std::printf("    floor (two plain thread hand-offs): median %7.1f us  p99 %8.1f us\n",
                percentile(floor, 0.5) * 1e6, percentile(floor, 0.99) * 1e6);
}

} // namespace

int main(int argc, char** argv)
{
    log4cplus::Initializer logging;
    log4cplus::Logger root = log4cplus::Logger::getRoot();
    root.addAppender(log4cplus::SharedAppenderPtr(new log4cplus::NullAppender));
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    const size_t samples = argc > 2 ? static_cast<size_t>(std::atol(argv[2])) : 2000;
    const bool streamLog = argc > 3 && std::string(argv[3]) == "log";
    root.setLogLevel(streamLog ? log4cplus::DEBUG_LOG_LEVEL : log4cplus::WARN_LOG_LEVEL);
    std::printf("per-image line on \"Orvex.stream\": %s\n", streamLog ? "on (INFO, null appender)" : "off");

    std::printf("1. pipeline cost, unpaced, 8-bit mono (process CPU per image; ratio to the SDK alone)\n");
    struct Size {
        uint32_t width, height;
    };
    double vgaNormalCpu = 0.0;
    for (const Size size : {Size{640, 480}, Size{2448, 2048}}) {
        const Figures alone = sdkAlone(size.width, size.height, seconds);
        const Figures normal = pipeline(size.width, size.height, false, seconds);
        const Figures wow64 = pipeline(size.width, size.height, true, seconds);
        if (size.width == 640)
            vgaNormalCpu = normal.cpuUsPerImage;
        std::printf("  %4ux%-4u SDK alone %9.0f images/s %7.2f us | normal %9.0f images/s %7.2f us (x%.2f) | "
                    "wow64 %9.0f images/s %7.2f us (x%.2f; +%.2f us over normal)\n",
                    size.width, size.height, alone.imagesPerSecond, alone.cpuUsPerImage,
                    normal.imagesPerSecond, normal.cpuUsPerImage, normal.cpuUsPerImage / alone.cpuUsPerImage,
                    wow64.imagesPerSecond, wow64.cpuUsPerImage, wow64.cpuUsPerImage / alone.cpuUsPerImage,
                    wow64.cpuUsPerImage - normal.cpuUsPerImage);
        std::printf("  %4ux%-4u one memcpy of the image: %.2f us\n", size.width, size.height,
                    memcpyUs(size.width, size.height, seconds));
        if (size.width != 640)
            std::printf("  normal pipeline CPU per image, 5 MP / VGA: x%.2f\n",
                        normal.cpuUsPerImage / vgaNormalCpu);
    }

    std::printf("3. notification latency, software trigger to host (640x480)\n");
    latency(30.0, std::max<size_t>(samples / 5, 50));
    latency(1000.0, samples);
    return 0;
}
