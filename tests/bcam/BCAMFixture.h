// What the BCAM camera and server tests share: the client's simulated world
// (driver 1.8, an A102f and an A312f on a bus of their own) with a BCAM
// video server that each test creates and the fixture destroys.
#pragma once

#include "bcam/BcamClientFixture.h"
#include "support/ErrorOf.h"

#include <orvex/BCAMCamera.h>
#include <orvex/BCAMVideoServer.h>
#include <orvex/IEEE1394Camera.h>
#include <orvex/sim/CameraConfig.h>

namespace orvex::bcam::test {

// Basler's IEEE OUI, the upper bits of the cameras' identifiers.
constexpr uint32_t kBaslerIdentifierHigh = 0x003053U << 8U;

class BCAMServerTest : public BcamClientTest {
protected:
    void TearDown() override
    {
        if (isVideoServerAllocated()) {
            destroyVideoServer();
        }
        BcamClientTest::TearDown();
    }

    // A server with its cameras, initialised or not.
    IEEE1394VideoServer& serverWithCameras(bool init = true)
    {
        IEEE1394VideoServer& server = createBCAMVideoServer(false);
        server.reset(init);
        return server;
    }

    IEEE1394Camera& cameraOf(uint32_t serial)
    {
        return videoServer().getCamera(CamGUID(serial, kBaslerIdentifierHigh));
    }

    // Replaces the A102f `previous` by one whose extended version names
    // firmware `firmware`; it comes after the A312f in the driver's order.
    void replaceA102fWithFirmware(unsigned firmware, uint32_t serial, uint32_t previous = kA102fSerial)
    {
        world().unplugCamera(previous);
        orvex::sim::CameraConfig config = *orvex::sim::modelConfig("A102f", serial);
        config.extendedVersion =
            "A102f ID=100 FW=" + std::to_string(firmware) + " v1.0." + std::to_string(firmware) + ".0";
        world().addCamera(kBcamBus, config);
    }
};

} // namespace orvex::bcam::test
