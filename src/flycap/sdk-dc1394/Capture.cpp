// Image transfer of one camera through libdc1394: capture setup, dequeue
// and re-queue of the DMA ring, and the newest image lent to the caller.
#include "Capture.h"

#include <orvex/iidc/Registers.h>

#include <sys/time.h>

namespace orvex::flycap::dc1394sdk {

namespace {

uint64_t hostNowUs()
{
    timeval now{};
    gettimeofday(&now, nullptr);
    return uint64_t(now.tv_sec) * 1000000u + uint64_t(now.tv_usec);
}

const uint64_t kHostEpochUs = hostNowUs();

constexpr uint32_t kCyclesPerSecond = 8000;
constexpr uint32_t kUsPerCycle = 125;

dc1394color_coding_t codingOf(FlyCapturePixelFormat format)
{
    return format == FLYCAPTURE_MONO16 ? DC1394_COLOR_CODING_MONO16 : DC1394_COLOR_CODING_MONO8;
}

// The cycle time `us` microseconds before `cycleTime`.
uint32_t cycleTimeBefore(uint32_t cycleTime, uint64_t us)
{
    const uint64_t total =
        uint64_t(iidc::cycleSeconds(cycleTime)) * kCyclesPerSecond + iidc::cycleCount(cycleTime);
    const uint64_t wrap = 128ull * kCyclesPerSecond;
    const uint64_t back = (us / kUsPerCycle) % wrap;
    const uint64_t at = (total + wrap - back) % wrap;
    return (uint32_t(at / kCyclesPerSecond) << 25) | (uint32_t(at % kCyclesPerSecond) << 12) |
           (cycleTime & 0xFFF);
}

} // namespace

uint64_t hostEpochUs()
{
    return kHostEpochUs;
}

Capture::Capture(CameraHandle camera, const CaptureGeometry& geometry, FlyCapturePixelFormat format,
                 unsigned bufferCount)
    : _camera(std::move(camera)), _geometry(geometry), _format(format), _locked(bufferCount, nullptr)
{
}

FlyCaptureError Capture::start(CameraHandle camera, const CaptureGeometry& g, FlyCapturePixelFormat format,
                               unsigned bufferCount, Capture*& started)
{
    started = nullptr;
    if (!camera)
        return FLYCAPTURE_DEVICE_REMOVED;
    std::unique_ptr<Capture> capture(new Capture(std::move(camera), g, format, bufferCount));
    dc1394camera_t* c = capture->_camera.get();
    if (dc1394_video_set_transmission(c, DC1394_OFF) != DC1394_SUCCESS ||
        dc1394_video_set_mode(c, DC1394_VIDEO_MODE_FORMAT7_0) != DC1394_SUCCESS)
        return FLYCAPTURE_BUS_ERROR;
    if (dc1394_format7_set_roi(c, DC1394_VIDEO_MODE_FORMAT7_0, codingOf(format), int32_t(g.bytesPerPacket),
                               int32_t(g.left), int32_t(g.top), int32_t(g.width),
                               int32_t(g.height)) != DC1394_SUCCESS)
        return FLYCAPTURE_INVALID_CUSTOM_SIZE;
    const dc1394error_t setup = dc1394_capture_setup(c, bufferCount, DC1394_CAPTURE_FLAGS_DEFAULT);
    if (setup == DC1394_NO_ISO_CHANNEL || setup == DC1394_NO_BANDWIDTH)
        return FLYCAPTURE_BANDWIDTH_EXCEEDED; // libdc1394 reports a full bus as either
    if (setup != DC1394_SUCCESS)
        return FLYCAPTURE_BUS_ERROR;
    capture->_capturing = true;
    capture->_fd = dc1394_capture_get_fileno(c);
    if (dc1394_video_set_transmission(c, DC1394_ON) != DC1394_SUCCESS)
        return FLYCAPTURE_BUS_ERROR;
    capture->_sending = true;
    started = capture.release();
    return FLYCAPTURE_OK;
}

Capture::~Capture()
{
    stopSending();
    if (_capturing)
        dc1394_capture_stop(_camera.get()); // releases the channel and bandwidth, unmaps the ring
}

void Capture::stopSending()
{
    if (!_sending)
        return;
    _sending = false;
    dc1394_video_set_transmission(_camera.get(), DC1394_OFF); // a camera that left has stopped anyway
}

FlyCaptureError Capture::lockNewest(FlyCaptureImage& image, bool& found)
{
    found = false;
    dc1394video_frame_t* newest = nullptr;
    for (;;) {
        dc1394video_frame_t* frame = nullptr;
        if (dc1394_capture_dequeue(_camera.get(), DC1394_CAPTURE_POLICY_POLL, &frame) != DC1394_SUCCESS) {
            if (newest)
                dc1394_capture_enqueue(_camera.get(), newest);
            return FLYCAPTURE_FAILED;
        }
        if (!frame)
            break;
        ++_received;
        if (newest)
            dc1394_capture_enqueue(_camera.get(), newest); // superseded before anybody locked it
        newest = frame;
    }
    if (!newest)
        return FLYCAPTURE_OK;
    if (newest->id >= _locked.size()) {
        dc1394_capture_enqueue(_camera.get(), newest);
        return FLYCAPTURE_FAILED;
    }
    _locked[newest->id] = newest;
    fillImage(*newest, image);
    found = true;
    return FLYCAPTURE_OK;
}

void Capture::fillImage(const dc1394video_frame_t& frame, FlyCaptureImage& image)
{
    image.iRows = static_cast<int>(_geometry.height);
    image.iCols = static_cast<int>(_geometry.width);
    image.iRowInc = static_cast<int>(_geometry.width * _geometry.bytesPerPixel);
    image.pixelFormat = _format;
    image.pData = frame.image;
    image.uiBufferIndex = frame.id;
    image.uiSeqNum = _received - 1;
    const uint64_t receivedUs = frame.timestamp;
    const uint64_t sinceEpoch = receivedUs > kHostEpochUs ? receivedUs - kHostEpochUs : 0;
    image.timeStamp.ulSeconds = static_cast<uint32_t>(sinceEpoch / 1000000u);
    image.timeStamp.ulMicroSeconds = static_cast<uint32_t>(sinceEpoch % 1000000u);
    // The bus time of the receipt, from the card's cycle timer read now.
    uint32_t cycleTime = 0;
    uint64_t nowUs = 0;
    if (dc1394_read_cycle_timer(_camera.get(), &cycleTime, &nowUs) == DC1394_SUCCESS)
        cycleTime = cycleTimeBefore(cycleTime, nowUs > receivedUs ? nowUs - receivedUs : 0);
    image.timeStamp.ulCycleSeconds = iidc::cycleSeconds(cycleTime);
    image.timeStamp.ulCycleCount = iidc::cycleCount(cycleTime);
    image.timeStamp.ulCycleOffset = iidc::cycleOffset(cycleTime);
}

FlyCaptureError Capture::unlock(unsigned int index)
{
    if (index >= _locked.size())
        return FLYCAPTURE_INVALID_ARGUMENT;
    if (!_locked[index])
        return FLYCAPTURE_BUFFER_NOT_LOCKED;
    dc1394_capture_enqueue(_camera.get(), _locked[index]);
    _locked[index] = nullptr;
    return FLYCAPTURE_OK;
}

void Capture::unlockAll()
{
    for (unsigned i = 0; i < _locked.size(); ++i) {
        if (_locked[i])
            unlock(i);
    }
}

bool Capture::isLocked(unsigned int index) const
{
    return index < _locked.size() && _locked[index];
}

bool Capture::anyLocked() const
{
    for (const auto* frame : _locked) {
        if (frame)
            return true;
    }
    return false;
}

} // namespace orvex::flycap::dc1394sdk
