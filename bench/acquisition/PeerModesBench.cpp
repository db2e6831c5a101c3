// The whole acquisition pipeline measured the way the peer benchmark
// (bench.c of the Aravis fake-camera comparison) measures its library, so
// that a script can pair the two figure by figure: one image size, images
// either unpaced or paced by the simulated camera, no pixel fill, F timed
// images after W warm-up images, and process CPU (getrusage RUSAGE_SELF:
// every thread, the simulated camera's and the acquisition thread
// included) over the timed window only.
//
// The pipeline: simulated camera and SDK, acquisition thread (normal
// variant, zero copy), sample, images buffer, event notification, and the
// host, which at every event captures each waiting image in turn (oldest
// first), reads a pixel and releases it. A timed image is one the host
// captured, as the peer counts the buffers its main thread popped.
//
// No fill: the simulated SDK draws its gradient once, when it allocates a
// buffer; per image it only stamps a bounded patch (frame information,
// frame number, a small moving square), whatever the image size.
//
// Paced: the camera's sensor could read out at the requested rate; what
// limits it is IEEE 1394: one isochronous packet per 125 us bus cycle,
// at most 8192 bytes at S800. The largest packet is used and the frame
// rate feature is switched off, so the camera runs at the fastest rate the
// bus carries, which the '#' line reports.
//
// stdout, one line (the peer's format):
//   width height frames elapsed_s frames_per_s cpu_user_s cpu_sys_s cpu_us_per_frame
// stderr, unless -q: one '#' line with the rate, what was added, captured
// and dropped, and the CPU other processes used meanwhile.
//
//   peer_modes_bench [-w W] [-H H] [-f frames] [-W warmup] [-r fps] [-u] [-q]
#include "PGRFlyCapture.h"

#include <orvex/FlyCapCamera.h>
#include <orvex/FlyCapVideoServer.h>
#include <orvex/ImageSample.h>
#include <orvex/sim/FlyCapProbes.h>
#include <orvex/sim/World.h>
#include <orvex/win32.h>

#include <log4cplus/initializer.h>
#include <log4cplus/logger.h>
#include <log4cplus/nullappender.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <getopt.h>

namespace {

using namespace orvex;

constexpr uint32_t kSerialNumber = 1;

struct Options {
    uint32_t width = 640;
    uint32_t height = 480;
    unsigned long frames = 2000;
    unsigned long warmup = 20;
    double rate = 1000.0; // what the sensor could read out; the bus may allow less
    bool unpaced = false;
    bool quiet = false;
};

double nowSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double seconds(const timeval& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
}

// CPU seconds the whole machine spent busy (all CPUs), from /proc/stat, so
// that the '#' line can tell what other processes used during the window.
double machineBusySeconds()
{
    unsigned long long v[8] = {};
    FILE* f = std::fopen("/proc/stat", "r");
    if (f == nullptr)
        return 0.0;
    const int read = std::fscanf(f, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &v[0], &v[1], &v[2], &v[3],
                                 &v[4], &v[5], &v[6], &v[7]);
    std::fclose(f);
    if (read < 8)
        return 0.0;
    // user nice system idle iowait irq softirq steal
    return static_cast<double>(v[0] + v[1] + v[2] + v[5] + v[6] + v[7]) /
           static_cast<double>(sysconf(_SC_CLK_TCK));
}

bool parse(int argc, char** argv, Options& o)
{
    int c = 0;
    while ((c = getopt(argc, argv, "w:H:f:W:r:uqh")) != -1) {
        switch (c) {
        case 'w':
            o.width = static_cast<uint32_t>(std::strtoul(optarg, nullptr, 10));
            break;
        case 'H':
            o.height = static_cast<uint32_t>(std::strtoul(optarg, nullptr, 10));
            break;
        case 'f':
            o.frames = std::strtoul(optarg, nullptr, 10);
            break;
        case 'W':
            o.warmup = std::strtoul(optarg, nullptr, 10);
            break;
        case 'r':
            o.rate = std::atof(optarg);
            break;
        case 'u':
            o.unpaced = true;
            break;
        case 'q':
            o.quiet = true;
            break;
        default:
            return false;
        }
    }
    return o.width > 0 && o.height > 0 && o.frames > 0 && o.rate > 0.0;
}

void buildWorld(const Options& o)
{
    sim::CameraConfig config = *sim::modelConfig("Grasshopper GRAS-50S5M", kSerialNumber);
    config.sensorWidth = o.width;
    config.sensorHeight = o.height;
    config.maxFrameRate = o.rate;
    config.maxRoiFrameRate = o.rate;
    sim::World& world = sim::World::instance();
    world.clear();
    sim::BusConfig bus;
    bus.speed = 800;
    world.addBus(bus);
    world.addCamera(0, config);
    world.setPacing(o.unpaced ? sim::Pacing::unpaced : sim::Pacing::frameRate);
}

// Full sensor, 8-bit, the largest packet, the shortest exposure and no
// frame rate control: the fastest the camera and its bus can go.
void configureFastest(IEEE1394Camera& camera, const Options& o)
{
    camera.setPixelFormat(pf_yMono);
    camera.setRoi(0, 0, static_cast<int>(o.width), static_cast<int>(o.height));
    camera.setNbBytesPerPacket(camera.getMaxNbBytesPerPacket());
    camera.setShutter(camera.getShutterMin());
    if (camera.isFrameRateFeatureAvailable())
        camera.enableFrameRateFeature(false);
}

uint64_t sdkDroppedImages()
{
    const HMODULE sdk = GetModuleHandleA("PGRFlyCapture.dll");
    const FARPROC address = sdk != nullptr ? GetProcAddress(sdk, sim::flycap::kDroppedImagesProbe) : nullptr;
    if (address == nullptr)
        return 0;
    const auto probe =
        reinterpret_cast<sim::flycap::DroppedImagesProbe>(reinterpret_cast<void (*)()>(address));
    return probe(kSerialNumber);
}

// What the host saw: images captured, and the range of indexes they came
// from (the gaps are images dropped before the host got to them).
struct HostTally {
    unsigned long captured = 0;
    unsigned long firstIdx = 0;
    unsigned long lastIdx = 0;
    unsigned checksum = 0;
};

// At one event: every waiting image, oldest first, captured and released.
void captureWaiting(IEEE1394Camera& camera, HostTally& tally)
{
    camera.lockImagesBuffer();
    for (unsigned long n = camera.getImagesBufferSize(); n > 0; --n) {
        // Capturing drops the older ones: the oldest left is always last.
        const unsigned long idx = camera.getImagesBufferContent(n - 1)->getIdx();
        const boost::shared_ptr<ImageSample> image = camera.captureImage(idx);
        tally.checksum += static_cast<const unsigned char*>(image->getImage()->data())[100];
        camera.releaseImage();
        if (tally.captured == 0)
            tally.firstIdx = idx;
        tally.lastIdx = idx;
        ++tally.captured;
    }
    camera.unlockImagesBuffer();
}

int run(const Options& o)
{
    buildWorld(o);
    IEEE1394VideoServer& server = createFlyCapVideoServer(false);
    server.reset(true);
    IEEE1394Camera& camera = server.getCamera(0);
    configureFastest(camera, o);
    const double periodSeconds = sim::World::instance().camera(kSerialNumber)->framePeriodSeconds();
    const int packetBytes = camera.getNbBytesPerPacket();
    const HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    camera.setNewImageEvent(event);

    HostTally warm, timed;
    rusage ru0{}, ru1{};
    double t0 = 0.0, busy0 = 0.0;
    uint64_t sdkDropped0 = 0;
    camera.startAcquisition();
    bool timedOut = false;
    while (warm.captured < o.warmup && !timedOut) {
        timedOut = WaitForSingleObject(event, 2000) != WAIT_OBJECT_0;
        captureWaiting(camera, warm);
    }
    getrusage(RUSAGE_SELF, &ru0);
    busy0 = machineBusySeconds();
    sdkDropped0 = sdkDroppedImages();
    t0 = nowSeconds();
    while (timed.captured < o.frames && !timedOut) {
        timedOut = WaitForSingleObject(event, 2000) != WAIT_OBJECT_0;
        captureWaiting(camera, timed);
    }
    const double t1 = nowSeconds();
    getrusage(RUSAGE_SELF, &ru1);
    const double busy1 = machineBusySeconds();
    const uint64_t sdkDropped = sdkDroppedImages() - sdkDropped0;
    camera.stopAcquisition();
    camera.setNewImageEvent(nullptr);
    CloseHandle(event);
    destroyVideoServer();
    if (timedOut) {
        std::fprintf(stderr, "peer_modes_bench: no image for 2 s after %lu images\n", timed.captured);
        return 1;
    }

    const double elapsed = t1 - t0;
    const double user = seconds(ru1.ru_utime) - seconds(ru0.ru_utime);
    const double sys = seconds(ru1.ru_stime) - seconds(ru0.ru_stime);
    const auto frames = static_cast<double>(timed.captured);
    std::printf("%u %u %lu %.6f %.1f %.6f %.6f %.2f\n", o.width, o.height, timed.captured, elapsed,
                frames / elapsed, user, sys, (user + sys) * 1e6 / frames);
    std::fflush(stdout);
    if (!o.quiet) {
        // Images the thread added in the window: the index range the host
        // captured from (the frame counter is off, so indexes are consecutive).
        const unsigned long added = timed.lastIdx - timed.firstIdx + 1;
        const double foreign = (busy1 - busy0 - user - sys) / elapsed;
        std::fprintf(stderr,
                     "# orvex pacing=%s camera_fps=%.2f (sensor %.0f, bus S800 packets of %d bytes) "
                     "added=%lu captured=%lu dropped_by_buffer=%lu dropped_by_sdk=%llu "
                     "cpu_us_per_added=%.2f ctx_vol=%ld ctx_invol=%ld foreign_cpus=%.2f checksum=%u\n",
                     o.unpaced ? "unpaced" : "frameRate", 1.0 / periodSeconds, o.rate, packetBytes, added,
                     timed.captured, added - timed.captured, static_cast<unsigned long long>(sdkDropped),
                     (user + sys) * 1e6 / static_cast<double>(added), ru1.ru_nvcsw - ru0.ru_nvcsw,
                     ru1.ru_nivcsw - ru0.ru_nivcsw, foreign < 0.0 ? 0.0 : foreign,
                     timed.checksum + warm.checksum);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: %s [-w width] [-H height] [-f timed images] [-W warm-up images] "
                     "[-r sensor fps] [-u unpaced] [-q]\n",
                     argv[0]);
        return 2;
    }
    log4cplus::Initializer logging;
    // As a host that keeps warnings only: the per-image stream line is a
    // diagnostic a host switches on, and the peer logs nothing per image.
    log4cplus::Logger root = log4cplus::Logger::getRoot();
    root.addAppender(log4cplus::SharedAppenderPtr(new log4cplus::NullAppender));
    root.setLogLevel(log4cplus::WARN_LOG_LEVEL);
    return run(options);
}
