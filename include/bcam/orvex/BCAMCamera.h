// The camera of the BCAM back end: one object per device the BCAM driver
// offers, created, indexed and deleted by BCAMVideoServer and reached by the
// host through IEEE1394Camera. Values are the camera's raw register units
// (shutter and gain); init() selects Format_7.
//
// Threads and locks. Construction, init(), configuration and destruction run
// on the host's thread without a lock; the library does not guard them
// against concurrent use. The thread that constructs the camera owns its
// hidden window, so ImageCB::onNewImage() runs there while it dispatches
// window messages. While acquiring, the acquisition thread alone touches the
// grab buffers; it shares with the host only the images buffer (which locks
// itself) and the acquiring flag (changed by interlocked exchange only).
//
// A failure of the driver becomes OrvexError "error calling BCAMCamera::"
// + the operation + ": " + the driver's description.
#pragma once

#include <orvex/Export.h>
#include <orvex/IEEE1394Camera.h>
#include <orvex/Types.h>
#include <orvex/companions/CamGUID.h>

#include <cstdint>
#include <memory>
#include <string>

namespace Bcam {
class CBcamExtension;
} // namespace Bcam

class ORVEX_API BCAMCamera : public IEEE1394Camera {
public:
    // Takes ownership of the opened `device` and creates the camera's hidden
    // window on the calling thread. Host thread.
    explicit BCAMCamera(Bcam::CBcamExtension* device);
    // Destroys the window, stops acquisition, closes and deletes the device.
    // Survives a device already unplugged; never throws. The thread that
    // constructed the camera.
    ~BCAMCamera() override;

    // --- identity and state (host thread) -------------------------------------
    void setPortIdx(unsigned short portIdx) override;
    unsigned short getPortIdx() const override;
    // Returns the camera to its factory settings, reads the default gain,
    // selects Format_7 and trigger mode 0 (off) and derives the shutter
    // offset from the firmware; refuses the A102f firmwares 27 to 29.
    void init() override;
    bool isInitialized() const override;
    // Reads the INITIALIZE register: false (logged) when the camera does not answer.
    bool testCommunication() const override;
    bool getCameraExtendedVersionInfo(std::string& info) const override;
    // From the device name: the sixteen hexadecimal digits after its first "#".
    CamGUID getUniqueId() override;
    // Always "unknown": the driver does not tell.
    std::string getOwningBusId() override;
    std::string getVendorName() override;
    std::string getModelName() override;
    CameraModel getModel() override;

    // --- image geometry (Format_7 only, else "camera must be in format7") ----
    // 8-bit mono (colour code 0) and 16-bit mono (colour code 5).
    bool isPixelFormatSupported(IEEECameraPixelFormat pixelFormat) const override;
    void setPixelFormat(IEEECameraPixelFormat pixelFormat) override;
    IEEECameraPixelFormat getPixelFormat() override;
    void setSize(int width, int height) override;
    // Also in fixed formats, from the DCAM tables.
    void getSize(int& width, int& height) const override;
    void getUnitSize(int& width, int& height) const override;
    void getMaxSize(int& width, int& height) const override;
    void setPos(int x, int y) override;
    void getPos(int& x, int& y) const override;
    void getUnitPos(int& x, int& y) override;
    // Orders the position and size writes so that the region never leaves
    // the sensor on the way.
    void setRoi(int x, int y, int width, int height) override;

    // --- packet transfer (Format_7 only) ------------------------------------------
    void setNbBytesPerPacket(int nbBytes) override;
    int getNbBytesPerPacket() const override;
    int getUnitNbBytesPerPacket() const override;
    int getMinNbBytesPerPacket() const override;
    int getMaxNbBytesPerPacket() const override;
    // Not supported by this driver: the setter and getters refuse.
    bool isInterPacketDelaySupported() const override;
    void setInterPacketDelay(int delay) override;
    int getInterPacketDelay() const override;
    int getUnitInterPacketDelay() const override;
    int getMinInterPacketDelay() const override;
    int getMaxInterPacketDelay() const override;

    // --- trigger (device modes 0 and 1) --------------------------------------------
    void turnOnTrigger(bool on) override;
    bool isTriggerTurnedOn() const override;
    void setTriggerMode(CameraTriggerMode mode) override;
    bool isTriggerModeSupported(CameraTriggerMode mode) override;
    CameraTriggerMode getTriggerMode() override;
    bool getPolarity() const override;
    void setPolarity(bool risingEdge) override;

    // --- shutter (raw units) ---------------------------------------------------------
    void setShutter(unsigned long shutter) override;
    unsigned long getShutter() const override;
    unsigned long getShutterMin() const override;
    unsigned long getShutterMax() const override;
    // An A102f whose camera refuses the ShutterTimeBase smart feature gets it
    // emulated at a fixed 20 us; otherwise the smart feature's own.
    bool isShutterTimeBaseAvailable() const override;
    bool setShutterTimeBase(float timeBase) override;
    float getShutterTimeBase() const override;
    // Seconds the A102f adds to every exposure, by firmware; after init.
    double getShutterOffset() const override;
    float getShutterTimeBaseMin() const override;
    float getShutterTimeBaseMax() const override;

    // --- gain (raw units, selector 0 only) ---------------------------------------------
    bool isGainSelectorAvailable(GainSelector selector) const override;
    void setGain(long gain, GainSelector selector) override;
    long getGain(GainSelector selector) const override;
    long getGainMin(GainSelector selector) const override;
    long getGainMax(GainSelector selector) const override;
    // The gain init() found; "cannot invoke this method  if camera is not initialized" before.
    long getDefaultGain() const override;

    // --- acquisition ----------------------------------------------------------------------
    // Allocates four grab buffers, starts the acquisition thread and the
    // camera's stream. After a failed step the camera may already count as
    // acquiring: stop it to recover. Host thread.
    void startAcquisition() override;
    // Stops the stream and the thread, cancels and frees every grab; every
    // step is tried even when one fails, the first failure is then thrown.
    void stopAcquisition() override;
    bool isAcquisitionStarted() const override;

    // The frame-rate feature stays the base's ("not supported"); the
    // protected setFrameRate below takes a DCAM rate index.
    using IEEE1394Camera::setFrameRate;

    // --- smart features (after init) ---------------------------------------------------
    bool enableSmartFeature(SmartFeatureEnum feature, bool enable) override;
    bool isSmartFeatureEnabled(SmartFeatureEnum feature) override;

    // --- frames and registers --------------------------------------------------------------
    // Format_7: the bytes of one grab (pixels and chunks), second 0; fixed
    // formats: from the DCAM tables.
    void getNbBytesPerFrame(unsigned long& nbBytes, unsigned long& second) const override;
    // Register offsets (0xF0F00000 and up) in the camera's register space.
    // Any thread.
    void readRegister(unsigned long address, unsigned long& value) const override;
    void writeRegister(unsigned long address, unsigned long value) override;

protected:
    // DCAM video configuration by index (format, mode, frame-rate index).
    bool isVideoFormatSupported(uint32_t format) const;
    bool isVideoModeSupported(uint32_t format, uint32_t mode) const;
    bool isVideoCfgSupported(uint32_t format, uint32_t mode, uint32_t rate) const;
    uint32_t getVideoFormat() const;
    // The first supported mode (and, outside Format_7, rate); nothing when none.
    void setVideoFormat(uint32_t format);
    uint32_t getVideoMode() const;
    void setVideoMode(uint32_t mode);
    uint32_t getFrameRateIdx() const;
    void setFrameRate(uint32_t rate);
    void setVideoCfg(uint32_t format, uint32_t mode, uint32_t rate);
    bool isColorCodeSupported(uint32_t code) const;
    void setColorCode(uint32_t code);
    uint32_t getColorCode() const;
    void computeShutterOffset();
    void createWindow();
    void destroyWindow() noexcept;

private:
    // Everything the camera keeps, behind the wall (BCAMCameraPrivate.h).
    struct State;
    friend class BCAMAcquisition;

    bool isAcquiring() const;
    void checkInitialized() const;
    void checkGainSelector(GainSelector selector) const;

    std::unique_ptr<State> _pState;
};
