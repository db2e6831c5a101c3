// What the driver's requests do to one camera, through its registers only,
// as the kernel driver would over the bus. Each operation answers a kernel
// status: success, the driver's own codes (BcamProtocol.h) or
// device-not-connected once the camera left the bus.
//
// Threads: any thread; the camera serialises its own register transactions.
#pragma once

#include <orvex/sim/Camera.h>
#include <orvex/win32_driver.h>

#include <cstdint>
#include <memory>
#include <string>

namespace orvex::sim::bcam {

using win32::driver::NTSTATUS;

struct Format7Inquiry {
    uint32_t maxWidth = 0, maxHeight = 0;
    uint32_t unitWidth = 0, unitHeight = 0;
    uint32_t unitLeft = 0, unitTop = 0;
    uint32_t colorCodings = 0;
    uint32_t packetUnit = 0, packetMax = 0;
};

struct ImageArea {
    uint32_t left = 0, top = 0, width = 0, height = 0;
};

struct FrameSize {
    uint32_t frameBytes = 0, packetUnit = 0, packetMax = 0, packetBytes = 0, packetsPerFrame = 0;
    uint32_t pixelBytes = 0, chunkBytes = 0;
};

class CameraControl {
public:
    explicit CameraControl(std::shared_ptr<Camera> camera) : _camera(std::move(camera)) {}

    NTSTATUS read(uint32_t address, uint32_t& value) const;
    NTSTATUS write(uint32_t address, uint32_t value) const;

    // Video modes: the inquiry quadlets of the IIDC layout.
    NTSTATUS formatInquiry(uint32_t& bits) const;
    NTSTATUS modeInquiry(uint32_t format, uint32_t& bits) const;
    // Rate inquiry of a fixed mode; for Format_7 the presence bit of the mode.
    NTSTATUS rateInquiry(uint32_t format, uint32_t mode, uint32_t& bits) const;
    NTSTATUS setVideoMode(uint32_t format, uint32_t mode, uint32_t rate) const;
    NTSTATUS videoMode(uint32_t& format, uint32_t& mode, uint32_t& rate) const;

    // Format_7, per mode.
    NTSTATUS format7Inquiry(uint32_t mode, Format7Inquiry& inquiry) const;
    NTSTATUS imageArea(uint32_t mode, ImageArea& area) const;
    NTSTATUS setImageSize(uint32_t mode, uint32_t width, uint32_t height) const;
    NTSTATUS setImagePosition(uint32_t mode, uint32_t left, uint32_t top) const;
    NTSTATUS colorCoding(uint32_t mode, uint32_t& code) const;
    NTSTATUS setColorCoding(uint32_t mode, uint32_t code) const;
    NTSTATUS setBytesPerPacket(uint32_t mode, uint32_t bytes) const;
    // Frame size of the mode, chunks included when the extended data stream is on.
    NTSTATUS frameSize(uint32_t mode, FrameSize& size) const;

    // Properties by IIDC feature index.
    NTSTATUS propertyInquiry(uint32_t feature, uint32_t& bits) const;
    NTSTATUS property(uint32_t feature, uint32_t item, uint32_t& value) const;
    NTSTATUS setProperty(uint32_t feature, uint32_t item, uint32_t value) const;

    // Identity texts.
    NTSTATUS info(uint32_t which, std::string& text) const;

    const std::shared_ptr<Camera>& camera() const { return _camera; }

private:
    NTSTATUS format7Base(uint32_t mode, uint32_t& base) const;
    NTSTATUS writeChecked(uint32_t base, uint32_t offset, uint32_t value) const;

    std::shared_ptr<Camera> _camera;
};

} // namespace orvex::sim::bcam
