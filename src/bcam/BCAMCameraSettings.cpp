// BCAMCamera configuration: video format, mode and frame rate, pixel format,
// Format_7 geometry and packets, trigger, shutter and gain.
#include "bcam/BCAMCameraPrivate.h"

#include <orvex/DcamTables.h>
#include <orvex/bcam/BcamProtocol.h>

using namespace orvex::bcam;

namespace {

constexpr uint32_t kLastVideoIndex = 5; // modes and frame-rate indexes 0 to 5
constexpr uint32_t kColorCodeMono8 = 0;
constexpr uint32_t kColorCodeMono16 = 5;
constexpr DWORD kAny = orvex::bcam::kAnyIndex;

// The colour code for a pixel format; "invalid pixel format" for others.
uint32_t colorCodeOf(IEEECameraPixelFormat pixelFormat)
{
    switch (pixelFormat) {
    case pf_yMono:
        return kColorCodeMono8;
    case pf_yMono16:
        return kColorCodeMono16;
    default:
        ORVEX_THROW(kCameraUnit, kErrPixelFormat);
    }
}

// "invalid <what> value; equals to <value> and should be ... <bound>" when
// `value` leaves [min, max].
void checkRange(const char* refusal, long long value, long long min, long long max)
{
    if (value < min) {
        ORVEX_THROW(kCameraUnit, refusal + std::to_string(value) + kErrBelowMin + std::to_string(min));
    }
    if (value > max) {
        ORVEX_THROW(kCameraUnit, refusal + std::to_string(value) + kErrAboveMax + std::to_string(max));
    }
}

} // namespace

// --- video configuration -----------------------------------------------------------

namespace {

// IsVideoModeSupported on behalf of `operation`.
bool isSupported(Bcam::CBcamExtension& device, const char* operation, uint32_t format, uint32_t mode,
                 uint32_t rate)
{
    return callDevice(operation, [&] { return device.IsVideoModeSupported(format, mode, rate); });
}

} // namespace

bool BCAMCamera::isVideoFormatSupported(uint32_t format) const
{
    return isSupported(_pState->device(), "isVideoFormatSupported", format, kAny, kAny);
}

bool BCAMCamera::isVideoModeSupported(uint32_t format, uint32_t mode) const
{
    return isSupported(_pState->device(), "isVideoModeSupported", format, mode, kAny);
}

bool BCAMCamera::isVideoCfgSupported(uint32_t format, uint32_t mode, uint32_t rate) const
{
    return isSupported(_pState->device(), "isVideoCfgSupported", format, mode, rate);
}

namespace {

struct VideoMode {
    DWORD format = 0;
    DWORD mode = 0;
    DWORD rate = 0;
};

VideoMode currentVideoMode(Bcam::CBcamExtension& device, const char* operation)
{
    VideoMode current;
    callDevice(operation, [&] { device.GetVideoMode(current.format, current.mode, current.rate); });
    return current;
}

void applyVideoMode(Bcam::CBcamExtension& device, const char* operation, uint32_t format, uint32_t mode,
                    uint32_t rate)
{
    callDevice(operation, [&] { device.SetVideoMode(format, mode, rate); });
}

// The current Format_7 mode's controls; "camera must be in format7" in
// another format.
Bcam::CFormatSevenMode& format7ModeOf(Bcam::CBcamExtension& device, const char* operation)
{
    const VideoMode current = currentVideoMode(device, operation);
    if (current.format != kFormat7) {
        ORVEX_THROW(kCameraUnit, kErrFormat7Required);
    }
    return callDevice(operation,
                      [&]() -> Bcam::CFormatSevenMode& { return device.FormatSeven[current.mode]; });
}

} // namespace

uint32_t BCAMCamera::getVideoFormat() const
{
    return currentVideoMode(_pState->device(), "getVideoFormat").format;
}

uint32_t BCAMCamera::getVideoMode() const
{
    return currentVideoMode(_pState->device(), "getVideoMode").mode;
}

uint32_t BCAMCamera::getFrameRateIdx() const
{
    return currentVideoMode(_pState->device(), "getFrameRateIdx").rate;
}

void BCAMCamera::setVideoFormat(uint32_t format)
{
    if (!isVideoFormatSupported(format)) {
        ORVEX_THROW(kCameraUnit, kErrVideoFormat);
    }
    for (uint32_t mode = 0; mode <= kLastVideoIndex; ++mode) {
        if (format == kFormat7) {
            // Format_7 modes have no frame rate of their own.
            if (isVideoModeSupported(format, mode)) {
                applyVideoMode(_pState->device(), "setVideoFormat", format, mode, kAny);
                return;
            }
            continue;
        }
        for (uint32_t rate = 0; rate <= kLastVideoIndex; ++rate) {
            if (isVideoCfgSupported(format, mode, rate)) {
                applyVideoMode(_pState->device(), "setVideoFormat", format, mode, rate);
                return;
            }
        }
    }
}

void BCAMCamera::setVideoMode(uint32_t mode)
{
    const uint32_t format = getVideoFormat();
    for (uint32_t rate = 0; rate <= kLastVideoIndex; ++rate) {
        if (isVideoCfgSupported(format, mode, rate)) {
            applyVideoMode(_pState->device(), "setVideoMode", format, mode, rate);
            return;
        }
    }
}

void BCAMCamera::setFrameRate(uint32_t rate)
{
    const VideoMode current = currentVideoMode(_pState->device(), "setFrameRate");
    if (!isVideoCfgSupported(current.format, current.mode, rate)) {
        ORVEX_THROW(kCameraUnit, kErrFrameRate);
    }
    applyVideoMode(_pState->device(), "setFrameRate", current.format, current.mode, rate);
}

void BCAMCamera::setVideoCfg(uint32_t format, uint32_t mode, uint32_t rate)
{
    if (!isVideoCfgSupported(format, mode, rate)) {
        ORVEX_THROW(kCameraUnit, kErrVideoCfg);
    }
    applyVideoMode(_pState->device(), "setVideoCfg", format, mode, rate);
}

// --- pixel format and colour coding -------------------------------------------------------

bool BCAMCamera::isPixelFormatSupported(IEEECameraPixelFormat pixelFormat) const
{
    return isColorCodeSupported(colorCodeOf(pixelFormat));
}

void BCAMCamera::setPixelFormat(IEEECameraPixelFormat pixelFormat)
{
    setColorCode(colorCodeOf(pixelFormat));
}

IEEECameraPixelFormat BCAMCamera::getPixelFormat()
{
    switch (getColorCode()) {
    case kColorCodeMono8:
        return pf_yMono;
    case kColorCodeMono16:
        return pf_yMono16;
    default:
        ORVEX_THROW(kCameraUnit, kErrColorCode);
    }
}

bool BCAMCamera::isColorCodeSupported(uint32_t code) const
{
    Bcam::CFormatSevenMode& mode = format7ModeOf(_pState->device(), "isColorCodeSupported");
    return callDevice("isColorCodeSupported", [&] { return mode.ColorCoding.IsSupported(code); });
}

void BCAMCamera::setColorCode(uint32_t code)
{
    const uint32_t mode = getVideoMode();
    callDevice("setColorCode", [&] { _pState->device().FormatSeven[mode].ColorCoding.Assign(code); });
}

uint32_t BCAMCamera::getColorCode() const
{
    Bcam::CFormatSevenMode& mode = format7ModeOf(_pState->device(), "getColorCode");
    return callDevice("getColorCode", [&] { return mode.ColorCoding.Read(); });
}

// --- geometry -----------------------------------------------------------------------------

void BCAMCamera::setSize(int width, int height)
{
    Bcam::CFormatSevenMode& mode = format7ModeOf(_pState->device(), "setSize");
    callDevice("setSize",
               [&] { mode.ImageSize.Assign(static_cast<DWORD>(width), static_cast<DWORD>(height)); });
}

void BCAMCamera::getSize(int& width, int& height) const
{
    const VideoMode current = currentVideoMode(_pState->device(), "getSize");
    if (current.format == kFormat7) {
        DWORD w = 0, h = 0;
        callDevice("getSize", [&] { _pState->device().FormatSeven[current.mode].ImageSize.Read(w, h); });
        width = static_cast<int>(w);
        height = static_cast<int>(h);
        return;
    }
    IEEECameraResolution resolution = res_none;
    IEEECameraPixelFormat pixelFormat = pf_none;
    IEEECameraFPS fps = fps_none;
    if (!getFpsFromIdx(current.format, current.mode, current.rate, resolution, pixelFormat, fps) ||
        !getImgSz(resolution, width, height)) {
        ORVEX_THROW(kCameraUnit, std::string(kErrCalling) + "getSize");
    }
}

void BCAMCamera::getUnitSize(int& width, int& height) const
{
    Bcam::CFormatSevenMode& mode = format7ModeOf(_pState->device(), "getUnitSize");
    DWORD w = 0, h = 0;
    callDevice("getUnitSize", [&] { mode.ImageSize.Inc(w, h); });
    width = static_cast<int>(w);
    height = static_cast<int>(h);
}

void BCAMCamera::getMaxSize(int& width, int& height) const
{
    Bcam::CFormatSevenMode& mode = format7ModeOf(_pState->device(), "getMaxSize");
    DWORD w = 0, h = 0;
    callDevice("getMaxSize", [&] { mode.MaxSize(w, h); });
    width = static_cast<int>(w);
    height = static_cast<int>(h);
}

void BCAMCamera::setPos(int x, int y)
{
    Bcam::CFormatSevenMode& mode = format7ModeOf(_pState->device(), "setPos");
    callDevice("setPos", [&] { mode.ImagePosition.Assign(static_cast<DWORD>(x), static_cast<DWORD>(y)); });
}

void BCAMCamera::getPos(int& x, int& y) const
{
    Bcam::CFormatSevenMode& mode = format7ModeOf(_pState->device(), "getPos");
    DWORD left = 0, top = 0;
    callDevice("getPos", [&] { mode.ImagePosition.Read(left, top); });
    x = static_cast<int>(left);
    y = static_cast<int>(top);
}

void BCAMCamera::getUnitPos(int& x, int& y)
{
    Bcam::CFormatSevenMode& mode = format7ModeOf(_pState->device(), "getUnitPos");
    DWORD left = 0, top = 0;
    callDevice("getUnitPos", [&] { mode.ImagePosition.Inc(left, top); });
    x = static_cast<int>(left);
    y = static_cast<int>(top);
}

void BCAMCamera::setRoi(int x, int y, int width, int height)
{
    Bcam::CFormatSevenMode& mode = format7ModeOf(_pState->device(), "setRoi");
    callDevice("setRoi", [&] {
        DWORD px = 0, py = 0, sw = 0, sh = 0;
        mode.ImagePosition.Read(px, py);
        mode.ImageSize.Read(sw, sh);
        const auto left = static_cast<DWORD>(x);
        const auto top = static_cast<DWORD>(y);
        const auto w = static_cast<DWORD>(width);
        const auto h = static_cast<DWORD>(height);
        // Whichever edge moves outwards moves after the size shrank on that
        // axis, so that position plus size never leaves the sensor.
        const bool leftMovesLeft = x < static_cast<int>(px);
        const bool topMovesUp = y < static_cast<int>(py);
        if (leftMovesLeft && topMovesUp) {
            mode.ImagePosition.Assign(left, top);
            mode.ImageSize.Assign(w, h);
        } else if (leftMovesLeft) {
            mode.ImageSize.Assign(sw, h);
            mode.ImagePosition.Assign(left, top);
            mode.ImageSize.Assign(w, h);
        } else if (!topMovesUp) {
            mode.ImageSize.Assign(w, h);
            mode.ImagePosition.Assign(left, top);
        } else {
            mode.ImageSize.Assign(w, sh);
            mode.ImagePosition.Assign(left, top);
            mode.ImageSize.Assign(w, h);
        }
    });
}

// --- packets ------------------------------------------------------------------------------

void BCAMCamera::setNbBytesPerPacket(int nbBytes)
{
    Bcam::CFormatSevenMode& mode = format7ModeOf(_pState->device(), "setNbBytesPerPacket");
    callDevice("setNbBytesPerPacket", [&] { mode.BytePerPacket.Assign(static_cast<DWORD>(nbBytes)); });
}

int BCAMCamera::getNbBytesPerPacket() const
{
    Bcam::CFormatSevenMode& mode = format7ModeOf(_pState->device(), "getNbBytesPerPacket");
    return static_cast<int>(callDevice("getNbBytesPerPacket", [&] { return mode.BytePerPacket.Read(); }));
}

int BCAMCamera::getUnitNbBytesPerPacket() const
{
    Bcam::CFormatSevenMode& mode = format7ModeOf(_pState->device(), "getUnitNbBytesPerPacket");
    return static_cast<int>(callDevice("getUnitNbBytesPerPacket", [&] { return mode.BytePerPacket.Inc(); }));
}

int BCAMCamera::getMinNbBytesPerPacket() const
{
    Bcam::CFormatSevenMode& mode = format7ModeOf(_pState->device(), "getMinNbBytesPerPacket");
    return static_cast<int>(callDevice("getMinNbBytesPerPacket", [&] { return mode.BytePerPacket.Inc(); }));
}

int BCAMCamera::getMaxNbBytesPerPacket() const
{
    Bcam::CFormatSevenMode& mode = format7ModeOf(_pState->device(), "getMaxNbBytesPerPacket");
    return static_cast<int>(callDevice("getMaxNbBytesPerPacket", [&] { return mode.BytePerPacket.Max(); }));
}

bool BCAMCamera::isInterPacketDelaySupported() const
{
    return false;
}

void BCAMCamera::setInterPacketDelay(int /*delay*/)
{
    ORVEX_THROW(kCameraUnit, kErrInterPacketDelay);
}

int BCAMCamera::getInterPacketDelay() const
{
    ORVEX_THROW(kCameraUnit, kErrInterPacketDelay);
}

int BCAMCamera::getUnitInterPacketDelay() const
{
    ORVEX_THROW(kCameraUnit, kErrInterPacketDelay);
}

int BCAMCamera::getMinInterPacketDelay() const
{
    ORVEX_THROW(kCameraUnit, kErrInterPacketDelay);
}

int BCAMCamera::getMaxInterPacketDelay() const
{
    ORVEX_THROW(kCameraUnit, kErrInterPacketDelay);
}

void BCAMCamera::getNbBytesPerFrame(unsigned long& nbBytes, unsigned long& second) const
{
    const VideoMode current = currentVideoMode(_pState->device(), "getNbBytesPerFrame");
    second = 0;
    if (current.format == kFormat7) {
        nbBytes = callDevice("getNbBytesPerFrame",
                             [&] { return _pState->device().FormatSeven[current.mode].BytePerFrame(); });
        return;
    }
    IEEECameraResolution resolution = res_none;
    IEEECameraPixelFormat pixelFormat = pf_none;
    IEEECameraFPS fps = fps_none;
    if (!getFpsFromIdx(current.format, current.mode, current.rate, resolution, pixelFormat, fps) ||
        !::getNbBytesPerFrame(resolution, pixelFormat, nbBytes)) {
        ORVEX_THROW(kCameraUnit, kErrBytesPerFrame);
    }
}

// --- trigger ------------------------------------------------------------------------------

void BCAMCamera::turnOnTrigger(bool on)
{
    callDevice("turnOnTrigger", [&] { _pState->device().Trigger.OnOff.Assign(on); });
}

bool BCAMCamera::isTriggerTurnedOn() const
{
    return callDevice("isTriggerTurnedOn", [&] { return _pState->device().Trigger.OnOff.Read(); });
}

void BCAMCamera::setTriggerMode(CameraTriggerMode mode)
{
    if (mode != camtm_exposureTimed && mode != camtm_triggerWidth) {
        return;
    }
    callDevice("setTriggerMode", [&] { _pState->device().Trigger.Mode.Assign(static_cast<DWORD>(mode)); });
}

bool BCAMCamera::isTriggerModeSupported(CameraTriggerMode mode)
{
    return callDevice("isTriggerModeSupported",
                      [&] { return _pState->device().Trigger.IsModeSupported(static_cast<DWORD>(mode)); });
}

CameraTriggerMode BCAMCamera::getTriggerMode()
{
    const DWORD mode = callDevice("getTriggerMode", [&] { return _pState->device().Trigger.Mode.Read(); });
    if (mode == camtm_exposureTimed || mode == camtm_triggerWidth) {
        return static_cast<CameraTriggerMode>(mode);
    }
    ORVEX_THROW(kCameraUnit, kErrTriggerMode);
}

bool BCAMCamera::getPolarity() const
{
    return callDevice("getPolarity", [&] { return _pState->device().Trigger.Polarity.Read(); });
}

void BCAMCamera::setPolarity(bool risingEdge)
{
    callDevice("setPolarity", [&] { _pState->device().Trigger.Polarity.Assign(risingEdge); });
}

// --- shutter -------------------------------------------------------------------------------

void BCAMCamera::setShutter(unsigned long shutter)
{
    checkRange(kErrShutterValue, static_cast<long long>(shutter), static_cast<long long>(getShutterMin()),
               static_cast<long long>(getShutterMax()));
    callDevice("setShutter", [&] { _pState->device().Shutter.Raw.Assign(static_cast<DWORD>(shutter)); });
}

unsigned long BCAMCamera::getShutter() const
{
    return callDevice("getShutter", [&] { return _pState->device().Shutter.Raw.Read(); });
}

unsigned long BCAMCamera::getShutterMin() const
{
    return callDevice("getShutterMin", [&] { return _pState->device().Shutter.Raw.Min(); });
}

unsigned long BCAMCamera::getShutterMax() const
{
    return callDevice("getShutterMax", [&] { return _pState->device().Shutter.Raw.Max(); });
}

// --- gain ------------------------------------------------------------------------------------

bool BCAMCamera::isGainSelectorAvailable(GainSelector selector) const
{
    return selector == gainsel_main;
}

void BCAMCamera::checkGainSelector(GainSelector selector) const
{
    if (selector != gainsel_main) {
        ORVEX_THROW(kCameraUnit, kErrGainSelector);
    }
}

void BCAMCamera::setGain(long gain, GainSelector selector)
{
    checkGainSelector(selector);
    checkRange(kErrGainValue, gain, getGainMin(selector), getGainMax(selector));
    callDevice("setGain", [&] { _pState->device().Gain.Raw.Assign(static_cast<DWORD>(gain)); });
}

long BCAMCamera::getGain(GainSelector selector) const
{
    checkGainSelector(selector);
    return static_cast<long>(callDevice("getGain", [&] { return _pState->device().Gain.Raw.Read(); }));
}

long BCAMCamera::getGainMin(GainSelector selector) const
{
    checkGainSelector(selector);
    return static_cast<long>(callDevice("getGainMin", [&] { return _pState->device().Gain.Raw.Min(); }));
}

long BCAMCamera::getGainMax(GainSelector selector) const
{
    checkGainSelector(selector);
    return static_cast<long>(callDevice("getGainMax", [&] { return _pState->device().Gain.Raw.Max(); }));
}

long BCAMCamera::getDefaultGain() const
{
    checkInitialized();
    return _pState->_nDefaultGain;
}
