// The camera of the FlyCapture back end: one object per camera on the 1394
// buses, created, indexed and deleted by FlyCapVideoServer and reached by the
// host through IEEE1394Camera. The camera runs in Format_7 mode 0, which
// init() selects.
//
// Threads and locks. Construction, init(), configuration and destruction run
// on the host's thread without a lock; the library does not guard them
// against concurrent use. The thread that constructs the camera owns its
// hidden window, so ImageCB::onNewImage() runs there while it dispatches
// window messages. The acquisition thread shares only the two raw-to-real
// maps (each under its own critical section), the images buffer (which locks
// itself) and `_bAcquiring` (changed by interlocked exchange only).
//
// A FlyCapture call that fails for good (twice; three times for user-memory
// block transfers) posts the server's device-removal message for this
// camera: the server then deletes the camera on its window's thread.
#pragma once

#include <orvex/Export.h>
#include <orvex/IEEE1394Camera.h>
#include <orvex/Types.h>
#include <orvex/companions/CamGUID.h>

#include <cstdint>
#include <memory>
#include <string>

class ORVEX_API FlyCapCamera : public IEEE1394Camera {
public:
    // Opens an SDK context bound to the camera at `portIdx` (its position in
    // the enumeration) and creates the camera's hidden window on the calling
    // thread. Throws OrvexError with the SDK's text when the SDK refuses;
    // nothing is left behind then. Host thread.
    FlyCapCamera(unsigned short portIdx, uint32_t serialNumber, const std::string& modelName,
                 const std::string& vendorName, int busId);
    // Stops acquisition, destroys the window and closes the context. Never
    // throws. The thread that constructed the camera.
    ~FlyCapCamera() override;

    // --- identity and state (host thread) -------------------------------------
    unsigned short getPortIdx() const override;
    // Resets the camera, selects Format_7 mode 0 at full size, 8-bit mono and
    // the largest packet, forces the trigger to the rising edge (off), resets
    // exposure and fills every cache. Not while acquiring. May be repeated.
    void init() override;
    bool isInitialized() const override;
    // Reads the INITIALIZE register: false when the camera does not answer.
    bool testCommunication() const override;
    // "major.minor.type.build" from the camera's version register.
    bool getCameraExtendedVersionInfo(std::string& info) const override;
    CamGUID getUniqueId() override;
    std::string getOwningBusId() override;
    std::string getVendorName() override;
    std::string getModelName() override;
    CameraModel getModel() override;

    // --- image geometry (host thread; answers from the cache) -----------------
    bool isPixelFormatSupported(IEEECameraPixelFormat pixelFormat) const override;
    void setPixelFormat(IEEECameraPixelFormat pixelFormat) override;
    IEEECameraPixelFormat getPixelFormat() override;
    void setSize(int width, int height) override;
    void getSize(int& width, int& height) const override;
    void getUnitSize(int& width, int& height) const override;
    void getMaxSize(int& width, int& height) const override;
    void setPos(int x, int y) override;
    void getPos(int& x, int& y) const override;
    void getUnitPos(int& x, int& y) override;
    void setRoi(int x, int y, int width, int height) override;
    // Colour code 0 is 8-bit mono, 1 is 16-bit mono (this back end's own
    // numbering, not the IIDC colour codes); other codes are not supported.
    bool isColorCodeSupported(unsigned long nCode);
    void setColorCode(unsigned long nCode);
    unsigned long getColorCode();

    // --- packet transfer -------------------------------------------------------
    void setNbBytesPerPacket(int nbBytes) override;
    int getNbBytesPerPacket() const override;
    int getUnitNbBytesPerPacket() const override;
    int getMinNbBytesPerPacket() const override;
    int getMaxNbBytesPerPacket() const override;
    // Not supported by this back end: the setter and getters refuse.
    bool isInterPacketDelaySupported() const override;
    void setInterPacketDelay(int delay) override;
    int getInterPacketDelay() const override;
    int getUnitInterPacketDelay() const override;
    int getMinInterPacketDelay() const override;
    int getMaxInterPacketDelay() const override;

    // --- trigger (host thread; TRIGGER_MODE read, changed and written back) ----
    // Not while acquiring; switching re-ranges the shutter (clamped into the
    // new range and applied again).
    void turnOnTrigger(bool on) override;
    bool isTriggerTurnedOn() const override;
    // Modes 0 and 1 only, as the camera offers them; any time.
    void setTriggerMode(CameraTriggerMode mode) override;
    bool isTriggerModeSupported(CameraTriggerMode mode) override;
    CameraTriggerMode getTriggerMode() override;
    bool getPolarity() const override;
    void setPolarity(bool risingEdge) override;
    // The camera's own software trigger register; the broadcast reaches every
    // camera of the bus in one unacknowledged write.
    bool isSoftwareTriggerSupported() override;
    void softwareTrigger() override;
    void softwareTriggerBroadcast() override;
    bool isTriggerReadyFeatureSupported() override;
    bool isTriggerReady() override;
    // Trigger on/off is refused while acquiring.
    bool isTrigStatusChangeAllowedDuringAcq() const override;

    // --- strobe outputs (host thread; GPIO pins 1 and 2 after init) ----------
    // A pin's support is probed once (its GPIO direction restored after),
    // then cached. Delays and durations are microseconds, at most 63930;
    // their getters answer the value last set, else what the camera holds.
    unsigned long getNbStrobeOutputPorts() const override;
    unsigned long getStrobeOutputPortId(unsigned long idx) const override;
    bool isStrobeOutputPortIdValid(unsigned long portId) const override;
    bool isStrobeOutputFeatureSupported(unsigned long portId) const override;
    bool isStrobeOutputEnabled(unsigned long portId) const override;
    void enableStrobeOutput(unsigned long portId, bool enable, bool highActive, unsigned long delay,
                            unsigned long duration) override;
    void enableStrobeOutput(unsigned long portId, bool enable) override;
    void setStrobeOutputPolarity(unsigned long portId, bool highActive) override;
    bool getStrobeOutputPolarity(unsigned long portId) override;
    void setStrobeOutputDelay(unsigned long portId, unsigned long delay) override;
    unsigned long getStrobeOutputDelay(unsigned long portId) const override;
    void setStrobeOutputDuration(unsigned long portId, unsigned long duration) override;
    unsigned long getStrobeOutputDuration(unsigned long portId) const override;

    // --- shutter (microseconds) ------------------------------------------------
    void setShutter(unsigned long shutter) override;
    unsigned long getShutter() const override;
    unsigned long getShutterMin() const override;
    unsigned long getShutterMax() const override;
    // The shutter unit is fixed at one microsecond (1e-6 s).
    bool isShutterTimeBaseAvailable() const override;
    bool setShutterTimeBase(float timeBase) override;
    float getShutterTimeBase() const override;
    float getShutterTimeBaseMin() const override;
    float getShutterTimeBaseMax() const override;

    // --- gain (tenths of a decibel) and brightness -----------------------------
    bool isGainSelectorAvailable(GainSelector selector) const override;
    void setGain(long gain, GainSelector selector) override;
    long getGain(GainSelector selector) const override;
    bool isGainValueIgnored(GainSelector selector) const override;
    long getGainMin(GainSelector selector) const override;
    long getGainMax(GainSelector selector) const override;
    long getDefaultGain() const override;
    bool isBrightnessFeatureSupported() const override;
    void setBrightness(double brightness) override;
    double getBrightness() const override;
    double getBrightnessMin() const override;
    double getBrightnessMax() const override;

    // --- acquisition -------------------------------------------------------------
    // Starts the transfer and the acquisition thread, which adds every image
    // to the images buffer and notifies the host. Refuses before init, when
    // started already, and when the acquiring cameras of this bus would need
    // more than the bus's packet budget. Host thread.
    void startAcquisition() override;
    // Ends the thread (within the grab time-out), the transfer, and empties
    // the images buffer. Host thread.
    void stopAcquisition() override;
    bool isAcquisitionStarted() const override;

    // --- smart features: the embedded frame-information items ---------------------
    bool areSmartFeaturesSupported() override;
    bool isSmartFeatureEnabled(SmartFeatureEnum feature) override;
    bool enableSmartFeature(SmartFeatureEnum feature, bool enable) override;

    // --- frame information (host thread; after init) ------------------------------
    // The switches work only while stopped and return whether the camera now
    // embeds the item (false when it did not take the change).
    bool isTimeStampFeatureSupported() const;
    bool isTimeStampFeatureEnabled() const;
    bool enableTimeStampFeature(bool enable);
    bool isFrameCounterFeatureSupported() const;
    bool isFrameCounterFeatureEnabled() const;
    bool enableFrameCounterFeature(bool enable);
    bool isGPIOStatusFeatureSupported() const;
    bool isGPIOStatusEnabled() const;
    bool enableGPIOStatusFeature(bool enable);
    bool isDCAMInfoFeatureSupported() const;
    bool isDCAMInfoFeatureEnabled();
    bool enableDCAMInfoFeature(bool enable);

    // --- frames and registers ------------------------------------------------------
    void getNbBytesPerFrame(unsigned long& nbBytes, unsigned long& second) const override;
    // Absolute register addresses (0xF0F00000 and up); two attempts each.
    // Work from construction on. Host thread.
    void readRegister(unsigned long address, unsigned long& value) const override;
    void writeRegister(unsigned long address, unsigned long value) override;

    // --- temperature, user memory ----------------------------------------------
    bool isTemperatureAvailable() const override;
    double getTemperature() const override;
    // Bytes of non-volatile user memory, read from the camera on every call.
    unsigned int getAvailableUserMemorySpace() override;
    // Any byte range inside the user memory; the covering quadlets are read
    // (and, for a write, written back with the neighbouring bytes intact).
    void readUserMemory(unsigned int offset, unsigned char* data, unsigned int size) override;
    void writeUserMemory(unsigned int offset, const unsigned char* data, unsigned int size) override;

    // --- frame rate, auto exposure -----------------------------------------------
    bool isFrameRateFeatureAvailable() const override;
    void enableFrameRateFeature(bool enable) override;
    bool isFrameRateFeatureEnabled() const override;
    void setFrameRate(double frameRate) override;
    double getFrameRate() const override;
    double getFrameRateMin() const override;
    double getFrameRateMax() const override;
    bool isAutoExposureFeatureSupported() const override;
    void enableAutoExposureFeature(bool enable) override;
    bool isAutoExposureFeatureEnabled() const override;

protected:
    void setPortIdx(unsigned short portIdx) override;

    void createWindow();
    void destroyWindow() noexcept;

    // Cache refreshers (host thread).
    void updatePacketInfo();
    // Refuses a packet size outside the current packet limits or off their step.
    void checkPacketSzValidity(int nPacketSz) const;
    void updateTriggerInfo();
    void updateBrightness();
    void updateFrameRate();
    void updateShutter();
    void updateGain();
    void updateMapShutterRawToReal();
    void updateMapGainRawToReal();
    void updateFrameInfoFeatures();
    // Refuses a start that would take the acquiring cameras of this bus over
    // the server's packet budget.
    void checkMaxPacketSzOnBusNotExceeded();
    // Decodes the enabled frame-information items at the start of the
    // sample's pixels into it. Acquisition thread.
    void readFrameInfo(boost::shared_ptr<ImageSample> sample);
    // Leaves the trigger off and set to the rising edge; refuses cameras
    // whose trigger is absent, unreadable or cannot be switched.
    void forceTriggerPolarityOnRisingEdge();

    // The camera's SDK context (a FlyCaptureContext), for the
    // synchronisation controller. Any thread.
    void* getFlyCaptureContext() const;

    // The SDK's register calls of the synchronisation controller, which sees
    // no SDK declaration, on a context from getFlyCaptureContext(). Each is
    // the bare SDK call (no retry, log or lock), so that consecutive reads
    // stay back to back, and returns the SDK's error code (0: success). Any
    // thread.
    static int getCameraRegister(void* context, uint32_t offset, uint32_t& value) noexcept;
    static int writeRegisterBlock(void* context, uint16_t addressHigh, uint32_t addressLow,
                                  const uint32_t* values, uint32_t count) noexcept;
    // The SDK's text for one of its error codes.
    static std::string sdkErrorText(int error);

    friend class MultiSync;

private:
    // Everything the camera keeps, behind the wall (FlyCapCameraPrivate.h).
    struct State;
    // The acquisition thread (FlyCapCameraAcquisition.cpp).
    class Acquisition;

    // One frame-information switch: sets or clears `bits`, then re-reads the
    // register.
    void switchFrameInfoItem(uint32_t bits, bool enable);
    // The gain and shutter of an image from their raw values, through the
    // raw-to-real maps; an unknown raw shutter is logged with the camera's.
    void readDcamInfo(ImageSample& sample, int32_t rawGain, int32_t rawShutter);
    // readFrameInfo without its tracer: for a caller that knows "Orvex" does
    // not trace.
    void decodeFrameInfo(ImageSample& sample);
    // Stops the transfer of a start that failed after it began.
    void abandonStartedTransfer() noexcept;

    // Steps of init().
    void resetAndSelectFormat7();
    void resetImageArea();
    void setLargestPacket();
    void resetExposure();
    void resetStrobeOutputs();
    // Strobe steps (FlyCapCameraStrobe.cpp). The interface's const queries
    // also write: configuring a pin as an output is a register write.
    uint32_t strobeControlAddress(uint32_t pin) const;
    void setStrobePinToOutput(uint32_t pin) const;
    void checkStrobeSupported(unsigned long pin) const;
    // Re-reads the shutter range after the trigger or the frame-rate control
    // switched, pulls the cached shutter into it and applies it again.
    void reRangeShutter();
    // The acquiring flag, read atomically (the acquisition thread changes it).
    bool isAcquiring() const;
    void checkInitialized() const;
    // init first, then a cached capability flag: `refusal` when it is off.
    // A capability asked of the camera (a virtual query) must be asked only
    // after checkInitialized(), so an uninitialised camera is never read.
    void checkInitializedAnd(bool capability, const char* refusal) const;
    void checkNotAcquiring() const;
    void checkTriggerReadable() const;
    void checkInterPacketDelaySupported() const;
    // Re-reads the absolute shutter range into the cache (rounded as the
    // host sees it).
    void readShutterRange();
    [[noreturn]] void refuseNotAvailableYet(const char* operation) const;

    std::unique_ptr<State> _pState;
};
