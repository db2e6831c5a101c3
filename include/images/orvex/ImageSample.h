// One acquired image with everything the library knows about it.
//
// An acquisition thread creates a sample per frame, fills it, and hands it to
// the camera's ImagesBuffer; from then on it is shared through
// boost::shared_ptr and read, never written. A sample is not locked: only the
// thread that fills it may call its setters, before it is published. The last
// owner's release runs the destructor, on whatever thread that is.
//
// Optional items (hardware date, shutter, gain, trigger and strobe states,
// grey levels, temperature) carry their own known marker; their getters
// return whether the item is known and write the out-parameter only then
// (getHWDate always writes).
//
// Pixel buffer ownership: exactly one party frees it.
// - By default the sample frees it (array delete) when it dies, so a buffer
//   handed to a sample must come from new unsigned char[].
// - With a notified window set (setNotifiedWndOnDelete) the sample instead
//   posts the window's message with lParam = the parameter, and the window's
//   owner frees the buffer it lent. (A copy the sample made itself, see the
//   protected constructor, is still freed by the sample.)
// - With deleteImgBufferOnDestruction(false), or after unlockImgData(), the
//   sample frees nothing. A back end that lends its own memory this way
//   gives the sample a share in that memory's owner, so the pixels stay
//   valid until the sample dies, even after the camera is gone.
#pragma once

#include <orvex/Export.h>
#include <orvex/Types.h>
#include <orvex/companions/Image.h>
#include <orvex/win32.h>

#include <cstdint>
#include <memory>

class ImagesBuffer;
namespace orvex::images {
class SampleKeepAlive;
}

class ORVEX_API ImageSample {
public:
    // The 32-bit pattern of -10000 that marks an unknown shutter.
    static constexpr uint32_t kUnknownShutter = 0xFFFFD8F0u;
    // The value that marks an unknown gain.
    static constexpr long kUnknownGain = -10000;

    // No image, every optional item unknown, validity imgv_notChecked, frees
    // its pixel buffer on destruction.
    ImageSample();
    // Posts the destruction notice or frees the pixel buffer (see above),
    // then deletes the IImage. Never throws.
    virtual ~ImageSample();

    ImageSample(const ImageSample&) = delete;
    ImageSample& operator=(const ImageSample&) = delete;

    // Frame index: a counter of the back end or the camera's frame counter.
    // An images buffer compares indexes modulo 2^32.
    void setIdx(unsigned long idx) { _ulIdx = idx; }
    unsigned long getIdx() const { return _ulIdx; }

    // Software date: the video server's chrono when the frame was taken.
    void setSWDate(double date) { _dSWDate = date; }
    double getSWDate() const { return _dSWDate; }

    // Hardware date, known when not negative (a NaN counts as known).
    // getHWDate always writes the date.
    void setHWDate(double date) { _dHWDate = date; }
    bool getHWDate(double& date) const;

    // Shutter: unknown while its low 32 bits equal kUnknownShutter.
    void setShutter(unsigned long shutter) { _ulShutter = shutter; }
    void resetShutter() { _ulShutter = kUnknownShutter; }
    bool getShutter(unsigned long& shutter) const;

    // Gain: unknown while equal to kUnknownGain.
    void setGain(long gain) { _lGain = gain; }
    void resetGain() { _lGain = kUnknownGain; }
    bool getGain(long& gain) const;

    // External trigger input state when the frame was taken.
    void setTriggerStatus(bool on) { _nTriggerStatus = on ? 1 : 0; }
    void resetTriggerStatus() { _nTriggerStatus = -1; }
    bool getTriggerStatus(bool& on) const;

    // Strobe output states; id must be 0 or 1, otherwise OrvexError "invalid
    // strobe id (must equal 0 or 1)" and the sample is unchanged.
    void setStrobeOutStatus(unsigned long id, bool on);
    void resetStrobeOutStatus(unsigned long id);
    bool getStrobeOutStatus(unsigned long id, bool& on) const;

    // Grey-level statistics; setGLInfo marks all three known.
    void setGLInfo(unsigned long lowest, unsigned long highest, unsigned long mean);
    void resetGLInfo() { _bGLInfoKnown = false; }
    bool getLowestGreyLevel(unsigned long& level) const;
    bool getHighestGreyLevel(unsigned long& level) const;
    bool getMeanGreyLevel(unsigned long& level) const;

    // Camera temperature; getTemperature throws OrvexError "temperature is
    // not available" while unknown.
    void setTemperature(double temperature);
    void resetTemperature() { _bTemperatureKnown = false; }
    bool isTemperatureAvailable() const { return _bTemperatureKnown; }
    double getTemperature() const;

    void setValidity(ImageValidity validity) { _validity = validity; }
    ImageValidity getValidity() const { return _validity; }

    // On destruction, post `message` to `wnd` with wParam 0 and lParam =
    // `param` instead of freeing the pixel buffer; `param` replaces the one
    // given to setParam. A null window restores the default (the sample frees
    // the buffer if the flag says so).
    void setNotifiedWndOnDelete(HWND wnd, unsigned long message, void* param);

    // The host's or back end's tag; an images buffer hands it back once the
    // image is obsolete (ImagesBuffer::getObsoleteParam).
    void setParam(void* param) { _pParam = param; }
    void* getParam() const { return _pParam; }

    // Whether the sample frees its pixel buffer when it dies (default true).
    void deleteImgBufferOnDestruction(bool del) { _bDeleteImgBuffer = del; }
    bool deleteImgBufferOnDestruction() const { return _bDeleteImgBuffer; }

    // Size of the pixel buffer in bytes, as told by whoever filled the sample.
    void setBufferSz(unsigned int size) { _nBufferSz = size; }
    unsigned int getBufferSz() const { return _nBufferSz; }

    // The image, still owned by the sample, or null.
    IImage* getImage() const { return _pImage; }

    // Replaces the image: frees the current image's pixel buffer if the flag
    // says so, deletes the current IImage and takes ownership of `image`.
    // Passing the current image again changes nothing.
    void setImage(IImage* image);

    // Hands the pixel buffer to the caller: deletes the IImage without
    // freeing the buffer and leaves the sample without an image. OrvexError
    // when the sample holds no image.
    unsigned char* unlockImgData();

protected:
    // Used by ImagesBuffer::addImage. With `copy`, the pixels are copied into
    // a buffer of the sample's own; otherwise `data` itself becomes the
    // sample's pixel buffer (and is freed by the sample unless a notified
    // window is given). Bytes per pixel = bufferSize / (width * height),
    // integer division: 1 and 2 are accepted, anything else (including an
    // empty or negative geometry) is OrvexError "unknown pixel format", in
    // which case nothing was allocated and `data` is left to the caller.
    ImageSample(unsigned long idx, double swDate, double hwDate, unsigned char* data, int bufferSize,
                int width, int height, ImageValidity validity, int shutter, int gain, bool copy,
                HWND notifiedWnd, unsigned long notificationMsg, void* param);

private:
    friend class ImagesBuffer;
    friend class orvex::images::SampleKeepAlive;

    void freePixelBuffer();
    void postDestructionNotice() const;

    IImage* _pImage = nullptr;
    double _dSWDate = -1.0;
    double _dHWDate = -1.0;
    unsigned long _ulIdx = 0;
    unsigned long _ulShutter = kUnknownShutter;
    long _lGain = kUnknownGain;
    int _nStrobeOutStatus[2] = {-1, -1};
    int _nTriggerStatus = -1;
    ImageValidity _validity = imgv_notChecked;
    bool _bGLInfoKnown = false;
    unsigned long _ulLowestGL = 0;
    unsigned long _ulHighestGL = 0;
    unsigned long _ulMeanGL = 0;
    unsigned int _nBufferSz = 0;
    HWND _hNotifiedWnd = nullptr;
    unsigned long _ulNotificationMsg = 0;
    void* _pParam = nullptr;
    bool _bDeleteImgBuffer = true;
    bool _bTemperatureKnown = false;
    double _dTemperature = 0.0;
    // The pixels were copied by the sample itself, so no window owner can
    // recover them: the sample frees them even when it posts its notice.
    bool _bPixelsAreOwnCopy = false;
    // The lender of the pixels, released only after the image is deleted.
    std::shared_ptr<void> _pixelsOwner;
};
