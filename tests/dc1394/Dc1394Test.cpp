// The simulated cameras as libdc1394 sees them through /dev/fw*: a Linux
// camera program written only against libdc1394's public API, run under
// scripts/with-simulated-firewire.sh over the default world. The world is
// changed (unplug, plug) only through the device layer's control file, as a
// test bed outside the program would.
#include <dc1394/dc1394.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// The default world: bus 0 holds two Grasshoppers, bus 1 a Flea2, bus 2
// two Basler cameras. GUID: the vendor id in the top 24 bits, the serial
// number in the low 32.
constexpr uint64_t kGras20Guid = 0x00B09D00006E79A5ull; // 7240101
constexpr uint64_t kGras50Guid = 0x00B09D00007BE78Aull; // 8120202
constexpr uint64_t kFlea2Guid = 0x00B09D00008A18BFull;  // 9050303
constexpr uint64_t kA102fGuid = 0x003053000132DC44ull;  // 20110404
constexpr uint64_t kA312fGuid = 0x00305300013303B9ull;  // 20120505

const char* const kControl = "/dev/fw-sim-control";

struct ContextDeleter {
    void operator()(dc1394_t* d) const { dc1394_free(d); }
};
struct CameraDeleter {
    void operator()(dc1394camera_t* c) const { dc1394_camera_free(c); }
};
using Context = std::unique_ptr<dc1394_t, ContextDeleter>;
using CameraPtr = std::unique_ptr<dc1394camera_t, CameraDeleter>;

// Tells the simulated world what a test bed would do to it.
void worldCommand(const std::string& command)
{
    const int fd = open(kControl, O_WRONLY);
    ASSERT_GE(fd, 0) << "no control file: not run under with-simulated-firewire.sh?";
    const std::string line = command + "\n";
    EXPECT_EQ(write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size())) << command;
    close(fd);
}

std::vector<uint64_t> enumerate(dc1394_t* d)
{
    dc1394camera_list_t* list = nullptr;
    std::vector<uint64_t> guids;
    if (dc1394_camera_enumerate(d, &list) != DC1394_SUCCESS)
        return guids;
    for (uint32_t i = 0; i < list->num; ++i)
        guids.push_back(list->ids[i].guid);
    dc1394_camera_free_list(list);
    std::sort(guids.begin(), guids.end());
    return guids;
}

uint32_t frameNumber(const dc1394video_frame_t* frame)
{
    const uint8_t* b = frame->image + 32;
    return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
}

// The simulated cameras send a gradient that steps by one from byte to
// byte along a row (a moving square and the stamp at the top aside): a
// packet written to the wrong place, cut short or lost breaks the steps.
int gradientBreaks(const dc1394video_frame_t* frame, uint32_t row)
{
    const uint8_t* b = frame->image + uint64_t(row) * frame->size[0];
    int breaks = 0;
    for (uint32_t x = 1; x < frame->size[0]; ++x)
        breaks += b[x] != uint8_t(b[x - 1] + 1) && b[x] != 0xFF && b[x - 1] != 0xFF; // the square is 0xFF
    return breaks;
}

// Rows spread over the image.
void expectWholeImage(const dc1394video_frame_t* frame)
{
    for (uint32_t row = 40; row < frame->size[1]; row += frame->size[1] / 7)
        EXPECT_EQ(gradientBreaks(frame, row), 0) << "row " << row;
    EXPECT_EQ(gradientBreaks(frame, frame->size[1] - 1), 0) << "last row";
}

class Dc1394 : public ::testing::Test {
protected:
    void SetUp() override
    {
        _d.reset(dc1394_new());
        ASSERT_TRUE(_d) << "libdc1394 found no /dev/fw*";
    }

    CameraPtr camera(uint64_t guid)
    {
        CameraPtr c(dc1394_camera_new(_d.get(), guid));
        EXPECT_TRUE(c) << std::hex << guid;
        return c;
    }

    // Format_7 mode 0 at S800 with a region and packet size.
    static void format7(dc1394camera_t* c, uint32_t width, uint32_t height, uint32_t packet)
    {
        ASSERT_EQ(dc1394_video_set_operation_mode(c, DC1394_OPERATION_MODE_1394B), DC1394_SUCCESS);
        ASSERT_EQ(dc1394_video_set_iso_speed(c, DC1394_ISO_SPEED_800), DC1394_SUCCESS);
        ASSERT_EQ(dc1394_video_set_mode(c, DC1394_VIDEO_MODE_FORMAT7_0), DC1394_SUCCESS);
        ASSERT_EQ(dc1394_format7_set_roi(c, DC1394_VIDEO_MODE_FORMAT7_0, DC1394_COLOR_CODING_MONO8,
                                         int32_t(packet), 0, 0, int32_t(width), int32_t(height)),
                  DC1394_SUCCESS);
    }

    static dc1394video_frame_t* dequeue(dc1394camera_t* c)
    {
        dc1394video_frame_t* frame = nullptr;
        EXPECT_EQ(dc1394_capture_dequeue(c, DC1394_CAPTURE_POLICY_WAIT, &frame), DC1394_SUCCESS);
        return frame;
    }

    Context _d;
};

TEST_F(Dc1394, EnumeratesEveryCameraOfTheWorldWithItsGuidVendorAndModel)
{
    EXPECT_EQ(enumerate(_d.get()),
              (std::vector<uint64_t>{kA102fGuid, kA312fGuid, kGras20Guid, kGras50Guid, kFlea2Guid}));
    struct Expected {
        uint64_t guid;
        const char* vendor;
        const char* model;
        uint32_t vendorId;
    };
    for (const Expected& e :
         {Expected{kGras20Guid, "Point Grey Research", "Grasshopper GRAS-20S4M", 0x00B09D},
          Expected{kGras50Guid, "Point Grey Research", "Grasshopper GRAS-50S5M", 0x00B09D},
          Expected{kFlea2Guid, "Point Grey Research", "Flea2 FL2G-50S5M", 0x00B09D},
          Expected{kA102fGuid, "Basler", "A102f", 0x003053},
          Expected{kA312fGuid, "Basler", "A312f", 0x003053}}) {
        SCOPED_TRACE(e.model);
        const CameraPtr c = camera(e.guid);
        ASSERT_TRUE(c);
        EXPECT_STREQ(c->vendor, e.vendor);
        EXPECT_STREQ(c->model, e.model);
        EXPECT_EQ(c->vendor_id, e.vendorId);
        EXPECT_EQ(c->unit_spec_ID, 0x00A02Du); // IIDC's unit specifier
        EXPECT_EQ(c->command_registers_base, 0xF00000u);
        EXPECT_EQ(c->iidc_version, DC1394_IIDC_VERSION_1_31);
    }
}

TEST_F(Dc1394, EveryFeatureInquiryAgreesWithItsValueAndRefusesValuesOutsideItsRange)
{
    const CameraPtr c = camera(kGras20Guid);
    ASSERT_TRUE(c);
    dc1394featureset_t features;
    ASSERT_EQ(dc1394_feature_get_all(c.get(), &features), DC1394_SUCCESS);
    int present = 0;
    for (const dc1394feature_info_t& f : features.feature) {
        if (!f.available || f.id == DC1394_FEATURE_TRIGGER || f.id == DC1394_FEATURE_TEMPERATURE)
            continue;
        ++present;
        SCOPED_TRACE(dc1394_feature_get_string(f.id));
        EXPECT_LE(f.min, f.value);
        EXPECT_LE(f.value, f.max);
        uint32_t min = 0, max = 0;
        ASSERT_EQ(dc1394_feature_get_boundaries(c.get(), f.id, &min, &max), DC1394_SUCCESS);
        EXPECT_EQ(min, f.min);
        EXPECT_EQ(max, f.max);
    }
    EXPECT_EQ(present, 5); // brightness, auto exposure, shutter, gain, frame rate

    // Brightness: 0 to 255; a set value reads back.
    EXPECT_EQ(features.feature[DC1394_FEATURE_BRIGHTNESS - DC1394_FEATURE_MIN].max, 255u);
    ASSERT_EQ(dc1394_feature_set_value(c.get(), DC1394_FEATURE_BRIGHTNESS, 100), DC1394_SUCCESS);
    uint32_t value = 0;
    ASSERT_EQ(dc1394_feature_get_value(c.get(), DC1394_FEATURE_BRIGHTNESS, &value), DC1394_SUCCESS);
    EXPECT_EQ(value, 100u);
    // Gain from -2 dB to 24 dB in 1/16 dB: 0 to 416, 0 dB at 32.
    const dc1394feature_info_t& gain = features.feature[DC1394_FEATURE_GAIN - DC1394_FEATURE_MIN];
    EXPECT_EQ(gain.min, 0u);
    EXPECT_EQ(gain.max, 416u);
    EXPECT_EQ(gain.value, 32u);
    float absMin = 0, absMax = 0;
    ASSERT_EQ(dc1394_feature_get_absolute_boundaries(c.get(), DC1394_FEATURE_GAIN, &absMin, &absMax),
              DC1394_SUCCESS);
    EXPECT_FLOAT_EQ(absMin, -2.0f);
    EXPECT_FLOAT_EQ(absMax, 24.0f);
    // Absolute shutter: 5 ms reads back within one step (20 µs).
    ASSERT_EQ(dc1394_feature_set_absolute_control(c.get(), DC1394_FEATURE_SHUTTER, DC1394_ON),
              DC1394_SUCCESS);
    ASSERT_EQ(dc1394_feature_set_absolute_value(c.get(), DC1394_FEATURE_SHUTTER, 0.005f), DC1394_SUCCESS);
    float shutter = 0;
    ASSERT_EQ(dc1394_feature_get_absolute_value(c.get(), DC1394_FEATURE_SHUTTER, &shutter), DC1394_SUCCESS);
    EXPECT_NEAR(shutter, 0.005, 20e-6);
    // Trigger: modes 0 and 1, sources 0 and software.
    const dc1394trigger_modes_t& modes =
        features.feature[DC1394_FEATURE_TRIGGER - DC1394_FEATURE_MIN].trigger_modes;
    ASSERT_EQ(modes.num, 2u);
    EXPECT_EQ(modes.modes[0], DC1394_TRIGGER_MODE_0);
    EXPECT_EQ(modes.modes[1], DC1394_TRIGGER_MODE_1);
    dc1394trigger_sources_t sources;
    ASSERT_EQ(dc1394_external_trigger_get_supported_sources(c.get(), &sources), DC1394_SUCCESS);
    ASSERT_EQ(sources.num, 2u);
    EXPECT_EQ(sources.sources[0], DC1394_TRIGGER_SOURCE_0);
    EXPECT_EQ(sources.sources[1], DC1394_TRIGGER_SOURCE_SOFTWARE);
}

TEST_F(Dc1394, Format7RegionAndPacketSizeFollowTheUnits)
{
    const CameraPtr c = camera(kGras20Guid);
    ASSERT_TRUE(c);
    uint32_t width = 0, height = 0, unitX = 0, unitY = 0;
    ASSERT_EQ(dc1394_format7_get_max_image_size(c.get(), DC1394_VIDEO_MODE_FORMAT7_0, &width, &height),
              DC1394_SUCCESS);
    EXPECT_EQ(width, 1624u);
    EXPECT_EQ(height, 1224u);
    ASSERT_EQ(dc1394_format7_get_unit_size(c.get(), DC1394_VIDEO_MODE_FORMAT7_0, &unitX, &unitY),
              DC1394_SUCCESS);
    EXPECT_EQ(unitX, 8u);
    EXPECT_EQ(unitY, 2u);

    ASSERT_NO_FATAL_FAILURE(format7(c.get(), 640, 480, 4096));
    uint32_t left = 0, top = 0, w = 0, h = 0, packet = 0, packets = 0, unitBytes = 0, maxBytes = 0;
    ASSERT_EQ(dc1394_format7_set_image_position(c.get(), DC1394_VIDEO_MODE_FORMAT7_0, 16, 8), DC1394_SUCCESS);
    ASSERT_EQ(dc1394_format7_get_image_position(c.get(), DC1394_VIDEO_MODE_FORMAT7_0, &left, &top),
              DC1394_SUCCESS);
    ASSERT_EQ(dc1394_format7_get_image_size(c.get(), DC1394_VIDEO_MODE_FORMAT7_0, &w, &h), DC1394_SUCCESS);
    EXPECT_EQ(left, 16u);
    EXPECT_EQ(top, 8u);
    EXPECT_EQ(w, 640u);
    EXPECT_EQ(h, 480u);
    ASSERT_EQ(dc1394_format7_get_packet_size(c.get(), DC1394_VIDEO_MODE_FORMAT7_0, &packet), DC1394_SUCCESS);
    ASSERT_EQ(dc1394_format7_get_packets_per_frame(c.get(), DC1394_VIDEO_MODE_FORMAT7_0, &packets),
              DC1394_SUCCESS);
    EXPECT_EQ(packet, 4096u);
    EXPECT_EQ(packets, 75u); // 640 x 480 bytes in 4096-byte packets

    // The largest packet at S800: 8192 bytes, in 4-byte steps.
    ASSERT_EQ(
        dc1394_format7_get_packet_parameters(c.get(), DC1394_VIDEO_MODE_FORMAT7_0, &unitBytes, &maxBytes),
        DC1394_SUCCESS);
    EXPECT_EQ(unitBytes, 4u);
    EXPECT_EQ(maxBytes, 8192u);
}

TEST_F(Dc1394, AFixedFormatCapturesAtItsFrameRateWithItsGeometry)
{
    const CameraPtr c = camera(kGras20Guid);
    ASSERT_TRUE(c);
    dc1394video_modes_t modes;
    ASSERT_EQ(dc1394_video_get_supported_modes(c.get(), &modes), DC1394_SUCCESS);
    const auto offered = [&](dc1394video_mode_t m) {
        return std::count(modes.modes, modes.modes + modes.num, m) != 0;
    };
    EXPECT_TRUE(offered(DC1394_VIDEO_MODE_640x480_MONO8));
    EXPECT_TRUE(offered(DC1394_VIDEO_MODE_FORMAT7_0));
    dc1394framerates_t rates;
    ASSERT_EQ(dc1394_video_get_supported_framerates(c.get(), DC1394_VIDEO_MODE_640x480_MONO8, &rates),
              DC1394_SUCCESS);
    EXPECT_TRUE(std::count(rates.framerates, rates.framerates + rates.num, DC1394_FRAMERATE_30) != 0);

    ASSERT_EQ(dc1394_video_set_iso_speed(c.get(), DC1394_ISO_SPEED_400), DC1394_SUCCESS);
    ASSERT_EQ(dc1394_video_set_mode(c.get(), DC1394_VIDEO_MODE_640x480_MONO8), DC1394_SUCCESS);
    ASSERT_EQ(dc1394_video_set_framerate(c.get(), DC1394_FRAMERATE_30), DC1394_SUCCESS);
    dc1394video_mode_t mode;
    dc1394framerate_t rate;
    ASSERT_EQ(dc1394_video_get_mode(c.get(), &mode), DC1394_SUCCESS);
    ASSERT_EQ(dc1394_video_get_framerate(c.get(), &rate), DC1394_SUCCESS);
    EXPECT_EQ(mode, DC1394_VIDEO_MODE_640x480_MONO8);
    EXPECT_EQ(rate, DC1394_FRAMERATE_30);

    ASSERT_EQ(dc1394_capture_setup(c.get(), 4, DC1394_CAPTURE_FLAGS_DEFAULT), DC1394_SUCCESS);
    ASSERT_EQ(dc1394_video_set_transmission(c.get(), DC1394_ON), DC1394_SUCCESS);
    uint32_t first = 0;
    for (int i = 0; i < 3; ++i) {
        dc1394video_frame_t* frame = dequeue(c.get());
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->size[0], 640u);
        EXPECT_EQ(frame->size[1], 480u);
        // IIDC's table: 320 quadlets a packet, two rows.
        EXPECT_EQ(frame->packet_size, 1280u);
        expectWholeImage(frame);
        if (i == 0)
            first = frameNumber(frame);
        else
            EXPECT_EQ(frameNumber(frame), first + uint32_t(i));
        dc1394_capture_enqueue(c.get(), frame);
    }
    dc1394_video_set_transmission(c.get(), DC1394_OFF);
    dc1394_capture_stop(c.get());
}

TEST_F(Dc1394, Format7FramesArriveWholeWithConsecutiveCountersUnlessThePayloadLengthWraps)
{
    const CameraPtr c = camera(kGras20Guid);
    ASSERT_TRUE(c);
    // 4096-byte packets: libdc1394's 8 packets per descriptor fit the
    // descriptor's 16-bit payload length.
    ASSERT_NO_FATAL_FAILURE(format7(c.get(), 1624, 1224, 4096));
    ASSERT_EQ(dc1394_capture_setup(c.get(), 4, DC1394_CAPTURE_FLAGS_DEFAULT), DC1394_SUCCESS);
    ASSERT_EQ(dc1394_video_set_transmission(c.get(), DC1394_ON), DC1394_SUCCESS);
    uint32_t first = 0;
    for (int i = 0; i < 5; ++i) {
        dc1394video_frame_t* frame = dequeue(c.get());
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->size[0], 1624u);
        EXPECT_EQ(frame->size[1], 1224u);
        EXPECT_EQ(frame->image_bytes, 1624u * 1224u);
        if (i == 0)
            first = frameNumber(frame);
        else
            EXPECT_EQ(frameNumber(frame), first + uint32_t(i));
        expectWholeImage(frame);
        dc1394_capture_enqueue(c.get(), frame);
    }
    dc1394_video_set_transmission(c.get(), DC1394_OFF);
    dc1394_capture_stop(c.get());

    // 8192-byte packets: 8 x 8192 = 65536 is 0 in 16 bits, so as on a real
    // kernel the descriptors carry no payload (and their overflow sets the
    // interrupt bit): no image data where libdc1394 looks for it.
    ASSERT_NO_FATAL_FAILURE(format7(c.get(), 1624, 1224, 8192));
    ASSERT_EQ(dc1394_capture_setup(c.get(), 4, DC1394_CAPTURE_FLAGS_DEFAULT), DC1394_SUCCESS);
    ASSERT_EQ(dc1394_video_set_transmission(c.get(), DC1394_ON), DC1394_SUCCESS);
    dc1394video_frame_t* frame = dequeue(c.get());
    ASSERT_NE(frame, nullptr);
    const uint8_t* middle = frame->image + 600u * 1624u;
    EXPECT_TRUE(std::all_of(middle, middle + 1624, [](uint8_t b) { return b == 0; }));
    dc1394_capture_enqueue(c.get(), frame);
    dc1394_video_set_transmission(c.get(), DC1394_OFF);
    dc1394_capture_stop(c.get());
}

TEST_F(Dc1394, ASoftwareTriggerTakesExactlyOneImage)
{
    const CameraPtr c = camera(kGras20Guid);
    ASSERT_TRUE(c);
    ASSERT_NO_FATAL_FAILURE(format7(c.get(), 320, 240, 4096));
    ASSERT_EQ(dc1394_external_trigger_set_mode(c.get(), DC1394_TRIGGER_MODE_0), DC1394_SUCCESS);
    ASSERT_EQ(dc1394_external_trigger_set_source(c.get(), DC1394_TRIGGER_SOURCE_SOFTWARE), DC1394_SUCCESS);
    ASSERT_EQ(dc1394_external_trigger_set_power(c.get(), DC1394_ON), DC1394_SUCCESS);
    dc1394trigger_source_t source;
    ASSERT_EQ(dc1394_external_trigger_get_source(c.get(), &source), DC1394_SUCCESS);
    EXPECT_EQ(source, DC1394_TRIGGER_SOURCE_SOFTWARE);

    ASSERT_EQ(dc1394_capture_setup(c.get(), 4, DC1394_CAPTURE_FLAGS_DEFAULT), DC1394_SUCCESS);
    ASSERT_EQ(dc1394_video_set_transmission(c.get(), DC1394_ON), DC1394_SUCCESS);
    // No trigger, no image: the capture descriptor stays quiet for 200 ms.
    pollfd waiting{dc1394_capture_get_fileno(c.get()), POLLIN, 0};
    EXPECT_EQ(poll(&waiting, 1, 200), 0);

    ASSERT_EQ(dc1394_software_trigger_set_power(c.get(), DC1394_ON), DC1394_SUCCESS);
    dc1394video_frame_t* frame = dequeue(c.get());
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->size[0], 320u);
    dc1394_capture_enqueue(c.get(), frame);
    EXPECT_EQ(poll(&waiting, 1, 200), 0); // one trigger, one image

    dc1394_video_set_transmission(c.get(), DC1394_OFF);
    dc1394_capture_stop(c.get());
    dc1394_external_trigger_set_power(c.get(), DC1394_OFF);
}

TEST_F(Dc1394, TheCycleTimerReadsEachBusClock)
{
    const CameraPtr bus0 = camera(kGras20Guid);
    const CameraPtr bus1 = camera(kFlea2Guid);
    ASSERT_TRUE(bus0 && bus1);
    uint32_t t0 = 0, t1 = 0;
    uint64_t local0 = 0, local1 = 0;
    ASSERT_EQ(dc1394_read_cycle_timer(bus0.get(), &t0, &local0), DC1394_SUCCESS);
    ASSERT_EQ(dc1394_read_cycle_timer(bus1.get(), &t1, &local1), DC1394_SUCCESS);
    const auto seconds = [](uint32_t t) {
        return double(t >> 25) + double((t >> 12) & 0x1FFF) / 8000.0 + double(t & 0xFFF) / 24576000.0;
    };
    // Bus 0 started at 17.25 s, bus 1 at 93.5 s: 76.25 s apart (mod 128)
    // once the time between the two reads (the local times) is taken off;
    // within 20 ms, as a loaded machine may pause a thread between a
    // device's two clock readings.
    const double apart = std::fmod(seconds(t1) - seconds(t0) - double(local1 - local0) * 1e-6 + 128.0, 128.0);
    EXPECT_NEAR(apart, 76.25, 0.02);
    EXPECT_LT(t0 & 0xFFF, 3072u); // cycle offset below 3072
}

TEST_F(Dc1394, IsoBandwidthIsRefusedWhenTheBusIsFull)
{
    const CameraPtr a = camera(kGras20Guid);
    const CameraPtr b = camera(kGras50Guid);
    ASSERT_TRUE(a && b);
    // 8188-byte packets at S800: 2 x (2047 + 3) = 4100 of the bus's 4915
    // allocation units each.
    ASSERT_NO_FATAL_FAILURE(format7(a.get(), 1624, 1224, 8188));
    ASSERT_NO_FATAL_FAILURE(format7(b.get(), 2448, 2048, 8188));
    ASSERT_EQ(dc1394_capture_setup(a.get(), 4, DC1394_CAPTURE_FLAGS_DEFAULT), DC1394_SUCCESS);
    // The kernel reports a refused bandwidth as a refused channel too (the
    // channel is given back), and libdc1394 looks at the channel first.
    EXPECT_EQ(dc1394_capture_setup(b.get(), 4, DC1394_CAPTURE_FLAGS_DEFAULT), DC1394_NO_ISO_CHANNEL);
    // Released with the first capture, the bandwidth is there for the second.
    ASSERT_EQ(dc1394_capture_stop(a.get()), DC1394_SUCCESS);
    EXPECT_EQ(dc1394_capture_setup(b.get(), 4, DC1394_CAPTURE_FLAGS_DEFAULT), DC1394_SUCCESS);
    dc1394_capture_stop(b.get());
}

TEST_F(Dc1394, UnplugAndReplugResetTheBusWhileAnotherCameraCaptures)
{
    const CameraPtr stays = camera(kGras50Guid);
    const CameraPtr leaves = camera(kGras20Guid);
    ASSERT_TRUE(stays && leaves);
    ASSERT_NO_FATAL_FAILURE(format7(stays.get(), 640, 480, 4096));
    ASSERT_NO_FATAL_FAILURE(format7(leaves.get(), 640, 480, 4096));
    ASSERT_EQ(dc1394_capture_setup(stays.get(), 4, DC1394_CAPTURE_FLAGS_DEFAULT), DC1394_SUCCESS);
    ASSERT_EQ(dc1394_capture_setup(leaves.get(), 4, DC1394_CAPTURE_FLAGS_DEFAULT), DC1394_SUCCESS);
    ASSERT_EQ(dc1394_video_set_transmission(stays.get(), DC1394_ON), DC1394_SUCCESS);
    ASSERT_EQ(dc1394_video_set_transmission(leaves.get(), DC1394_ON), DC1394_SUCCESS);
    dc1394video_frame_t* frame = dequeue(leaves.get());
    ASSERT_NE(frame, nullptr);
    dc1394_capture_enqueue(leaves.get(), frame);

    ASSERT_NO_FATAL_FAILURE(worldCommand("unplug 7240101"));
    // The camera that left: its device is gone, capture ends with an error
    // once the images already received are taken.
    dc1394video_frame_t* late = nullptr;
    dc1394error_t err = DC1394_SUCCESS;
    for (int i = 0; i < 8 && err == DC1394_SUCCESS; ++i) {
        err = dc1394_capture_dequeue(leaves.get(), DC1394_CAPTURE_POLICY_WAIT, &late);
        if (late)
            dc1394_capture_enqueue(leaves.get(), late);
    }
    EXPECT_NE(err, DC1394_SUCCESS);
    // The camera that stays: its requests carried the old generation and are
    // retried in the new one; its images keep coming.
    uint32_t brightness = 0;
    EXPECT_EQ(dc1394_feature_get_value(stays.get(), DC1394_FEATURE_BRIGHTNESS, &brightness), DC1394_SUCCESS);
    frame = dequeue(stays.get());
    ASSERT_NE(frame, nullptr);
    dc1394_capture_enqueue(stays.get(), frame);
    EXPECT_EQ(enumerate(_d.get()).size(), 4u);

    ASSERT_NO_FATAL_FAILURE(worldCommand("plug 7240101 0"));
    const std::vector<uint64_t> back = enumerate(_d.get());
    EXPECT_EQ(back.size(), 5u);
    EXPECT_TRUE(std::count(back.begin(), back.end(), kGras20Guid) == 1);
    frame = dequeue(stays.get());
    ASSERT_NE(frame, nullptr);
    dc1394_capture_enqueue(stays.get(), frame);
    dc1394_video_set_transmission(stays.get(), DC1394_OFF);
    dc1394_capture_stop(stays.get());
}

TEST_F(Dc1394, TheControlFileRefusesMalformedCommands)
{
    const int fd = open(kControl, O_WRONLY);
    ASSERT_GE(fd, 0);
    for (const char* bad :
         {"unplug\n", "unplug 12x\n", "plug 7240101\n", "reset 99\n", "explode 1\n", "unplug 4294967296\n"}) {
        SCOPED_TRACE(bad);
        errno = 0;
        EXPECT_EQ(write(fd, bad, std::strlen(bad)), -1);
        EXPECT_EQ(errno, EINVAL);
    }
    char answer[8];
    EXPECT_EQ(read(fd, answer, sizeof answer), 0); // nothing to read, and no wait
    close(fd);
    EXPECT_EQ(enumerate(_d.get()).size(), 5u);
}

} // namespace
