// The camera side of the smart features protocol: finds a feature's control
// register from its identifier, switches features on and off, reads and
// writes the shutter time base, reads the extended version text, and parses
// the chunks a camera appends to each image.
//
// Owned by its camera, one per camera. Talks to the camera only through the
// camera's readRegister, writeRegister and getCameraExtendedVersionInfo, so it
// serves every back end. Not locked: feature switching and the shutter time
// base are host-thread business; parse() and the chunk getters belong to the
// camera's acquisition thread, and the host does not switch features while
// the camera acquires. Register failures propagate from the camera.
#pragma once

#include "core/ChunkParser.h"

#include <orvex/Types.h>

#include <cstddef>
#include <cstdint>
#include <string>

class IEEE1394Camera;

class SmartFeaturesManager {
public:
    explicit SmartFeaturesManager(IEEE1394Camera* camera);

    SmartFeaturesManager(const SmartFeaturesManager&) = delete;
    SmartFeaturesManager& operator=(const SmartFeaturesManager&) = delete;

    // Writes the vendor's feature-set identifier to the access-control
    // registers; false when the camera reads back all ones in both.
    bool areSupported();

    // Looks a feature's control register up; false (and both outputs 0)
    // when the camera does not know the feature or it has no identifier.
    bool inquire(SmartFeatureEnum feature, uint32_t& address, uint32_t& second);

    // Switches a present feature on or off; false when the camera lacks it.
    bool enable(SmartFeatureEnum feature, bool on);
    bool isEnabled(SmartFeatureEnum feature);

    // Refreshes the cached shutter time base; throws "La SF ShutterTimeBase
    // n'est pas active" when the feature is off.
    bool readShutterTimeBase();
    // Rounds `value` (seconds) to the nearest step, writes it back through
    // the argument and to the camera.
    bool setShutterTimeBase(float& value);
    float getShutterTimeBase() const { return _fTimeBaseCurrent; }
    float getShutterTimeBaseMin() const { return _fTimeBaseMin; }
    float getShutterTimeBaseMax() const { return _fTimeBaseMax; }
    float getShutterTimeBaseIncrement() const { return _fTimeBaseIncrement; }
    // The cached current value is neither zero nor NaN.
    bool isShutterTimeBaseAvailable() const;

    // The camera's extended version text, from the smart feature when the
    // camera has it, else from the camera's own getCameraExtendedVersionInfo.
    bool readExtendedVersionInfo(std::string& out);

    bool isCrcEnabled() const { return _bCrcEnabled; }

    // Acquisition thread: reads the chunks at the end of one image. Never
    // reads outside the buffer; malformed data ends the walk.
    void parse(const uint8_t* buffer, std::size_t size);

    // Whether chunk n (6: the CRC) was found in the last parsed image;
    // n >= 10 throws std::out_of_range.
    bool isPresent(unsigned n) const;
    // Chunk getters: each throws OrvexError when its chunk was not found.
    uint32_t getFrameCounter() const;
    double getCycleTimeDate() const; // milliseconds
    bool isCrcMatched() const;
    uint32_t getGain() const;    // low 16 bits of the DCAM gain value
    uint32_t getShutter() const; // low 16 bits of the DCAM shutter value
    bool isGainPresent() const;
    bool isShutterPresent() const;
    uint32_t getLowestGreyLevel() const { return _chunks.greyLevels[0]; }
    uint32_t getHighestGreyLevel() const { return _chunks.greyLevels[1]; }
    uint32_t getMeanGreyLevel() const { return _chunks.greyLevels[2]; }

private:
    uint32_t readQuadlet(uint32_t address) const;
    void writeQuadlet(uint32_t address, uint32_t value);
    float readFloat(uint32_t address) const;
    void requireChunk(unsigned chunk, const char* message) const;

    bool _bCrcEnabled = false;
    orvex::ChunkParseState _chunks;
    float _fTimeBaseMin = 0.0f;
    float _fTimeBaseMax = 0.0f;
    float _fTimeBaseIncrement = 0.0f;
    float _fTimeBaseCurrent = 0.0f;
    IEEE1394Camera* _pCamera;
};
