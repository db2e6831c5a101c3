// A camera for tests of the camera model: the back-end operations are
// trivial stand-ins, except the register operations, which go to a simulated
// IIDC camera (with smart features unless the test plugs in another), and
// the protected services a back end uses are opened up.
#pragma once

#include <orvex/IEEE1394Camera.h>
#include <orvex/OrvexError.h>
#include <orvex/sim/Bus.h>
#include <orvex/sim/Camera.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace orvex::test {

// A camera with every smart feature, and a shutter time base of 1.5 s in
// steps of 0.25 s from 0.5 s to 2 s (every step exact in binary).
inline sim::CameraConfig smartCameraConfig()
{
    sim::CameraConfig config;
    config.serialNumber = 5;
    config.modelName = "Test smart camera";
    config.smartFeatures = true;
    config.smartFeatureMask = 0x1FF;
    config.shutterTimeBase = 1.5;
    config.timeBaseIncrement = 0.25f;
    config.timeBaseMin = 0.5f;
    config.timeBaseMax = 2.0f;
    return config;
}

class TestCamera : public IEEE1394Camera {
public:
    explicit TestCamera(CamGUID guid = CamGUID(1, 0), unsigned short portIdx = 0,
                        const sim::CameraConfig& config = smartCameraConfig())
        : _guid(guid), _nPortIdx(portIdx)
    {
        plugIn(config);
    }
    ~TestCamera() override
    {
        destroyNotificationWindow();
        _pSimCamera->detach();
    }

    // Back-end services, opened for the tests.
    using IEEE1394Camera::createNotificationWindow;
    using IEEE1394Camera::destroyNotificationWindow;
    using IEEE1394Camera::getChrono;
    using IEEE1394Camera::getNotificationWindow;
    using IEEE1394Camera::imagesBuffer;
    using IEEE1394Camera::notifyNewImage;
    using IEEE1394Camera::smartFeaturesManager;

    // Replaces the simulated camera behind the registers by a fresh one.
    void plugIn(const sim::CameraConfig& config)
    {
        if (_pSimCamera)
            _pSimCamera->detach();
        _pSimCamera = std::make_unique<sim::Camera>(config);
        _pSimCamera->attach(_pBus);
        std::lock_guard<std::mutex> lock(_writesMutex);
        _writes.clear();
    }
    sim::Camera& simCamera() { return *_pSimCamera; }
    // The register writes (address, value) the camera model made since the
    // last plugIn, oldest first.
    std::vector<std::pair<uint32_t, uint32_t>> writes() const
    {
        std::lock_guard<std::mutex> lock(_writesMutex);
        return _writes;
    }
    unsigned writeCount(uint32_t address) const
    {
        unsigned count = 0;
        for (const auto& write : writes())
            count += write.first == address;
        return count;
    }

    void setGuid(CamGUID guid) { _guid = guid; }
    void setInitialized(bool initialized) { _bInitialized = initialized; }
    void setAcquiring(bool acquiring) { _bAcquiring = acquiring; }
    void setFallbackVersion(bool available, const std::string& text)
    {
        _bFallbackVersion = available;
        _fallbackVersion = text;
    }

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
        uint32_t quadlet = 0;
        check(_pSimCamera->readRegister(static_cast<uint32_t>(address), quadlet));
        value = quadlet;
    }
    void writeRegister(unsigned long address, unsigned long value) override
    {
        {
            std::lock_guard<std::mutex> lock(_writesMutex);
            _writes.emplace_back(static_cast<uint32_t>(address), static_cast<uint32_t>(value));
        }
        check(_pSimCamera->writeRegister(static_cast<uint32_t>(address), static_cast<uint32_t>(value)));
    }

private:
    static void check(sim::Status status)
    {
        if (status != sim::Status::ok)
            ORVEX_THROW("TestCamera", sim::toString(status));
    }

    CamGUID _guid;
    unsigned short _nPortIdx;
    bool _bInitialized = false;
    std::atomic<bool> _bAcquiring{false};
    bool _bFallbackVersion = false;
    std::string _fallbackVersion;
    std::shared_ptr<sim::Bus> _pBus = std::make_shared<sim::Bus>(0, sim::BusConfig{});
    std::unique_ptr<sim::Camera> _pSimCamera;
    mutable std::mutex _writesMutex;
    std::vector<std::pair<uint32_t, uint32_t>> _writes;
};

} // namespace orvex::test
