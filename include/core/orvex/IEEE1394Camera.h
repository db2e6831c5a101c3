// The abstract camera the host programs against, whichever vendor stack
// drives it, and the host's new-image callback.
//
// Threads. Configuration calls come from the host's thread; the library does
// not guard them against concurrent use. The images-buffer operations follow
// the buffer's own locking protocol. The acquisition thread of a back end
// only adds images and calls notifyNewImage(). ImageCB::onNewImage() runs on
// the thread that created the camera (the owner of its hidden window), while
// that thread dispatches window messages.
#pragma once

#include <orvex/Export.h>
#include <orvex/Types.h>
#include <orvex/companions/CamGUID.h>
#include <orvex/win32.h>

#include <boost/shared_ptr.hpp>

#include <atomic>
#include <memory>
#include <string>

class IEEE1394Camera;
class ImageSample;
class ImagesBuffer;
class SmartFeaturesManager;
namespace orvex {
class HiddenWindow;
}

// Posted to the host's window (wParam: the host's value, lParam: 0), or to the
// camera's own hidden window, each time an image joins a camera's buffer.
constexpr UINT CWM_NEW_IMAGE_AVAILABLE = 0x8003;

// The host's new-image callback. Runs on the thread that created the camera,
// once for any number of images that arrived since it last ran: read them
// from the camera's images buffer.
class ORVEX_API ImageCB {
public:
    ImageCB() = default;
    ImageCB(const ImageCB& other) = default;
    ImageCB& operator=(const ImageCB& other) = default;
    // The camera deletes callbacks it owns through this class.
    virtual ~ImageCB();

    virtual void onNewImage() = 0;

    // The camera this callback is registered with; null before registration
    // and after the camera let it go.
    IEEE1394Camera* getCamera() const { return _pCamera; }

private:
    friend class IEEE1394Camera;
    void setCamera(IEEE1394Camera* camera) { _pCamera = camera; }

    IEEE1394Camera* _pCamera = nullptr;
};

class ORVEX_API IEEE1394Camera {
public:
    IEEE1394Camera(const IEEE1394Camera&) = delete;
    IEEE1394Camera& operator=(const IEEE1394Camera&) = delete;

    // Deletes the callback if owned, the smart features manager, the images
    // buffer and the camera's hidden window. Back ends stop acquisition and
    // destroy their window in their own destructor, which runs first.
    virtual ~IEEE1394Camera();

    // --- identity and state -------------------------------------------------
    virtual void setPortIdx(unsigned short portIdx) = 0;
    virtual unsigned short getPortIdx() const = 0;
    virtual void init() = 0;
    virtual bool isInitialized() const = 0;
    virtual bool testCommunication() const = 0;
    virtual CameraDeviceClass getDeviceClass();
    virtual bool getCameraExtendedVersionInfo(std::string& info) const = 0;
    virtual CamGUID getUniqueId() = 0;
    virtual std::string getOwningBusId() = 0;
    virtual std::string getVendorName() = 0;
    virtual std::string getModelName() = 0;
    virtual CameraModel getModel() = 0;

    // --- image geometry -------------------------------------------------------
    virtual bool isPixelFormatSupported(IEEECameraPixelFormat pixelFormat) const = 0;
    virtual void setPixelFormat(IEEECameraPixelFormat pixelFormat) = 0;
    virtual IEEECameraPixelFormat getPixelFormat() = 0;
    virtual void setSize(int width, int height) = 0;
    virtual void getSize(int& width, int& height) const = 0;
    virtual void getUnitSize(int& width, int& height) const = 0;
    virtual void getMaxSize(int& width, int& height) const = 0;
    virtual void setPos(int x, int y) = 0;
    virtual void getPos(int& x, int& y) const = 0;
    virtual void getUnitPos(int& x, int& y) = 0;
    virtual void setRoi(int x, int y, int width, int height) = 0;

    // --- packet transfer ------------------------------------------------------
    virtual void setNbBytesPerPacket(int nbBytes) = 0;
    virtual int getNbBytesPerPacket() const = 0;
    virtual int getUnitNbBytesPerPacket() const = 0;
    virtual int getMinNbBytesPerPacket() const = 0;
    virtual int getMaxNbBytesPerPacket() const = 0;
    virtual bool isInterPacketDelaySupported() const = 0;
    virtual void setInterPacketDelay(int delay) = 0;
    virtual int getInterPacketDelay() const = 0;
    virtual int getUnitInterPacketDelay() const = 0;
    virtual int getMinInterPacketDelay() const = 0;
    virtual int getMaxInterPacketDelay() const = 0;

    // --- trigger --------------------------------------------------------------
    virtual void turnOnTrigger(bool on) = 0;
    virtual bool isTriggerTurnedOn() const = 0;
    virtual void setTriggerMode(CameraTriggerMode mode) = 0;
    virtual bool isTriggerModeSupported(CameraTriggerMode mode) = 0;
    virtual CameraTriggerMode getTriggerMode() = 0;
    virtual bool getPolarity() const = 0;
    virtual void setPolarity(bool risingEdge) = 0;

    // --- shutter --------------------------------------------------------------
    virtual void setShutter(unsigned long shutter) = 0;
    virtual unsigned long getShutter() const = 0;
    virtual unsigned long getShutterMin() const = 0;
    virtual unsigned long getShutterMax() const = 0;
    // The smart features manager's cached time base is neither 0 nor NaN.
    virtual bool isShutterTimeBaseAvailable() const;
    // These four need the ShutterTimeBase smart feature switched on, else
    // "Shutter TimeBase SF must be enabled". The setter rounds to the
    // camera's step (seconds).
    virtual bool setShutterTimeBase(float timeBase);
    virtual float getShutterTimeBase() const;
    virtual double getShutterOffset() const;
    virtual float getShutterTimeBaseMin() const;
    virtual float getShutterTimeBaseMax() const;

    // --- gain and brightness --------------------------------------------------
    virtual bool isGainSelectorAvailable(GainSelector selector) const = 0;
    virtual void setGain(long gain, GainSelector selector) = 0;
    virtual long getGain(GainSelector selector) const = 0;
    virtual bool isGainValueIgnored(GainSelector selector) const;
    virtual long getGainMin(GainSelector selector) const = 0;
    virtual long getGainMax(GainSelector selector) const = 0;
    virtual long getDefaultGain() const = 0;
    // The four brightness operations below ask isBrightnessFeatureSupported:
    // a back end that answers true must override them.
    virtual bool isBrightnessFeatureSupported() const;
    virtual void setBrightness(double brightness);
    virtual double getBrightness() const;
    virtual double getBrightnessMin() const;
    virtual double getBrightnessMax() const;

    // --- acquisition ----------------------------------------------------------
    virtual void startAcquisition() = 0;
    virtual void stopAcquisition() = 0;
    virtual bool isAcquisitionStarted() const = 0;

    // --- smart features (host thread, not while acquiring) --------------------
    virtual bool areSmartFeaturesSupported();
    virtual bool getExtendedVersionInfo(std::string& info);
    // Logs the outcome on "Orvex.config" at INFO.
    virtual bool enableSmartFeature(SmartFeatureEnum feature, bool enable);
    virtual bool isSmartFeatureEnabled(SmartFeatureEnum feature);

    // --- frames and registers -------------------------------------------------
    virtual void getNbBytesPerFrame(unsigned long& nbBytes, unsigned long& second) const = 0;
    virtual void readRegister(unsigned long address, unsigned long& value) const = 0;
    virtual void writeRegister(unsigned long address, unsigned long value) = 0;

    // --- optional features: the base reports them as absent -------------------
    virtual bool isTemperatureAvailable() const;
    virtual double getTemperature() const;
    virtual unsigned int getAvailableUserMemorySpace();
    virtual void readUserMemory(unsigned int offset, unsigned char* data, unsigned int size);
    virtual void writeUserMemory(unsigned int offset, const unsigned char* data, unsigned int size);
    virtual unsigned long getNbStrobeOutputPorts() const;
    virtual unsigned long getStrobeOutputPortId(unsigned long idx) const;
    virtual bool isStrobeOutputPortIdValid(unsigned long portId) const;
    virtual bool isStrobeOutputFeatureSupported(unsigned long portId) const;
    virtual bool isStrobeOutputEnabled(unsigned long portId) const;
    virtual void enableStrobeOutput(unsigned long portId, bool enable, bool polarity, unsigned long delay,
                                    unsigned long duration);
    virtual void enableStrobeOutput(unsigned long portId, bool enable);
    virtual void setStrobeOutputPolarity(unsigned long portId, bool polarity);
    virtual bool getStrobeOutputPolarity(unsigned long portId);
    virtual void setStrobeOutputDelay(unsigned long portId, unsigned long delay);
    virtual unsigned long getStrobeOutputDelay(unsigned long portId) const;
    virtual void setStrobeOutputDuration(unsigned long portId, unsigned long duration);
    virtual unsigned long getStrobeOutputDuration(unsigned long portId) const;
    virtual bool isSoftwareTriggerSupported();
    virtual void softwareTrigger();
    virtual void softwareTriggerBroadcast();
    virtual bool isTriggerReadyFeatureSupported();
    virtual bool isTriggerReady();
    virtual bool isTrigStatusChangeAllowedDuringAcq() const;
    virtual bool isFrameRateFeatureAvailable() const;
    virtual void enableFrameRateFeature(bool enable);
    virtual bool isFrameRateFeatureEnabled() const;
    virtual void setFrameRate(double frameRate);
    virtual double getFrameRate() const;
    virtual double getFrameRateMin() const;
    virtual double getFrameRateMax() const;
    virtual bool isAutoExposureFeatureSupported() const;
    virtual void enableAutoExposureFeature(bool enable);
    virtual bool isAutoExposureFeatureEnabled() const;

    // --- new-image notification (host thread, before acquisition starts) ----
    // Registers the host's callback; with `own` the camera deletes it when it
    // is replaced and when the camera dies. Replacing a callback by itself
    // keeps it.
    void setImageCB(ImageCB* cb, bool own);
    ImageCB* getImageCB() const { return _pImageCB; }
    // New images are posted to `wnd` (with `value` as wParam) while it is a
    // window; else the event is set; else the camera's own window calls the
    // ImageCB. Either may be changed during acquisition: the acquisition
    // thread reads each of them atomically.
    void setNewImageNotifiedWnd(HWND wnd, unsigned int value);
    void setNewImageEvent(HANDLE event);

    // --- images buffer (host thread; see ImagesBuffer for the locking) --------
    void setImagesBufferMaxSize(unsigned long maxSize);
    int getImagesBufferMaxSize() const;
    void lockImagesBuffer();
    void unlockImagesBuffer();
    unsigned long getImagesBufferSize() const;
    boost::shared_ptr<ImageSample> captureImage(unsigned long imageIdx);
    boost::shared_ptr<ImageSample> getCapturedImage() const;
    bool isImageCaptured() const;
    void releaseImage();
    boost::shared_ptr<ImageSample> getImagesBufferContent(unsigned long pos) const;

    // The third number of the firmware version (1.2.30.4 gives 30), read from
    // the extended version text after its first " v".
    unsigned long getFirmwareVersion() const;

protected:
    IEEE1394Camera();

    // The process-wide video server's stopwatch: the software date of images.
    // Any thread (the server locks it).
    void startChrono();
    void stopChrono();
    double getChrono();

    // Acquisition thread, after adding an image to imagesBuffer(): tells the
    // host, first choice that applies: the host's window if it still is one,
    // the host's event, the camera's own hidden window.
    void notifyNewImage();

    // Creates the camera's own hidden window, of class `className`
    // (registered once per process), on the calling thread, which must then
    // dispatch its messages: that thread will run ImageCB::onNewImage().
    // `removedLogLine`, when given, is logged at TRACE for every queued
    // notification the window collapses. Call from the back end's
    // constructor. Throws OrvexFatalError / OrvexError with the system's text.
    void createNotificationWindow(const char* className, const char* removedLogLine = nullptr);
    // Destroys that window and unregisters its class (when no other camera's
    // window uses it). Owning thread; never throws.
    void destroyNotificationWindow() noexcept;
    HWND getNotificationWindow() const;

    // The procedure of the camera's hidden window; back ends with a procedure
    // of their own pass CWM_NEW_IMAGE_AVAILABLE to handleNewImageMessage.
    static LRESULT CALLBACK notificationWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
    // When the camera is initialised, acquiring and has an ImageCB: removes
    // every further CWM_NEW_IMAGE_AVAILABLE queued for `wnd`, then calls
    // onNewImage() once. Window-owning thread.
    void handleNewImageMessage(HWND wnd);

    SmartFeaturesManager& smartFeaturesManager() const { return *_pSmartFeaturesManager; }
    ImagesBuffer& imagesBuffer() const { return *_pImagesBuffer; }

private:
    // Throws "brightness feature not supported" unless the support query says otherwise.
    void requireBrightnessFeature() const;

    bool _bOwnImageCB = true;
    ImageCB* _pImageCB = nullptr;
    std::unique_ptr<SmartFeaturesManager> _pSmartFeaturesManager;
    std::unique_ptr<ImagesBuffer> _pImagesBuffer;
    // Written by the host's thread, read by the acquisition thread.
    std::atomic<HWND> _hNewImageWnd{nullptr};
    std::atomic<unsigned int> _nNewImageWndValue{0};
    std::atomic<HANDLE> _hNewImageEvent{nullptr};
    // The camera's own hidden window; its handle is read by the acquisition
    // thread, so it is created before and destroyed after acquisition.
    std::unique_ptr<orvex::HiddenWindow> _pNotificationWindow;
    std::atomic<HWND> _hNotificationWnd{nullptr};
    const char* _pszRemovedLogLine = nullptr;
};
