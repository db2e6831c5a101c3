// The whole acquisition pipeline measured the way the peer benchmark
// (bench.c of the Aravis fake-camera comparison) measures its library, so
// that a script can pair the two figure by figure: one image size, images
// either unpaced or paced by the simulated camera, no pixel fill, F timed
// images after W warm-up images, and process CPU (getrusage RUSAGE_SELF:
// every thread, the acquisition thread and the host included; the simulated
// camera makes its images inside the SDK's lock call, on no thread of its
// own) over the timed window only.
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
// -b N runs the relay floor (RelayFloor.h) instead, N threads at -r fps.
//
//   peer_modes_bench [-w W] [-H H] [-f frames] [-W warmup] [-r fps] [-u] [-b N] [-q]
#include "PGRFlyCapture.h"
#include "ProcessFigures.h"
#include "RelayFloor.h"
#include "SdkProbes.h"

#include <orvex/FlyCapCamera.h>
#include <orvex/FlyCapVideoServer.h>
#include <orvex/ImageSample.h>
#include <orvex/iidc/Registers.h>
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
#include <dirent.h>
#include <getopt.h>
#include <map>
#include <string>

namespace {

using namespace orvex;

constexpr uint32_t kSerialNumber = 1;
// The 1394b speed code of S800.
constexpr unsigned long kIsoSpeedS800 = 3;

struct Options {
    uint32_t width = 640;
    uint32_t height = 480;
    unsigned long frames = 2000;
    unsigned long warmup = 20;
    double rate = 1000.0; // what the sensor could read out; the bus may allow less
    bool unpaced = false;
    bool quiet = false;
    unsigned relayThreads = 0; // not 0: the relay floor with that many threads instead of the pipeline
};

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

// Per thread of this process (by thread id, so in creation order): CPU
// nanoseconds and voluntary context switches, to show which thread an
// image's cost goes to.
struct ThreadUse {
    double cpuNs = 0.0;
    double switches = 0.0;
};

std::map<long, ThreadUse> threadUse()
{
    std::map<long, ThreadUse> use;
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr)
        return use;
    while (const dirent* entry = readdir(tasks)) {
        const long tid = std::strtol(entry->d_name, nullptr, 10);
        if (tid <= 0)
            continue;
        const std::string dir = std::string("/proc/self/task/") + entry->d_name;
        ThreadUse& u = use[tid];
        if (FILE* f = std::fopen((dir + "/schedstat").c_str(), "r")) {
            if (std::fscanf(f, "%lf", &u.cpuNs) != 1)
                u.cpuNs = 0.0;
            std::fclose(f);
        }
        if (FILE* f = std::fopen((dir + "/status").c_str(), "r")) {
            char line[256];
            while (std::fgets(line, sizeof line, f) != nullptr)
                std::sscanf(line, "voluntary_ctxt_switches: %lf", &u.switches);
            std::fclose(f);
        }
    }
    closedir(tasks);
    return use;
}

// "tid:us/image:switches/image" for every thread that ran in the window.
std::string threadShares(const std::map<long, ThreadUse>& before, const std::map<long, ThreadUse>& after,
                         double images)
{
    std::string text;
    for (const auto& [tid, end] : after) {
        const auto start = before.find(tid);
        const ThreadUse zero;
        const ThreadUse& begin = start != before.end() ? start->second : zero;
        char item[96];
        std::snprintf(item, sizeof item, " %ld:%.2f:%.2f", tid, (end.cpuNs - begin.cpuNs) * 1e-3 / images,
                      (end.switches - begin.switches) / images);
        text += item;
    }
    return text;
}

bool parse(int argc, char** argv, Options& o)
{
    int c = 0;
    while ((c = getopt(argc, argv, "w:H:f:W:r:ub:qh")) != -1) {
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
        case 'b':
            o.relayThreads = static_cast<unsigned>(std::strtoul(optarg, nullptr, 10));
            if (o.relayThreads < 2)
                return false;
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
    // The camera comes up sending at S400, whose largest packet is half of
    // S800's: switch it to S800 (1394b mode), which its bus carries.
    camera.writeRegister(iidc::kIsoChannelSpeed, iidc::kIsoOperationMode1394b | kIsoSpeedS800);
    camera.setPixelFormat(pf_yMono);
    camera.setRoi(0, 0, static_cast<int>(o.width), static_cast<int>(o.height));
    camera.setNbBytesPerPacket(camera.getMaxNbBytesPerPacket());
    camera.setShutter(camera.getShutterMin());
    if (camera.isFrameRateFeatureAvailable())
        camera.enableFrameRateFeature(false);
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

void printLine(const Options& o, unsigned long images, double elapsed, double user, double sys)
{
    const auto frames = static_cast<double>(images);
    std::printf("%u %u %lu %.6f %.1f %.6f %.6f %.2f\n", o.width, o.height, images, elapsed, frames / elapsed,
                user, sys, (user + sys) * 1e6 / frames);
    std::fflush(stdout);
}

// The floor at the rate the camera would run at: -r is taken as that rate.
int runRelayFloor(const Options& o)
{
    const bench::RelayFigures f = bench::runRelay(o.relayThreads, o.rate, o.warmup, o.frames);
    printLine(o, f.images, f.elapsedSeconds, f.cpuUserSeconds, f.cpuSystemSeconds);
    if (!o.quiet)
        std::fprintf(stderr, "# relay floor threads=%u rate=%.2f\n", o.relayThreads, o.rate);
    return 0;
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
    const std::map<long, ThreadUse> threads0 = threadUse();
    getrusage(RUSAGE_SELF, &ru0);
    busy0 = machineBusySeconds();
    sdkDropped0 = bench::sdkDroppedImages(kSerialNumber);
    t0 = orvex::bench::wallSeconds();
    while (timed.captured < o.frames && !timedOut) {
        timedOut = WaitForSingleObject(event, 2000) != WAIT_OBJECT_0;
        captureWaiting(camera, timed);
    }
    const double t1 = orvex::bench::wallSeconds();
    getrusage(RUSAGE_SELF, &ru1);
    const std::map<long, ThreadUse> threads1 = threadUse();
    const double busy1 = machineBusySeconds();
    const uint64_t sdkDropped = bench::sdkDroppedImages(kSerialNumber) - sdkDropped0;
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
    printLine(o, timed.captured, elapsed, user, sys);
    if (!o.quiet) {
        // Images the thread added in the window: the index range the host
        // captured from (the frame counter is off, so indexes are consecutive).
        const unsigned long added = timed.lastIdx - timed.firstIdx + 1;
        const double foreign = (busy1 - busy0 - user - sys) / elapsed;
        std::fprintf(stderr,
                     "# orvex pacing=%s camera_fps=%.2f (sensor %.0f, bus S800 packets of %d bytes) "
                     "added=%lu captured=%lu dropped_by_buffer=%lu dropped_by_sdk=%llu "
                     "cpu_us_per_added=%.2f ctx_vol=%ld ctx_invol=%ld foreign_cpus=%.2f checksum=%u "
                     "threads(tid:us/image:voluntary switches/image)%s\n",
                     o.unpaced ? "unpaced" : "frameRate", 1.0 / periodSeconds, o.rate, packetBytes, added,
                     timed.captured, added - timed.captured, static_cast<unsigned long long>(sdkDropped),
                     (user + sys) * 1e6 / static_cast<double>(added), ru1.ru_nvcsw - ru0.ru_nvcsw,
                     ru1.ru_nivcsw - ru0.ru_nivcsw, foreign < 0.0 ? 0.0 : foreign,
                     timed.checksum + warm.checksum, threadShares(threads0, threads1, frames).c_str());
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
                     "[-r sensor fps] [-u unpaced] [-b relay threads] [-q]\n",
                     argv[0]);
        return 2;
    }
    log4cplus::Initializer logging;
    // As a host that keeps warnings only: the per-image stream line is a
    // diagnostic a host switches on, and the peer logs nothing per image.
    log4cplus::Logger root = log4cplus::Logger::getRoot();
    root.addAppender(log4cplus::SharedAppenderPtr(new log4cplus::NullAppender));
    root.setLogLevel(log4cplus::WARN_LOG_LEVEL);
    return options.relayThreads != 0 ? runRelayFloor(options) : run(options);
}
