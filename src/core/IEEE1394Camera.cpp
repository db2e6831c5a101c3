// The abstract camera's shared behaviour: shutter time base, gain and
// brightness, smart features, optional features, new-image notification,
// images buffer, firmware version and the stopwatch relay.
#include <orvex/IEEE1394Camera.h>

#include "base/HiddenWindow.h"
#include "core/FirmwareVersion.h"
#include "core/SmartFeaturesManager.h"

#include <orvex/IEEE1394VideoServer.h>
#include <orvex/ImageSample.h>
#include <orvex/ImagesBuffer.h>
#include <orvex/Loggers.h>
#include <orvex/OrvexError.h>

#include <boost/lexical_cast.hpp>
#include <log4cplus/loggingmacros.h>

#include <cstdint>
#include <exception>

namespace {

constexpr const char* kUnit = "IEEE1394Camera";
constexpr const char* kTimeBaseSfRequired = "Shutter TimeBase SF must be enabled";
constexpr const char* kBrightnessNotSupported = "brightness feature not supported";
constexpr const char* kTemperatureNotAvailable = "temperature read operation not available";
constexpr const char* kNoUserMemory = "no user memory available";
constexpr const char* kStrobeNotSupported = "strobe output is not supported";
constexpr const char* kFrameRateNotSupported = "frame rate feature not supported";
constexpr const char* kAutoExposureNotSupported = "auto-exposure feature not supported";
constexpr const char* kInvalidFirmwareVersion = "invalid firmware version string!";

} // namespace

ImageCB::~ImageCB() = default;

IEEE1394Camera::IEEE1394Camera()
    : _pSmartFeaturesManager(std::make_unique<SmartFeaturesManager>(this)),
      _pImagesBuffer(std::make_unique<ImagesBuffer>(false))
{
}

IEEE1394Camera::~IEEE1394Camera()
{
    destroyNotificationWindow();
    if (_bOwnImageCB) {
        delete _pImageCB;
    } else if (_pImageCB != nullptr) {
        _pImageCB->setCamera(nullptr);
    }
    _pImageCB = nullptr;
}

CameraDeviceClass IEEE1394Camera::getDeviceClass()
{
    return camdc_ieee1394;
}

// --- shutter time base -------------------------------------------------------

bool IEEE1394Camera::isShutterTimeBaseAvailable() const
{
    return _pSmartFeaturesManager->isShutterTimeBaseAvailable();
}

bool IEEE1394Camera::setShutterTimeBase(float timeBase)
{
    if (!_pSmartFeaturesManager->isEnabled(sf_shutterTimeBase)) {
        ORVEX_THROW(kUnit, kTimeBaseSfRequired);
    }
    return _pSmartFeaturesManager->setShutterTimeBase(timeBase);
}

float IEEE1394Camera::getShutterTimeBase() const
{
    if (!_pSmartFeaturesManager->isEnabled(sf_shutterTimeBase)) {
        ORVEX_THROW(kUnit, kTimeBaseSfRequired);
    }
    return _pSmartFeaturesManager->getShutterTimeBase();
}

double IEEE1394Camera::getShutterOffset() const
{
    return 0.0;
}

float IEEE1394Camera::getShutterTimeBaseMin() const
{
    if (!_pSmartFeaturesManager->isEnabled(sf_shutterTimeBase)) {
        ORVEX_THROW(kUnit, kTimeBaseSfRequired);
    }
    return _pSmartFeaturesManager->getShutterTimeBaseMin();
}

float IEEE1394Camera::getShutterTimeBaseMax() const
{
    if (!_pSmartFeaturesManager->isEnabled(sf_shutterTimeBase)) {
        ORVEX_THROW(kUnit, kTimeBaseSfRequired);
    }
    return _pSmartFeaturesManager->getShutterTimeBaseMax();
}

// --- gain and brightness -----------------------------------------------------

bool IEEE1394Camera::isGainValueIgnored(GainSelector) const
{
    return false;
}

bool IEEE1394Camera::isBrightnessFeatureSupported() const
{
    return false;
}

// A back end that reports brightness support overrides these; each asks the
// support query itself, so one that overrides only some of them still gets
// the guarded defaults for the others.
void IEEE1394Camera::setBrightness(double)
{
    requireBrightnessFeature();
}

double IEEE1394Camera::getBrightness() const
{
    requireBrightnessFeature();
    return 0.0;
}

double IEEE1394Camera::getBrightnessMin() const
{
    requireBrightnessFeature();
    return 0.0;
}

double IEEE1394Camera::getBrightnessMax() const
{
    requireBrightnessFeature();
    return 0.0;
}

void IEEE1394Camera::requireBrightnessFeature() const
{
    if (!isBrightnessFeatureSupported()) {
        ORVEX_THROW(kUnit, kBrightnessNotSupported);
    }
}

// --- smart features ----------------------------------------------------------

bool IEEE1394Camera::areSmartFeaturesSupported()
{
    return _pSmartFeaturesManager->areSupported();
}

bool IEEE1394Camera::getExtendedVersionInfo(std::string& info)
{
    return _pSmartFeaturesManager->readExtendedVersionInfo(info);
}

bool IEEE1394Camera::enableSmartFeature(SmartFeatureEnum feature, bool enable)
{
    const bool result = _pSmartFeaturesManager->enable(feature, enable);
    if (feature == sf_shutterTimeBase && enable && result) {
        _pSmartFeaturesManager->readShutterTimeBase();
    }
    LOG4CPLUS_INFO(g_OrvexCfgLogger, "port #" << getPortIdx() << ";GUID #" << getUniqueId().to_string() << ";"
                                              << (enable ? "enable" : "disable") << "smart feature "
                                              << smartFeatureLoggedName(feature) << ";"
                                              << (result ? "success" : "failure"));
    return result;
}

bool IEEE1394Camera::isSmartFeatureEnabled(SmartFeatureEnum feature)
{
    return _pSmartFeaturesManager->isEnabled(feature);
}

// --- optional features -------------------------------------------------------

bool IEEE1394Camera::isTemperatureAvailable() const
{
    return false;
}

double IEEE1394Camera::getTemperature() const
{
    if (!isTemperatureAvailable()) {
        ORVEX_THROW(kUnit, kTemperatureNotAvailable);
    }
    return 0.0;
}

unsigned int IEEE1394Camera::getAvailableUserMemorySpace()
{
    return 0;
}

void IEEE1394Camera::readUserMemory(unsigned int, unsigned char*, unsigned int)
{
    ORVEX_THROW(kUnit, kNoUserMemory);
}

void IEEE1394Camera::writeUserMemory(unsigned int, const unsigned char*, unsigned int)
{
    ORVEX_THROW(kUnit, kNoUserMemory);
}

unsigned long IEEE1394Camera::getNbStrobeOutputPorts() const
{
    return 0;
}

unsigned long IEEE1394Camera::getStrobeOutputPortId(unsigned long idx) const
{
    ORVEX_THROW(kUnit, "FlyCapCamera::getStrobeOutputPortId(" + std::to_string(idx) + "): invalid idx");
}

bool IEEE1394Camera::isStrobeOutputPortIdValid(unsigned long) const
{
    return false;
}

bool IEEE1394Camera::isStrobeOutputFeatureSupported(unsigned long) const
{
    return false;
}

bool IEEE1394Camera::isStrobeOutputEnabled(unsigned long) const
{
    ORVEX_THROW(kUnit, kStrobeNotSupported);
}

void IEEE1394Camera::enableStrobeOutput(unsigned long, bool, bool, unsigned long, unsigned long)
{
    ORVEX_THROW(kUnit, kStrobeNotSupported);
}

void IEEE1394Camera::enableStrobeOutput(unsigned long, bool)
{
    ORVEX_THROW(kUnit, "stroube output is not supported");
}

void IEEE1394Camera::setStrobeOutputPolarity(unsigned long, bool)
{
    ORVEX_THROW(kUnit, kStrobeNotSupported);
}

bool IEEE1394Camera::getStrobeOutputPolarity(unsigned long)
{
    ORVEX_THROW(kUnit, kStrobeNotSupported);
}

void IEEE1394Camera::setStrobeOutputDelay(unsigned long, unsigned long)
{
    ORVEX_THROW(kUnit, kStrobeNotSupported);
}

unsigned long IEEE1394Camera::getStrobeOutputDelay(unsigned long) const
{
    ORVEX_THROW(kUnit, kStrobeNotSupported);
}

void IEEE1394Camera::setStrobeOutputDuration(unsigned long, unsigned long)
{
    ORVEX_THROW(kUnit, kStrobeNotSupported);
}

unsigned long IEEE1394Camera::getStrobeOutputDuration(unsigned long) const
{
    ORVEX_THROW(kUnit, kStrobeNotSupported);
}

bool IEEE1394Camera::isSoftwareTriggerSupported()
{
    return false;
}

void IEEE1394Camera::softwareTrigger()
{
    ORVEX_THROW(kUnit, "software trigger is not supported");
}

void IEEE1394Camera::softwareTriggerBroadcast()
{
    ORVEX_THROW(kUnit, "software trigger broadcast is not supported");
}

bool IEEE1394Camera::isTriggerReadyFeatureSupported()
{
    return false;
}

bool IEEE1394Camera::isTriggerReady()
{
    ORVEX_THROW(kUnit, "trigger ready feature is not supported");
}

bool IEEE1394Camera::isTrigStatusChangeAllowedDuringAcq() const
{
    return true;
}

bool IEEE1394Camera::isFrameRateFeatureAvailable() const
{
    return false;
}

void IEEE1394Camera::enableFrameRateFeature(bool)
{
    ORVEX_THROW(kUnit, kFrameRateNotSupported);
}

bool IEEE1394Camera::isFrameRateFeatureEnabled() const
{
    ORVEX_THROW(kUnit, kFrameRateNotSupported);
}

void IEEE1394Camera::setFrameRate(double)
{
    ORVEX_THROW(kUnit, kFrameRateNotSupported);
}

double IEEE1394Camera::getFrameRate() const
{
    ORVEX_THROW(kUnit, kFrameRateNotSupported);
}

double IEEE1394Camera::getFrameRateMin() const
{
    ORVEX_THROW(kUnit, kFrameRateNotSupported);
}

double IEEE1394Camera::getFrameRateMax() const
{
    ORVEX_THROW(kUnit, kFrameRateNotSupported);
}

bool IEEE1394Camera::isAutoExposureFeatureSupported() const
{
    ORVEX_THROW(kUnit, kAutoExposureNotSupported);
}

void IEEE1394Camera::enableAutoExposureFeature(bool)
{
    ORVEX_THROW(kUnit, kAutoExposureNotSupported);
}

bool IEEE1394Camera::isAutoExposureFeatureEnabled() const
{
    ORVEX_THROW(kUnit, kAutoExposureNotSupported);
}

// --- new-image notification --------------------------------------------------

void IEEE1394Camera::setImageCB(ImageCB* cb, bool own)
{
    if (_pImageCB != nullptr && _pImageCB != cb) {
        if (_bOwnImageCB) {
            delete _pImageCB;
        } else {
            _pImageCB->setCamera(nullptr);
        }
    }
    _pImageCB = cb;
    _bOwnImageCB = own;
    if (cb != nullptr) {
        cb->setCamera(this);
    }
}

void IEEE1394Camera::setNewImageNotifiedWnd(HWND wnd, unsigned int value)
{
    // The value first: a window is never read with a stale value.
    _nNewImageWndValue.store(value);
    _hNewImageWnd.store(wnd);
}

void IEEE1394Camera::setNewImageEvent(HANDLE event)
{
    _hNewImageEvent.store(event);
}

void IEEE1394Camera::notifyNewImage()
{
    // The window first: setNewImageNotifiedWnd stores the value before the
    // window, so a window read here comes with its own value or a newer one,
    // never an older one.
    const HWND hostWnd = _hNewImageWnd.load();
    const WPARAM value = _nNewImageWndValue.load();
    // A host window destroyed since it was registered falls through to the
    // event, as does a post that fails.
    if (hostWnd != nullptr && IsWindow(hostWnd) && PostMessageA(hostWnd, CWM_NEW_IMAGE_AVAILABLE, value, 0)) {
        return;
    }
    if (const HANDLE event = _hNewImageEvent.load()) {
        SetEvent(event);
        return;
    }
    if (const HWND ownWnd = _hNotificationWnd.load()) {
        // A full queue already holds notifications that the window collapses.
        PostMessageA(ownWnd, CWM_NEW_IMAGE_AVAILABLE, value, 0);
    }
}

void IEEE1394Camera::createNotificationWindow(const char* className, const char* removedLogLine)
{
    auto window = std::make_unique<orvex::HiddenWindow>(className, &IEEE1394Camera::notificationWindowProc,
                                                        static_cast<void*>(this), kUnit);
    destroyNotificationWindow();
    _pszRemovedLogLine = removedLogLine;
    _hNotificationWnd.store(window->handle());
    _pNotificationWindow = std::move(window);
}

void IEEE1394Camera::destroyNotificationWindow() noexcept
{
    _hNotificationWnd.store(nullptr);
    _pNotificationWindow.reset();
}

HWND IEEE1394Camera::getNotificationWindow() const
{
    return _hNotificationWnd.load();
}

LRESULT CALLBACK IEEE1394Camera::notificationWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == CWM_NEW_IMAGE_AVAILABLE) {
        if (IEEE1394Camera* camera = orvex::HiddenWindow::ownerOf<IEEE1394Camera>(wnd)) {
            camera->handleNewImageMessage(wnd);
            return 0;
        }
    }
    return DefWindowProcA(wnd, msg, wParam, lParam);
}

void IEEE1394Camera::handleNewImageMessage(HWND wnd)
{
    if (_pImageCB == nullptr || !isInitialized() || !isAcquisitionStarted()) {
        return;
    }
    MSG queued;
    while (PeekMessageA(&queued, wnd, CWM_NEW_IMAGE_AVAILABLE, CWM_NEW_IMAGE_AVAILABLE, PM_REMOVE)) {
        if (_pszRemovedLogLine != nullptr) {
            LOG4CPLUS_TRACE(g_OrvexLogger, _pszRemovedLogLine);
        }
    }
    // The host's exception must not unwind through the system's dispatcher.
    try {
        _pImageCB->onNewImage();
    } catch (const std::exception& error) {
        LOG4CPLUS_ERROR(g_OrvexLogger, "ImageCB::onNewImage failed: " << error.what());
    } catch (...) {
        LOG4CPLUS_ERROR(g_OrvexLogger, "ImageCB::onNewImage failed with an unknown exception");
    }
}

// --- images buffer -----------------------------------------------------------

void IEEE1394Camera::setImagesBufferMaxSize(unsigned long maxSize)
{
    _pImagesBuffer->setBufferMaxSize(maxSize);
}

int IEEE1394Camera::getImagesBufferMaxSize() const
{
    return _pImagesBuffer->getBufferMaxSize();
}

void IEEE1394Camera::lockImagesBuffer()
{
    LOG4CPLUS_TRACE(g_OrvexLogger, "IEEE1394Camera::lockImagesBuffer; port " << getPortIdx());
    _pImagesBuffer->lockBuffer();
}

void IEEE1394Camera::unlockImagesBuffer()
{
    _pImagesBuffer->unlockBuffer();
}

unsigned long IEEE1394Camera::getImagesBufferSize() const
{
    return _pImagesBuffer->getBufferSize();
}

boost::shared_ptr<ImageSample> IEEE1394Camera::captureImage(unsigned long imageIdx)
{
    LOG4CPLUS_TRACE(g_OrvexStreamLogger,
                    "IEEE1394Camera::captureImage " << imageIdx << "; nPortIdx = " << getPortIdx());
    return _pImagesBuffer->captureImage(imageIdx);
}

boost::shared_ptr<ImageSample> IEEE1394Camera::getCapturedImage() const
{
    return _pImagesBuffer->getCapturedImage();
}

bool IEEE1394Camera::isImageCaptured() const
{
    return _pImagesBuffer->isImageCaptured();
}

void IEEE1394Camera::releaseImage()
{
    LOG4CPLUS_TRACE(g_OrvexStreamLogger, "IEEE1394Camera::releaseImage; nPortIdx = " << getPortIdx());
    _pImagesBuffer->releaseImage();
}

boost::shared_ptr<ImageSample> IEEE1394Camera::getImagesBufferContent(unsigned long pos) const
{
    return _pImagesBuffer->getBufferContent(pos);
}

// --- firmware version --------------------------------------------------------

unsigned long IEEE1394Camera::getFirmwareVersion() const
{
    std::string text;
    // Reading the version talks to the camera but does not change it.
    if (!const_cast<IEEE1394Camera*>(this)->getExtendedVersionInfo(text)) {
        ORVEX_THROW(kUnit, "Cannot retrieve ExtendedVersionInfo!");
    }
    std::string field;
    if (!orvex::firmwareVersionField(text, field)) {
        ORVEX_THROW(kUnit, kInvalidFirmwareVersion);
    }
    // 32 bits, as on the target, so that an oversized number fails the same way.
    return boost::lexical_cast<uint32_t>(field);
}

// --- stopwatch ---------------------------------------------------------------

void IEEE1394Camera::startChrono()
{
    videoServer().startChrono();
}

void IEEE1394Camera::stopChrono()
{
    videoServer().stopChrono();
}

double IEEE1394Camera::getChrono()
{
    return videoServer().getChrono();
}
