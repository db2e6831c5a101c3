// The BCAM client's grab path alone, over the simulated driver: four grabs
// queued, each completion dequeued from the device's completion port and
// its buffer queued again at once, as a camera's acquisition thread does.
// Unpaced, so the figures are the cost of the path, not of a frame rate.
// Prints images per second and CPU microseconds per image at 640x480 8-bit
// mono, without and with the extended data stream, frame counter and CRC
// chunks; compare with sim_locklatest_bench, the FlyCapture simulator alone.
//
//   bcam_grab_bench [seconds per case, default 2]
#include "ProcessFigures.h"

#include "bcam/client/BcamExtension.h"

#include <orvex/iidc/Registers.h>
#include <orvex/iidc/SmartFeatures.h>
#include <orvex/sim/BcamDriver.h>
#include <orvex/sim/World.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using namespace orvex;
namespace sf = iidc::sf;

constexpr DWORD kWidth = 640;
constexpr DWORD kHeight = 480;
constexpr DWORD kGrabs = 4;
constexpr uint32_t kSerial = 1;

using bench::processCpuSeconds;
using bench::wallSeconds;

void enableSmartFeature(Bcam::CBcamExtension& device, unsigned feature)
{
    const DWORD high = iidc::kAddressHigh;
    device.WriteQuadlet(sf::kAccessControl0, high, sf::kFeatureSetId[0]);
    device.WriteQuadlet(sf::kAccessControl1, high, sf::kFeatureSetId[1]);
    for (uint32_t q = 0; q < 4; ++q)
        device.WriteQuadlet(sf::kInquiryId + 4 * q, high, sf::kFeatureIds[feature].q[q]);
    device.WriteQuadlet(device.ReadQuadlet(sf::kInquiryAddress, high), high, sf::kControlEnabled);
}

bool runCase(bool chunks, double seconds)
{
    sim::World& world = sim::World::instance();
    world.clear();
    world.addBus();
    world.addCamera(0, "A102f", kSerial);
    world.setPacing(sim::Pacing::unpaced);

    Bcam::CBcamExtension device;
    device.Open(sim::bcam::devicePath(kSerial));
    device.SetVideoMode(iidc::kFormat7, 0, bcam::kAnyIndex);
    device.FormatSeven[0].ImageSize.Assign(kWidth, kHeight);
    if (chunks) {
        enableSmartFeature(device, sf::kFeatureExtendedDataStream);
        enableSmartFeature(device, sf::kFeatureFrameCounter);
        enableSmartFeature(device, sf::kFeatureCrcChecksum);
    }
    const DWORD bytes = device.FormatSeven[0].BytePerFrame();
    device.AllocateResources(kGrabs, bytes);
    std::vector<std::vector<uint8_t>> buffers(kGrabs, std::vector<uint8_t>(bytes));
    for (DWORD id = 0; id < kGrabs; ++id)
        device.GrabImageAsync(buffers[id].data(), bytes, id);
    device.ContinuousShot.Assign(true);

    unsigned long images = 0, failures = 0;
    unsigned checksum = 0;
    const double wall0 = wallSeconds(), cpu0 = processCpuSeconds();
    double wall = 0.0;
    do {
        for (int i = 0; i < 1000; ++i) {
            DWORD message = 0, error = 0, id = 0;
            device.WaitForCompletion(message, error, id, 10000);
            if (message != bcam::kGrabCompletedMessage || id >= kGrabs) {
                std::fprintf(stderr, "no completion (error %lu)\n", static_cast<unsigned long>(error));
                return false;
            }
            failures += error != 0;
            checksum += buffers[id][0];
            device.GrabImageAsync(buffers[id].data(), bytes, id);
        }
        images += 1000;
        wall = wallSeconds() - wall0;
    } while (wall < seconds);
    const double cpu = processCpuSeconds() - cpu0;

    std::printf("%4lux%-4lu mono8  chunks %-3s  %9.0f images/s  %6.2f CPU us/image  (%lu images, %lu failed, "
                "checksum %u)\n",
                static_cast<unsigned long>(kWidth), static_cast<unsigned long>(kHeight),
                chunks ? "on" : "off", images / wall, cpu * 1e6 / images, images, failures, checksum & 0xFF);
    device.ContinuousShot.Assign(false);
    device.Cancel();
    device.Close();
    // Completions of the cancelled grabs stay in the port until the device
    // goes, which frees them.
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    sim::bcam::installDriver();
    sim::bcam::installDriverFiles();
    std::printf("BCAM client over the simulated driver, unpaced, %lu grabs re-queued on completion\n",
                static_cast<unsigned long>(kGrabs));
    try {
        if (!runCase(false, seconds) || !runCase(true, seconds))
            return 1;
    } catch (const Bcam::BcamException& e) {
        std::fprintf(stderr, "%s: %s", e.Context().c_str(), e.what());
        return 1;
    }
    sim::World::instance().clear();
    return 0;
}
