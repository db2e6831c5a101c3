// The simulated FlyCapture SDK alone: an unpaced LockLatest/Unlock loop, the
// baseline against which the acquisition pipeline above it is measured.
// Prints images per second and CPU microseconds per image for 640x480 and
// 2448x2048 8-bit mono, without and with every embedded frame-information
// item. The cost per image must not grow with the image size.
//
//   sim_locklatest_bench [seconds per case, default 2]
#include "ProcessFigures.h"

#include "PGRFlyCapture.h"

#include <orvex/iidc/FrameInfo.h>
#include <orvex/iidc/Registers.h>
#include <orvex/sim/World.h>

#include <cstdio>
#include <cstdlib>

namespace {

using namespace orvex;

using bench::processCpuSeconds;
using bench::wallSeconds;

bool check(FlyCaptureError error, const char* what)
{
    if (error != FLYCAPTURE_OK)
        std::fprintf(stderr, "%s: %s\n", what, flycaptureErrorToString(error));
    return error == FLYCAPTURE_OK;
}

bool runCase(const char* model, unsigned width, unsigned height, bool frameInfo, double seconds)
{
    sim::World& world = sim::World::instance();
    world.clear();
    world.addBus();
    world.addCamera(0, model, 1);
    world.setPacing(sim::Pacing::unpaced);

    FlyCaptureContext context = nullptr;
    if (!check(flycaptureCreateContext(&context), "flycaptureCreateContext") ||
        !check(flycaptureInitializePlus(context, 0, 8, nullptr), "flycaptureInitializePlus"))
        return false;
    if (frameInfo && !check(flycaptureSetCameraRegister(context, iidc::kFrameInfo - iidc::kRegisterBase,
                                                        iidc::frameinfo::kAllItems),
                            "flycaptureSetCameraRegister"))
        return false;
    FlyCapturePacketInfo info{};
    if (!check(flycaptureGetCustomImagePacketInfo(context, 0, width, height, FLYCAPTURE_MONO8, &info),
               "flycaptureGetCustomImagePacketInfo") ||
        !check(flycaptureStartCustomImagePacket(context, 0, 0, 0, width, height, info.uiMaxSizeBytes,
                                                FLYCAPTURE_MONO8),
               "flycaptureStartCustomImagePacket"))
        return false;

    FlyCaptureImage image{};
    unsigned long images = 0;
    unsigned checksum = 0;
    const double wall0 = wallSeconds(), cpu0 = processCpuSeconds();
    double wall = 0.0;
    do {
        for (int i = 0; i < 1000; ++i) {
            if (!check(flycaptureLockLatest(context, &image), "flycaptureLockLatest"))
                return false;
            checksum += image.pData[0];
            if (!check(flycaptureUnlock(context, image.uiBufferIndex), "flycaptureUnlock"))
                return false;
        }
        images += 1000;
        wall = wallSeconds() - wall0;
    } while (wall < seconds);
    const double cpu = processCpuSeconds() - cpu0;

    std::printf(
        "%4ux%-4u mono8  frame info %-3s  %9.0f images/s  %6.2f CPU us/image  (%lu images, checksum %u)\n",
        width, height, frameInfo ? "on" : "off", images / wall, cpu * 1e6 / images, images, checksum & 0xFF);
    flycaptureStop(context);
    flycaptureDestroyContext(context);
    world.clear();
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    std::printf("simulated FlyCapture SDK, unpaced LockLatest/Unlock loop, 8 SDK buffers\n");
    bool ok = true;
    for (bool frameInfo : {false, true}) {
        ok = ok && runCase("Grasshopper GRAS-20S4M", 640, 480, frameInfo, seconds);
        ok = ok && runCase("Grasshopper GRAS-50S5M", 2448, 2048, frameInfo, seconds);
    }
    return ok ? 0 : 1;
}
