// A camera for tests of the camera model: every back-end operation is a
// trivial stand-in, registers live in a SmartFeatureRegisters map, and the
// protected services a back end uses are opened up.
#pragma once

#include "core/support/SmartFeatureRegisters.h"

#include <orvex/IEEE1394Camera.h>

#include <atomic>
#include <string>

namespace orvex::test {

class TestCamera : public IEEE1394Camera {
public:
    explicit TestCamera(CamGUID guid = CamGUID(1, 0), unsigned short portIdx = 0)
        : _guid(guid), _nPortIdx(portIdx)
    {
    }
    ~TestCamera() override { destroyNotificationWindow(); }

    // Back-end services, opened for the tests.
    using IEEE1394Camera::createNotificationWindow;
    using IEEE1394Camera::destroyNotificationWindow;
    using IEEE1394Camera::getChrono;
    using IEEE1394Camera::getNotificationWindow;
    using IEEE1394Camera::imagesBuffer;
    using IEEE1394Camera::notifyNewImage;
    using IEEE1394Camera::smartFeaturesManager;

    SmartFeatureRegisters& registers() { return _registers; }
    void setInitialized(bool initialized) { _bInitialized = initialized; }
    void setAcquiring(bool acquiring) { _bAcquiring = acquiring; }
    void setFallbackVersion(bool available, const std::string& text)
    {
        _bFallbackVersion = available;
        _fallbackVersion = text;
    }
    void setGuid(CamGUID guid) { _guid = guid; }

    // --- the back-end operations ---------------------------------------------
    void setPortIdx(unsigned short portIdx) override { _nPortIdx = portIdx; }
    unsigned short getPortIdx() const override { return _nPortIdx; }
    void init() override { _bInitialized = true; }
    bool isInitialized() const override { return _bInitialized; }
    bool testCommunication() const override { return true; }
    bool getCameraExtendedVersionInfo(std::string& info) const override
    {
        if (_bFallbackVersion) {
            info = _fallbackVersion;
        }
        return _bFallbackVersion;
    }
    CamGUID getUniqueId() override { return _guid; }
    std::string getOwningBusId() override { return "0"; }
    std::string getVendorName() override { return "Test"; }
    std::string getModelName() override { return "TestCamera"; }
    CameraModel getModel() override { return camm_other; }
    bool isPixelFormatSupported(IEEECameraPixelFormat pixelFormat) const override
    {
        return pixelFormat == pf_yMono;
    }
    void setPixelFormat(IEEECameraPixelFormat) override {}
    IEEECameraPixelFormat getPixelFormat() override { return pf_yMono; }
    void setSize(int, int) override {}
    void getSize(int& width, int& height) const override { width = height = 4; }
    void getUnitSize(int& width, int& height) const override { width = height = 1; }
    void getMaxSize(int& width, int& height) const override { width = height = 4; }
    void setPos(int, int) override {}
    void getPos(int& x, int& y) const override { x = y = 0; }
    void getUnitPos(int& x, int& y) override { x = y = 1; }
    void setRoi(int, int, int, int) override {}
    void setNbBytesPerPacket(int) override {}
    int getNbBytesPerPacket() const override { return 4; }
    int getUnitNbBytesPerPacket() const override { return 4; }
    int getMinNbBytesPerPacket() const override { return 4; }
    int getMaxNbBytesPerPacket() const override { return 4; }
    bool isInterPacketDelaySupported() const override { return false; }
    void setInterPacketDelay(int) override {}
    int getInterPacketDelay() const override { return 0; }
    int getUnitInterPacketDelay() const override { return 0; }
    int getMinInterPacketDelay() const override { return 0; }
    int getMaxInterPacketDelay() const override { return 0; }
    void turnOnTrigger(bool) override {}
    bool isTriggerTurnedOn() const override { return false; }
    void setTriggerMode(CameraTriggerMode) override {}
    bool isTriggerModeSupported(CameraTriggerMode) override { return false; }
    CameraTriggerMode getTriggerMode() override { return camtm_exposureTimed; }
    bool getPolarity() const override { return true; }
    void setPolarity(bool) override {}
    void setShutter(unsigned long) override {}
    unsigned long getShutter() const override { return 0; }
    unsigned long getShutterMin() const override { return 0; }
    unsigned long getShutterMax() const override { return 0; }
    bool isGainSelectorAvailable(GainSelector selector) const override { return selector == gainsel_main; }
    void setGain(long, GainSelector) override {}
    long getGain(GainSelector) const override { return 0; }
    long getGainMin(GainSelector) const override { return 0; }
    long getGainMax(GainSelector) const override { return 0; }
    long getDefaultGain() const override { return 0; }
    void startAcquisition() override { _bAcquiring = true; }
    void stopAcquisition() override { _bAcquiring = false; }
    bool isAcquisitionStarted() const override { return _bAcquiring; }
    void getNbBytesPerFrame(unsigned long& nbBytes, unsigned long& second) const override
    {
        nbBytes = 16;
        second = 0;
    }
    void readRegister(unsigned long address, unsigned long& value) const override
    {
        value = _registers.read(static_cast<uint32_t>(address));
    }
    void writeRegister(unsigned long address, unsigned long value) override
    {
        _registers.write(static_cast<uint32_t>(address), static_cast<uint32_t>(value));
    }

private:
    CamGUID _guid;
    unsigned short _nPortIdx;
    bool _bInitialized = false;
    std::atomic<bool> _bAcquiring{false};
    bool _bFallbackVersion = false;
    std::string _fallbackVersion;
    SmartFeatureRegisters _registers;
};

} // namespace orvex::test
