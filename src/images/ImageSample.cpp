// One acquired image with everything the library knows about it.
#include <orvex/ImageSample.h>

#include "images/ImagesTexts.h"

#include <orvex/Loggers.h>
#include <orvex/OrvexError.h>

#include <cstring>
#include <memory>
#include <string>

using namespace orvex::images;

namespace {

IDataType dataTypeFor(int bufferSize, int width, int height)
{
    if (width <= 0 || height <= 0)
        ORVEX_THROW(kSampleUnit, kUnknownPixelFormat);
    // 64-bit so that a large geometry cannot overflow the product.
    const int64_t pixels = static_cast<int64_t>(width) * height;
    switch (bufferSize / pixels) {
    case 1:
        return idt_uint8;
    case 2:
        return idt_uint16;
    default:
        ORVEX_THROW(kSampleUnit, kUnknownPixelFormat);
    }
}

void checkStrobeId(unsigned long id)
{
    if (id > 1)
        ORVEX_THROW(kSampleUnit, kInvalidStrobeId);
}

// The pixel pointer an image was built over; the image library wants a
// consistency check before it is read.
unsigned char* pixelsOf(IImage& image)
{
    image.resetCheck();
    return static_cast<unsigned char*>(image.data());
}

} // namespace

ImageSample::ImageSample() = default;

ImageSample::ImageSample(unsigned long idx, double swDate, double hwDate, unsigned char* data, int bufferSize,
                         int width, int height, ImageValidity validity, int shutter, int gain, bool copy,
                         HWND notifiedWnd, unsigned long notificationMsg, void* param)
    : _dSWDate(swDate), _dHWDate(hwDate), _ulIdx(idx),
      // Through 32 bits so that -10000 gives the unknown pattern whatever the
      // width of unsigned long.
      _ulShutter(static_cast<uint32_t>(shutter)), _lGain(gain), _validity(validity),
      _nBufferSz(static_cast<unsigned int>(bufferSize)), _hNotifiedWnd(notifiedWnd),
      _ulNotificationMsg(notificationMsg), _pParam(param)
{
    // Decided before anything is allocated, so a refusal costs nothing.
    const IDataType type = dataTypeFor(bufferSize, width, height);
    std::unique_ptr<unsigned char[]> copied;
    if (copy) {
        if (data == nullptr)
            ORVEX_THROW(kSampleUnit, kNoPixelDataToCopy);
        copied.reset(new unsigned char[static_cast<size_t>(bufferSize)]);
        std::memcpy(copied.get(), data, static_cast<size_t>(bufferSize));
    }
    _pImage = new IImage(copy ? copied.get() : data, ISize(width, height), type);
    _bPixelsAreOwnCopy = copied.release() != nullptr;
}

ImageSample::~ImageSample()
{
    try {
        if (_hNotifiedWnd != nullptr) {
            postDestructionNotice();
            // The window's owner recovers the buffer it lent; a copy made by
            // the sample is known to nobody else.
            if (_bDeleteImgBuffer && _bPixelsAreOwnCopy)
                freePixelBuffer();
        } else if (_bDeleteImgBuffer) {
            freePixelBuffer();
        }
    } catch (...) {
        // A destructor must not throw; the image object is still deleted below.
    }
    delete _pImage;
}

void ImageSample::postDestructionNotice() const
{
    if (PostMessageA(_hNotifiedWnd, static_cast<UINT>(_ulNotificationMsg), 0,
                     reinterpret_cast<LPARAM>(_pParam)))
        return;
    // The window's owner will never hear of this buffer: worth a line, since
    // nobody else frees it.
    if (g_OrvexLogger.isEnabledFor(orvex::kLevelError)) {
        g_OrvexLogger.forcedLog(orvex::kLevelError,
                                "ImageSample::~ImageSample: destruction notice of image " +
                                    std::to_string(_ulIdx) + " could not be posted (error " +
                                    std::to_string(GetLastError()) +
                                    "); its pixel buffer is left to its owner",
                                __FILE__, __LINE__);
    }
}

void ImageSample::freePixelBuffer()
{
    if (_pImage != nullptr)
        delete[] pixelsOf(*_pImage);
}

bool ImageSample::getHWDate(double& date) const
{
    date = _dHWDate;
    return !(_dHWDate < 0.0);
}

bool ImageSample::getShutter(unsigned long& shutter) const
{
    if (static_cast<uint32_t>(_ulShutter) == kUnknownShutter)
        return false;
    shutter = _ulShutter;
    return true;
}

bool ImageSample::getGain(long& gain) const
{
    if (_lGain == kUnknownGain)
        return false;
    gain = _lGain;
    return true;
}

bool ImageSample::getTriggerStatus(bool& on) const
{
    if (_nTriggerStatus < 0)
        return false;
    on = _nTriggerStatus == 1;
    return true;
}

void ImageSample::setStrobeOutStatus(unsigned long id, bool on)
{
    checkStrobeId(id);
    _nStrobeOutStatus[id] = on ? 1 : 0;
}

void ImageSample::resetStrobeOutStatus(unsigned long id)
{
    checkStrobeId(id);
    _nStrobeOutStatus[id] = -1;
}

bool ImageSample::getStrobeOutStatus(unsigned long id, bool& on) const
{
    checkStrobeId(id);
    if (_nStrobeOutStatus[id] < 0)
        return false;
    on = _nStrobeOutStatus[id] == 1;
    return true;
}

void ImageSample::setGLInfo(unsigned long lowest, unsigned long highest, unsigned long mean)
{
    _ulLowestGL = lowest;
    _ulHighestGL = highest;
    _ulMeanGL = mean;
    _bGLInfoKnown = true;
}

bool ImageSample::getLowestGreyLevel(unsigned long& level) const
{
    if (!_bGLInfoKnown)
        return false;
    level = _ulLowestGL;
    return true;
}

bool ImageSample::getHighestGreyLevel(unsigned long& level) const
{
    if (!_bGLInfoKnown)
        return false;
    level = _ulHighestGL;
    return true;
}

bool ImageSample::getMeanGreyLevel(unsigned long& level) const
{
    if (!_bGLInfoKnown)
        return false;
    level = _ulMeanGL;
    return true;
}

void ImageSample::setTemperature(double temperature)
{
    _dTemperature = temperature;
    _bTemperatureKnown = true;
}

double ImageSample::getTemperature() const
{
    if (!_bTemperatureKnown)
        ORVEX_THROW(kSampleUnit, kTemperatureNotAvailable);
    return _dTemperature;
}

void ImageSample::setNotifiedWndOnDelete(HWND wnd, unsigned long message, void* param)
{
    _hNotifiedWnd = wnd;
    _ulNotificationMsg = message;
    _pParam = param;
}

void ImageSample::setImage(IImage* image)
{
    if (image == _pImage)
        return;
    if (_bDeleteImgBuffer)
        freePixelBuffer();
    delete _pImage;
    _pImage = image;
    _bPixelsAreOwnCopy = false;
}

unsigned char* ImageSample::unlockImgData()
{
    if (_pImage == nullptr)
        ORVEX_THROW(kSampleUnit, kSampleHasNoImage);
    unsigned char* pixels = pixelsOf(*_pImage);
    delete _pImage;
    _pImage = nullptr;
    _bPixelsAreOwnCopy = false;
    return pixels;
}
