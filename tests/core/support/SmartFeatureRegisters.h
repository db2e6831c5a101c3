// An in-memory IIDC register space that answers the smart features protocol
// the way a camera does: the access-control echo, feature inquiries by
// identifier, control registers whose presence bit is read-only, the shutter
// time base block and the extended version text. Everything else is plain
// storage (0 until written). One thread at a time.
#pragma once

#include <orvex/iidc/SmartFeatures.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>

namespace orvex::test {

namespace sf = orvex::iidc::sf;

class SmartFeatureRegisters {
public:
    // Where the test camera puts feature n's control register.
    static constexpr uint32_t featureAddress(unsigned feature) { return 0xF2F00100 + 0x40 * feature; }

    void setSmartFeaturesSupported(bool supported) { _bSupported = supported; }

    // The camera knows the feature; `present` is its control register's bit 31.
    void addFeature(unsigned feature, bool present = true, uint32_t address = 0)
    {
        const uint32_t at = address != 0 ? address : featureAddress(feature);
        _features[feature] = at;
        _storage[at] = present ? sf::kControlPresent : 0;
    }

    void setTimeBase(float increment, float minimum, float maximum, float current)
    {
        const uint32_t at = _features.at(sf::kFeatureShutterTimeBase);
        storeFloat(at + sf::kTimeBaseIncrementOffset, increment);
        storeFloat(at + sf::kTimeBaseMinOffset, minimum);
        storeFloat(at + sf::kTimeBaseMaxOffset, maximum);
        storeFloat(at + sf::kTimeBaseCurrentOffset, current);
    }
    float timeBaseWritten() const
    {
        return loadFloat(_features.at(sf::kFeatureShutterTimeBase) + sf::kTimeBaseCurrentOffset);
    }

    // Puts `text` (padded with blanks to whole quadlets) in the version
    // block whose control quadlet is at `control`.
    void setVersionText(uint32_t control, const std::string& text)
    {
        const uint32_t quadlets = static_cast<uint32_t>((text.size() + 3) / 4);
        _storage[control] = sf::kVersionInfoPresent | (quadlets << sf::kVersionInfoCountShift);
        std::string padded = text;
        padded.resize(quadlets * 4, ' ');
        for (uint32_t i = 0; i < quadlets; ++i) {
            uint32_t quadlet = 0;
            for (int b = 0; b < 4; ++b) {
                quadlet = (quadlet << 8) | static_cast<uint8_t>(padded[4 * i + b]);
            }
            _storage[control + sf::kVersionInfoTextOffset + 4 * i] = quadlet;
        }
    }

    uint32_t read(uint32_t address) const
    {
        if (address == sf::kAccessControl0 || address == sf::kAccessControl1) {
            return _bSupported ? peek(address) : sf::kAllOnes;
        }
        if (address == sf::kInquiryAddress) {
            return inquiredAddress();
        }
        if (address == sf::kInquirySecond) {
            return 0;
        }
        return peek(address);
    }

    void write(uint32_t address, uint32_t value)
    {
        ++_writes[address];
        if (isControlRegister(address)) {
            // Bit 31 belongs to the camera; only the enable bit is writable.
            _storage[address] = (_storage[address] & sf::kControlPresent) | (value & ~sf::kControlPresent);
            return;
        }
        _storage[address] = value;
    }

    uint32_t peek(uint32_t address) const
    {
        const auto found = _storage.find(address);
        return found == _storage.end() ? 0 : found->second;
    }
    unsigned writeCount(uint32_t address) const
    {
        const auto found = _writes.find(address);
        return found == _writes.end() ? 0 : found->second;
    }

private:
    bool isControlRegister(uint32_t address) const
    {
        for (const auto& feature : _features) {
            if (feature.second == address) {
                return true;
            }
        }
        return false;
    }

    uint32_t inquiredAddress() const
    {
        const sf::Guid128 asked{{peek(sf::kInquiryId), peek(sf::kInquiryId + 4), peek(sf::kInquiryId + 8),
                                 peek(sf::kInquiryId + 12)}};
        for (const auto& feature : _features) {
            const sf::Guid128* id = sf::featureId(feature.first);
            if (id != nullptr && *id == asked) {
                return feature.second;
            }
        }
        return 0;
    }

    void storeFloat(uint32_t address, float value)
    {
        uint32_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        _storage[address] = bits;
    }
    float loadFloat(uint32_t address) const
    {
        const uint32_t bits = peek(address);
        float value = 0;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

    bool _bSupported = true;
    std::map<unsigned, uint32_t> _features; // feature number -> control address
    std::map<uint32_t, uint32_t> _storage;
    std::map<uint32_t, unsigned> _writes;
};

} // namespace orvex::test
