// The advanced feature area of a camera with smart features: access
// control, feature inquiry by identifier, feature switches, the shutter time
// base and the extended version text.
#include <orvex/sim/Camera.h>

#include "CameraLayout.h"

#include <orvex/iidc/SmartFeatures.h>
#include <orvex/sim/FramePattern.h>

#include <cmath>
#include <cstring>
#include <mutex>

namespace orvex::sim {

using namespace orvex::iidc;

namespace {

uint32_t floatBits(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

float bitsFloat(uint32_t bits)
{
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::string versionText(const CameraConfig& config)
{
    if (!config.extendedVersion.empty())
        return config.extendedVersion;
    const uint32_t v = config.firmwareVersion;
    return "FW " + std::to_string(v >> 24) + "." + std::to_string((v >> 16) & 0xFF) + "." +
           std::to_string((v >> 12) & 0xF) + "." + std::to_string(v & 0xFFF);
}

} // namespace

uint32_t Camera::smartFeatureControlAddress(unsigned feature)
{
    return layout::smartFeatureControl(feature);
}

bool Camera::smartFeatureEnabledLocked(unsigned feature) const
{
    return _config.smartFeatures && ((_config.smartFeatureMask >> feature) & 1u) &&
           ((_smartEnabled >> feature) & 1u);
}

void Camera::chunkSettingsLocked(uint32_t& chunks, bool& crc) const
{
    chunks = 0;
    crc = false;
    if (smartFeatureEnabledLocked(sf::kFeatureExtendedDataStream)) { // chunks come only with it
        chunks = _smartEnabled & ((1u << sf::kChunkCount) - 1);
        crc = smartFeatureEnabledLocked(sf::kFeatureCrcChecksum);
    }
}

std::size_t Camera::chunkBytes() const
{
    Frame settings;
    {
        std::lock_guard<std::mutex> lock(_m);
        chunkSettingsLocked(settings.smartChunks, settings.crcChunk);
    }
    return pattern::chunkBytes(settings);
}

uint32_t Camera::readAdvancedLocked(uint32_t address) const
{
    if (!_config.smartFeatures)
        return sf::kAllOnes;
    if (address == sf::kAccessControl0 || address == sf::kAccessControl1) {
        // Reads back the feature-set identifier once a host has written it.
        const bool granted =
            _accessControl[0] == sf::kFeatureSetId[0] && _accessControl[1] == sf::kFeatureSetId[1];
        return granted ? _accessControl[address == sf::kAccessControl1 ? 1 : 0] : sf::kAllOnes;
    }
    if (address >= sf::kInquiryId && address < sf::kInquiryId + 16)
        return _inquiryId[(address - sf::kInquiryId) / 4];
    if (address == sf::kInquiryAddress || address == sf::kInquirySecond) {
        // The 64-bit address of the feature: low quadlet first, then the
        // high one (the 0xFFFF above every register address); 0, 0 when
        // the camera lacks the feature.
        const sf::Guid128 asked{{_inquiryId[0], _inquiryId[1], _inquiryId[2], _inquiryId[3]}};
        for (unsigned f = 0; f < sf::kFeatureIds.size(); ++f) {
            if (asked == sf::kFeatureIds[f] && ((_config.smartFeatureMask >> f) & 1u))
                return address == sf::kInquiryAddress ? layout::smartFeatureInquiryAnswer(f) : kAddressHigh;
        }
        return 0;
    }

    // Feature 7: a control quadlet with the text length, then the text.
    const std::string text = versionText(_config);
    const uint32_t textQuadlets = static_cast<uint32_t>((text.size() + 3) / 4);
    if (address == sf::kVersionInfoControl)
        return sf::kVersionInfoPresent | (textQuadlets << sf::kVersionInfoCountShift);
    const uint32_t textStart = sf::kVersionInfoControl + sf::kVersionInfoTextOffset;
    if (address >= textStart && address < textStart + 4 * textQuadlets) {
        uint32_t q = 0;
        for (uint32_t i = 0; i < 4; ++i) {
            const size_t at = (address - textStart) + i;
            q = (q << 8) | (at < text.size() ? static_cast<uint8_t>(text[at]) : 0u);
        }
        return q;
    }

    for (unsigned f = 0; f < sf::kFeatureIds.size(); ++f) {
        if (!((_config.smartFeatureMask >> f) & 1u) || f == sf::kFeatureExtendedVersionInfo)
            continue;
        const uint32_t control = layout::smartFeatureControl(f);
        if (address == control)
            return sf::kControlPresent | (((_smartEnabled >> f) & 1u) ? sf::kControlEnabled : 0u);
        if (f == sf::kFeatureShutterTimeBase) {
            if (address == control + sf::kTimeBaseIncrementOffset)
                return floatBits(_config.timeBaseIncrement);
            if (address == control + sf::kTimeBaseMinOffset)
                return floatBits(_config.timeBaseMin);
            if (address == control + sf::kTimeBaseMaxOffset)
                return floatBits(_config.timeBaseMax);
            if (address == control + sf::kTimeBaseCurrentOffset)
                return floatBits(static_cast<float>(_timeBase));
        }
    }
    return 0;
}

void Camera::writeAdvancedLocked(uint32_t address, uint32_t value)
{
    if (!_config.smartFeatures)
        return;
    if (address == sf::kAccessControl0 || address == sf::kAccessControl1) {
        _accessControl[address == sf::kAccessControl1 ? 1 : 0] = value;
        return;
    }
    if (address >= sf::kInquiryId && address < sf::kInquiryId + 16) {
        _inquiryId[(address - sf::kInquiryId) / 4] = value;
        return;
    }
    for (unsigned f = 0; f < sf::kFeatureIds.size(); ++f) {
        if (!((_config.smartFeatureMask >> f) & 1u))
            continue;
        const uint32_t control = layout::smartFeatureControl(f);
        if (address == control) {
            if (value & sf::kControlEnabled)
                _smartEnabled |= 1u << f;
            else
                _smartEnabled &= ~(1u << f);
            return;
        }
        if (f == sf::kFeatureShutterTimeBase && address == control + sf::kTimeBaseCurrentOffset &&
            smartFeatureEnabledLocked(f)) {
            const float requested = bitsFloat(value);
            if (!std::isfinite(requested) || requested < _config.timeBaseMin ||
                requested > _config.timeBaseMax)
                return; // refused: the time base keeps its value
            const double increment = _config.timeBaseIncrement;
            const double steps =
                increment > 0.0 ? std::round((requested - _config.timeBaseMin) / increment) : 0.0;
            const double snapped = increment > 0.0 ? _config.timeBaseMin + steps * increment : requested;
            // Whole microseconds, kept exact so that absolute shutters stay round.
            _timeBase = std::round(snapped * 1e6) / 1e6;
            _regs.touch(); // the exposure follows the time base
            return;
        }
    }
}

} // namespace orvex::sim
