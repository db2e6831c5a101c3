// CPU per image of the FlyCapture SDK's image path, two ways in one run:
// the simulated SDK (the camera model hands images over in process) and the
// SDK over libdc1394 over the simulated /dev/fw* devices (isochronous
// packets through the firewire interface, as on a Linux machine; here the
// device layer's copying of every packet counts too, which a real card's DMA
// does for free). Camera 0 of the default world, full size, 8-bit mono, the
// largest packet its iso speed allows, LockLatest/Unlock as fast as images
// come. Run under scripts/with-simulated-firewire.sh:
//
//   scripts/with-simulated-firewire.sh build/bin/sdk_paths_bench [images, default 60]
#include "PGRFlyCapture.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

double wallSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

// The SDK functions the bench calls, from one loaded library.
struct Sdk {
    decltype(&flycaptureCreateContext) create;
    decltype(&flycaptureDestroyContext) destroy;
    decltype(&flycaptureInitializePlus) initialize;
    decltype(&flycaptureGetCustomImagePacketInfo) packetInfo;
    decltype(&flycaptureStartCustomImagePacket) start;
    decltype(&flycaptureSetGrabTimeoutEx) timeout;
    decltype(&flycaptureLockLatest) lock;
    decltype(&flycaptureUnlock) unlock;
    decltype(&flycaptureStop) stop;
    decltype(&flycaptureErrorToString) text;
};

template <typename F> bool resolve(void* library, const char* name, F& function)
{
    function = reinterpret_cast<F>(dlsym(library, name));
    if (!function)
        std::fprintf(stderr, "%s lacks %s\n", dlerror(), name);
    return function != nullptr;
}

bool load(const char* path, Sdk& sdk)
{
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL); // kept: its threads live on
    if (!library) {
        std::fprintf(stderr, "%s\n", dlerror());
        return false;
    }
    return resolve(library, "flycaptureCreateContext", sdk.create) &&
           resolve(library, "flycaptureDestroyContext", sdk.destroy) &&
           resolve(library, "flycaptureInitializePlus", sdk.initialize) &&
           resolve(library, "flycaptureGetCustomImagePacketInfo", sdk.packetInfo) &&
           resolve(library, "flycaptureStartCustomImagePacket", sdk.start) &&
           resolve(library, "flycaptureSetGrabTimeoutEx", sdk.timeout) &&
           resolve(library, "flycaptureLockLatest", sdk.lock) &&
           resolve(library, "flycaptureUnlock", sdk.unlock) && resolve(library, "flycaptureStop", sdk.stop) &&
           resolve(library, "flycaptureErrorToString", sdk.text);
}

struct Result {
    bool ok = false;
    double cpuMsPerImage = 0, fps = 0;
    unsigned width = 0, height = 0, packet = 0;
};

bool check(const Sdk& sdk, FlyCaptureError error, const char* what)
{
    if (error != FLYCAPTURE_OK)
        std::fprintf(stderr, "%s: %s\n", what, sdk.text(error));
    return error == FLYCAPTURE_OK;
}

Result measure(const Sdk& sdk, unsigned images)
{
    constexpr unsigned kWidth = 1624, kHeight = 1224, kBuffers = 8, kWarmUp = 3;
    Result r;
    FlyCaptureContext c = nullptr;
    FlyCapturePacketInfo info{};
    if (!check(sdk, sdk.create(&c), "create") ||
        !check(sdk, sdk.initialize(c, 0, kBuffers, nullptr), "initialize") ||
        !check(sdk, sdk.packetInfo(c, 0, kWidth, kHeight, FLYCAPTURE_MONO8, &info), "packet info") ||
        !check(sdk, sdk.start(c, 0, 0, 0, kWidth, kHeight, info.uiMaxSizeBytes, FLYCAPTURE_MONO8), "start") ||
        !check(sdk, sdk.timeout(c, 5000), "time-out"))
        return r;
    double cpu0 = 0, wall0 = 0;
    for (unsigned i = 0; i < images + kWarmUp; ++i) {
        if (i == kWarmUp) {
            cpu0 = cpuSeconds();
            wall0 = wallSeconds();
        }
        FlyCaptureImage image{};
        if (!check(sdk, sdk.lock(c, &image), "lock") ||
            !check(sdk, sdk.unlock(c, image.uiBufferIndex), "unlock"))
            return r;
    }
    const double cpu = cpuSeconds() - cpu0, wall = wallSeconds() - wall0;
    sdk.stop(c);
    sdk.destroy(c);
    r.ok = true;
    r.cpuMsPerImage = 1e3 * cpu / images;
    r.fps = images / wall;
    r.width = kWidth;
    r.height = kHeight;
    r.packet = info.uiMaxSizeBytes;
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    const long images = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 60;
    if (images <= 0 || images > 100000) {
        std::fprintf(stderr, "usage: %s [images, 1 to 100000]\n", argv[0]);
        return 2;
    }
    const struct {
        const char* name;
        const char* path;
    } paths[] = {{"simulated SDK", ORVEX_SIMULATED_SDK_PATH}, {"SDK over libdc1394", ORVEX_DC1394_SDK_PATH}};
    double cpu[2] = {};
    for (int i = 0; i < 2; ++i) {
        Sdk sdk{};
        if (!load(paths[i].path, sdk))
            return 1;
        const Result r = measure(sdk, static_cast<unsigned>(images));
        if (!r.ok)
            return 1;
        cpu[i] = r.cpuMsPerImage;
        std::printf("%-20s %ux%u mono8, %u-byte packets: %.3f ms CPU per image, %.2f images/s (%ld images)\n",
                    paths[i].name, r.width, r.height, r.packet, r.cpuMsPerImage, r.fps, images);
    }
    std::printf("libdc1394 / simulated SDK CPU per image: %.2f\n", cpu[1] / cpu[0]);
    return 0;
}
