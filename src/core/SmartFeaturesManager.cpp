// The smart features protocol: finding a feature's control register from
// its identifier, switching it, reading and writing its data.
#include "core/SmartFeaturesManager.h"

#include <orvex/IEEE1394Camera.h>
#include <orvex/Loggers.h>
#include <orvex/OrvexError.h>
#include <orvex/iidc/SmartFeatures.h>

#include <log4cplus/loggingmacros.h>

#include <cmath>
#include <cstring>
#include <stdexcept>

namespace sf = orvex::iidc::sf;

namespace {

constexpr const char* kUnit = "SmartFeaturesManager";
constexpr const char* kTimeBaseInactive = "La SF ShutterTimeBase n'est pas active";
constexpr const char* kTimeBaseTooSmall = "La valeur ShutterTimeBase est trop petite";
constexpr const char* kTimeBaseTooLarge = "La valeur ShutterTimeBase est trop grande";
constexpr const char* kDcamNotEnabled = "DCAM smart feature not enabled";

float floatFromBits(uint32_t bits)
{
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

uint32_t bitsFromFloat(float value)
{
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// The nearest multiple of `increment` above `minimum`, halves going up.
// Computed without integer conversion so that absurd values from a camera
// cannot overflow: they simply land outside the range.
float roundToStep(float value, float minimum, float increment)
{
    if (!(increment > 0.0f)) {
        return value; // the camera does not quantise
    }
    const float offset = value - minimum;
    float steps = std::trunc(offset / increment);
    if (2.0f * (offset - steps * increment) >= increment) {
        steps += 1.0f;
    }
    return steps * increment + minimum;
}

} // namespace

SmartFeaturesManager::SmartFeaturesManager(IEEE1394Camera* camera) : _pCamera(camera) {}

uint32_t SmartFeaturesManager::readQuadlet(uint32_t address) const
{
    unsigned long value = 0;
    _pCamera->readRegister(address, value);
    return static_cast<uint32_t>(value);
}

void SmartFeaturesManager::writeQuadlet(uint32_t address, uint32_t value)
{
    _pCamera->writeRegister(address, value);
}

float SmartFeaturesManager::readFloat(uint32_t address) const
{
    return floatFromBits(readQuadlet(address));
}

bool SmartFeaturesManager::areSupported()
{
    writeQuadlet(sf::kAccessControl0, sf::kFeatureSetId[0]);
    writeQuadlet(sf::kAccessControl1, sf::kFeatureSetId[1]);
    const uint32_t first = readQuadlet(sf::kAccessControl0);
    const uint32_t second = readQuadlet(sf::kAccessControl1);
    return !(first == sf::kAllOnes && second == sf::kAllOnes);
}

bool SmartFeaturesManager::inquire(SmartFeatureEnum feature, uint32_t& address, uint32_t& second)
{
    address = 0;
    second = 0;
    const sf::Guid128* id = sf::featureId(static_cast<unsigned>(feature));
    if (id == nullptr) {
        return false;
    }
    for (uint32_t i = 0; i < 4; ++i) {
        writeQuadlet(sf::kInquiryId + 4 * i, id->q[i]);
    }
    address = readQuadlet(sf::kInquiryAddress);
    second = readQuadlet(sf::kInquirySecond);
    return address != 0 || second != 0;
}

bool SmartFeaturesManager::enable(SmartFeatureEnum feature, bool on)
{
    uint32_t address = 0;
    uint32_t second = 0;
    if (!inquire(feature, address, second)) {
        return false;
    }
    const uint32_t control = readQuadlet(address);
    if (!(control & sf::kControlPresent)) {
        return false;
    }
    writeQuadlet(address, on ? (control | sf::kControlPresent | sf::kControlEnabled)
                             : (control & ~sf::kControlEnabled));
    if (feature == sf_crcChecksum) {
        _bCrcEnabled = on;
    }
    return true;
}

bool SmartFeaturesManager::isEnabled(SmartFeatureEnum feature)
{
    uint32_t address = 0;
    uint32_t second = 0;
    if (!inquire(feature, address, second)) {
        return false;
    }
    const uint32_t mask = sf::kControlPresent | sf::kControlEnabled;
    return (readQuadlet(address) & mask) == mask;
}

bool SmartFeaturesManager::readShutterTimeBase()
{
    if (!isEnabled(sf_shutterTimeBase)) {
        ORVEX_THROW(kUnit, kTimeBaseInactive);
    }
    uint32_t address = 0;
    uint32_t second = 0;
    if (!inquire(sf_shutterTimeBase, address, second)) {
        return false;
    }
    _fTimeBaseCurrent = readFloat(address + sf::kTimeBaseCurrentOffset);
    _fTimeBaseMax = readFloat(address + sf::kTimeBaseMaxOffset);
    _fTimeBaseMin = readFloat(address + sf::kTimeBaseMinOffset);
    _fTimeBaseIncrement = readFloat(address + sf::kTimeBaseIncrementOffset);
    return true;
}

bool SmartFeaturesManager::setShutterTimeBase(float& value)
{
    if (value == _fTimeBaseCurrent) {
        return true;
    }
    if (!isEnabled(sf_shutterTimeBase)) {
        ORVEX_THROW(kUnit, kTimeBaseInactive);
    }
    const float candidate = roundToStep(value, _fTimeBaseMin, _fTimeBaseIncrement);
    if (!(candidate >= _fTimeBaseMin)) { // also refuses NaN
        ORVEX_THROW(kUnit, kTimeBaseTooSmall);
    }
    if (candidate > _fTimeBaseMax) {
        ORVEX_THROW(kUnit, kTimeBaseTooLarge);
    }
    if (candidate != value) {
        LOG4CPLUS_WARN(g_OrvexLogger,
                       "Shutter Time Base set to " << candidate << " (" << value << " required)");
        value = candidate;
    }
    uint32_t address = 0;
    uint32_t second = 0;
    if (!inquire(sf_shutterTimeBase, address, second)) {
        return false;
    }
    writeQuadlet(address + sf::kTimeBaseCurrentOffset, bitsFromFloat(candidate));
    _fTimeBaseCurrent = candidate;
    return true;
}

bool SmartFeaturesManager::isShutterTimeBaseAvailable() const
{
    return _fTimeBaseCurrent != 0.0f && !std::isnan(_fTimeBaseCurrent);
}

bool SmartFeaturesManager::readExtendedVersionInfo(std::string& out)
{
    uint32_t address = 0;
    uint32_t second = 0;
    if (!inquire(sf_extendedVersionInfo, address, second)) {
        return false;
    }
    if (address == sf::kVersionInfoBlockStart) {
        address = sf::kVersionInfoControl;
    }
    const uint32_t control = readQuadlet(address);
    const uint32_t count = (control >> sf::kVersionInfoCountShift) & sf::kVersionInfoCountMask;
    if (!(control & sf::kVersionInfoPresent) || count == 0) {
        return _pCamera->getCameraExtendedVersionInfo(out);
    }
    out.clear();
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t quadlet = readQuadlet(address + sf::kVersionInfoTextOffset + 4 * i);
        for (int shift = 24; shift >= 0; shift -= 8) {
            out.push_back(static_cast<char>((quadlet >> shift) & 0xFF));
        }
    }
    return true;
}

void SmartFeaturesManager::parse(const uint8_t* buffer, std::size_t size)
{
    orvex::parseImageChunks(buffer, size, _bCrcEnabled, _chunks);
}

bool SmartFeaturesManager::isPresent(unsigned n) const
{
    if (n >= _chunks.presence.size()) {
        throw std::out_of_range("invalid bitset<N> position");
    }
    return _chunks.presence.test(n);
}

void SmartFeaturesManager::requireChunk(unsigned chunk, const char* message) const
{
    if (!_chunks.presence.test(chunk)) {
        ORVEX_THROW(kUnit, message);
    }
}

uint32_t SmartFeaturesManager::getFrameCounter() const
{
    requireChunk(sf::kFeatureFrameCounter, "frame counter smart feature not enabled");
    return _chunks.frameCounter;
}

double SmartFeaturesManager::getCycleTimeDate() const
{
    // Shares the frame counter's message: hosts match on the text.
    requireChunk(sf::kFeatureCycleTimeStamp, "frame counter smart feature not enabled");
    return _chunks.cycleTimeDateMs;
}

bool SmartFeaturesManager::isCrcMatched() const
{
    requireChunk(sf::kFeatureCrcChecksum, "CRC smart feature not enabled");
    return _chunks.crcMatched;
}

uint32_t SmartFeaturesManager::getGain() const
{
    requireChunk(sf::kFeatureDcam, kDcamNotEnabled);
    if (!isGainPresent()) {
        ORVEX_THROW(kUnit, "gain not available");
    }
    return _chunks.gain & 0xFFFF;
}

uint32_t SmartFeaturesManager::getShutter() const
{
    requireChunk(sf::kFeatureDcam, kDcamNotEnabled);
    if (!isShutterPresent()) {
        ORVEX_THROW(kUnit, "shutter not available");
    }
    return _chunks.shutter & 0xFFFF;
}

bool SmartFeaturesManager::isGainPresent() const
{
    return _chunks.gain != orvex::ChunkParseState::kAbsent;
}

bool SmartFeaturesManager::isShutterPresent() const
{
    return _chunks.shutter != orvex::ChunkParseState::kAbsent;
}
