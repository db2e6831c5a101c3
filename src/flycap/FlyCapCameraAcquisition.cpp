// FlyCapCamera: the acquisition thread, which turns every image the SDK
// lends into a sample in the images buffer and tells the host, and the bus
// packet budget checked before a start.
//
// Two variants. The normal one hands the SDK's own buffers to the samples
// (no copy) and gives a buffer back when its image leaves the images buffer:
// the sample's parameter is the SDK buffer index. The WOW64 one copies every
// image into a slot of `_acquiBuffers` (the parameter is the slot index),
// because there the SDK keeps only a few buffers of its own.
//
// The SDK's buffer count follows the images buffer's bound at construction.
// A host that raises the bound later would otherwise let the images buffer
// hold every SDK buffer, and the SDK would deliver nothing more: so the
// normal variant copies an image (and gives its SDK buffer back at once)
// whenever lending it would leave the SDK fewer than two buffers to fill.
//
// Threads: the thread shares with the host's thread only the images buffer
// (locked by itself), the raw-to-real maps (under their critical sections)
// and `_bAcquiring` (interlocked). Nothing thrown inside it leaves it.
#include "flycap/FlyCapCameraPrivate.h"

#include "base/ClassicLine.h"
#include "base/HiddenWindow.h"
#include "base/UntracedScope.h"
#include "flycap/DeviceRemoval.h"
#include "flycap/FlyCapCall.h"
#include "flycap/FlyCapDefs.h"
#include "flycap/FlyCapTexts.h"
#include "flycap/FlyCapTrace.h"
#include "images/SampleKeepAlive.h"

#include <orvex/IEEE1394VideoServer.h>
#include <orvex/ImageSample.h>
#include <orvex/ImagesBuffer.h>
#include <orvex/OrvexError.h>

#include <boost/make_shared.hpp>
#include <log4cplus/loggingmacros.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <set>
#include <sstream>

using namespace orvex::flycap;

namespace {

// Longest wait for an image: a stop request is seen within it.
constexpr unsigned long kGrabTimeoutMs = 1000;

// Exit codes of the thread.
constexpr DWORD kEndedOnRequest = 0;
constexpr DWORD kEndedOnFailure = 1;

// The hundreds of a parameter would count buffers to release; the buffer
// index is what is left.
constexpr uintptr_t kBufferIdModulus = 100;

// The parameter of a copied image: it names no SDK buffer.
constexpr uintptr_t kCopiedImageParam = UINTPTR_MAX;

// SDK buffers never lent, so that the SDK always has one to fill and one
// to hand over.
constexpr uint32_t kSdkSpareBuffers = 2;

void* paramOf(uintptr_t index)
{
    return reinterpret_cast<void*>(index);
}

uintptr_t indexOf(void* param)
{
    return reinterpret_cast<uintptr_t>(param);
}

} // namespace

class FlyCapCamera::Acquisition {
public:
    static DWORD WINAPI normalEntry(LPVOID camera)
    {
        return Acquisition(*static_cast<FlyCapCamera*>(camera), false).run();
    }
    static DWORD WINAPI wow64Entry(LPVOID camera)
    {
        return Acquisition(*static_cast<FlyCapCamera*>(camera), true).run();
    }

private:
    enum class Pass { next, failed };

    // Runs on the new thread while startAcquisition waits for it, so the
    // pixel format read here is the one the transfer started with.
    Acquisition(FlyCapCamera& camera, bool wow64)
        : _camera(camera), _state(*camera._pState), _bWow64(wow64),
          _fcPixFormat(camera._pState->_geometry._fcPixFormat)
    {
    }

    FlyCaptureContext context() const { return _state._fcContext.get(); }
    bool acquiring() const { return InterlockedCompareExchange(&_state._acquisition._bAcquiring, 0, 0) != 0; }

    DWORD run() noexcept
    {
        SetEvent(_state._acquisition._hAcquiThreadStarted.get());
        try {
            while (acquiring()) {
                if (pass() == Pass::failed) {
                    return kEndedOnFailure;
                }
            }
        } catch (const OrvexError&) {
            // Already logged where it was raised; the host learns nothing
            // but that images stop.
            releaseAndStop();
            return kEndedOnFailure;
        } catch (const std::exception& error) {
            LOG4CPLUS_ERROR(g_OrvexLogger, "FlyCapCamera acquisition thread: " << error.what());
            releaseAndStop();
            return kEndedOnFailure;
        }
        releaseAndStop();
        return kEndedOnRequest;
    }

    Pass pass()
    {
        // "Orvex" is asked once an image whether it traces: when it does not,
        // the image's traced steps make no logging call at all.
        const bool tracing = isTracing();
        if (_bWow64) {
            checkSingle(FLYCAP_SITE(kCameraUnit), flycaptureUnlockAll(context()));
        } else {
            giveBackObsoleteBuffer(tracing);
        }
        FlyCaptureImage image{};
        const FlyCaptureError locked = flycaptureLockLatest(context(), &image);
        if (locked == FLYCAPTURE_TIMEOUT) {
            return Pass::next;
        }
        if (locked != FLYCAPTURE_OK) {
            LOG4CPLUS_ERROR(g_OrvexLogger, kLogLockLatestFailed << sdkErrorText(locked));
            releaseAndStop();
            DeviceRemoval::post(_state._identity._nSerialNumber);
            return Pass::failed;
        }
        void* param = nullptr;
        std::unique_ptr<unsigned char[]> copy;
        unsigned char* pixels = _bWow64 ? copyIntoSlot(image, param) : lendOrCopy(image, param, copy);
        const boost::shared_ptr<ImageSample> sample = makeSample(image, pixels, param);
        if (copy) {
            // The sample now owns the copy.
            sample->deleteImgBufferOnDestruction(true);
            static_cast<void>(copy.release());
        } else {
            // Lent pixels stay valid while the host keeps the sample, even
            // past the camera's removal.
            orvex::images::SampleKeepAlive::attach(*sample, lenderOf(param));
        }
        if (tracing) {
            _camera.readFrameInfo(sample);
        } else {
            readFrameInfoUntraced(*sample);
        }
        logImage(*sample);
        _camera.imagesBuffer().addImage(sample);
        _camera.notifyNewImage();
        return Pass::next;
    }

    // --- normal variant --------------------------------------------------------------

    // The tracer's leaving line is all readFrameInfo logs when "Orvex" does
    // not trace, and only when an exception leaves it.
    void readFrameInfoUntraced(ImageSample& sample)
    {
        try {
            _camera.decodeFrameInfo(sample);
        } catch (...) {
            orvex::traceUntracedScopeFailed(g_OrvexLogger, orvex::kLevelTrace);
            throw;
        }
    }

    // One obsolete image per pass gives its SDK buffer back.
    void giveBackObsoleteBuffer(bool tracing)
    {
        ImagesBuffer& buffer = _camera.imagesBuffer();
        if (!buffer.isObsoleteParamAvailable()) {
            return;
        }
        const uintptr_t q = indexOf(buffer.getObsoleteParam());
        if (q == kCopiedImageParam) {
            return;
        }
        if (!_bSecondSeen) {
            checkSingle(FLYCAP_SITE(kCameraUnit), flycaptureUnlockAll(context()));
            _nLent = 0;
            return;
        }
        // The parameter names the buffer whatever order the SDK fills its
        // buffers in, so non-consecutive indexes are given back the same way.
        const auto n = static_cast<unsigned int>(q % kBufferIdModulus);
        if (tracing) {
            LOG4CPLUS_TRACE(g_OrvexLogger,
                            "camera #" << _state._identity._nPortIdx << "; flycaptureUnlock(nBufferId=" << n);
        }
        checkSingle(FLYCAP_SITE(kCameraUnit), flycaptureUnlock(context(), n));
        if (_nLent > 0) {
            --_nLent;
        }
    }

    unsigned char* lendOrCopy(const FlyCaptureImage& image, void*& param,
                              std::unique_ptr<unsigned char[]>& copy)
    {
        const uint32_t sdkBuffers = _state._acquisition._nNbImgBuffers;
        if (_nLent + kSdkSpareBuffers < sdkBuffers) {
            ++_nLent;
            return lend(image, param);
        }
        const size_t bytes = imageBytes(image);
        copy.reset(new unsigned char[bytes > 0 ? bytes : 1]);
        if (bytes > 0) {
            std::memcpy(copy.get(), image.pData, bytes);
        }
        checkSingle(FLYCAP_SITE(kCameraUnit), flycaptureUnlock(context(), image.uiBufferIndex));
        param = paramOf(kCopiedImageParam);
        return copy.get();
    }

    unsigned char* lend(const FlyCaptureImage& image, void*& param)
    {
        if (!_firstBufferIdx) {
            _firstBufferIdx = image.uiBufferIndex;
        } else {
            _bSecondSeen = true;
        }
        param = paramOf(image.uiBufferIndex);
        return image.pData;
    }

    // What owns the lent pixels: the slot's buffer, or the SDK context,
    // which frees its image buffers with it.
    std::shared_ptr<void> lenderOf(void* param) const
    {
        if (!_bWow64) {
            return _state._fcContext.share();
        }
        const boost::shared_array<unsigned char> slot =
            _state._acquisition._acquiBuffers[static_cast<std::ptrdiff_t>(indexOf(param))];
        return {slot.get(), [slot](void*) {}};
    }

    // --- WOW64 variant ---------------------------------------------------------------

    unsigned char* copyIntoSlot(const FlyCaptureImage& image, void*& param)
    {
        const size_t bytes = imageBytes(image);
        const uint32_t slot = chooseSlot(bytes);
        boost::shared_array<unsigned char>& buffer = _state._acquisition._acquiBuffers[slot];
        if (bytes > 0) {
            std::memcpy(buffer.get(), image.pData, bytes);
        }
        param = paramOf(slot);
        return buffer.get();
    }

    uint32_t chooseSlot(size_t bytes)
    {
        ImagesBuffer& buffer = _camera.imagesBuffer();
        if (buffer.isObsoleteParamAvailable()) {
            const uintptr_t slot = indexOf(buffer.getObsoleteParam());
            if (slot < _state._acquisition._nNbImgBuffers &&
                _state._acquisition._acquiBuffers[static_cast<std::ptrdiff_t>(slot)]) {
                return static_cast<uint32_t>(slot);
            }
        }
        for (uint32_t slot = 0; slot < _state._acquisition._nNbImgBuffers; ++slot) {
            if (!_state._acquisition._acquiBuffers[slot]) {
                _state._acquisition._acquiBuffers[slot] =
                    boost::shared_array<unsigned char>(new unsigned char[bytes]);
                return slot;
            }
        }
        ORVEX_THROW(kCameraUnit, kErrWow64NoBuffer);
    }

    static size_t imageBytes(const FlyCaptureImage& image)
    {
        if (image.iRows <= 0 || image.iRowInc <= 0 || image.pData == nullptr) {
            return 0;
        }
        return static_cast<size_t>(image.iRows) * static_cast<size_t>(image.iRowInc);
    }

    // --- both ----------------------------------------------------------------------------

    boost::shared_ptr<ImageSample> makeSample(const FlyCaptureImage& image, unsigned char* pixels,
                                              void* param)
    {
        // One allocation for the sample and its count.
        boost::shared_ptr<ImageSample> sample = boost::make_shared<ImageSample>();
        sample->setSWDate(_camera.getChrono());
        ++_state._acquisition._nImgCounter;
        sample->setParam(param);
        sample->deleteImgBufferOnDestruction(false);
        sample->setIdx(_state._acquisition._nImgCounter);
        sample->resetShutter();
        sample->resetGain();
        sample->resetTriggerStatus();
        sample->resetStrobeOutStatus(0);
        sample->resetStrobeOutStatus(1);
        sample->setValidity(imgv_notChecked);
        sample->setImage(new IImage(pixels, ISize(image.iCols, image.iRows), pixelType()));
        return sample;
    }

    IDataType pixelType() const
    {
        switch (_fcPixFormat) {
        case FLYCAPTURE_MONO8:
            return idt_uint8;
        case FLYCAPTURE_MONO16:
            return idt_uint16;
        }
        ORVEX_THROW(kCameraUnit, kErrInvalidPixelFormat);
    }

    void logImage(const ImageSample& sample) const
    {
        if (!g_OrvexStreamLogger.isEnabledFor(log4cplus::INFO_LOG_LEVEL)) {
            return;
        }
        if (orvex::ClassicLine::matchesStreams()) {
            orvex::ClassicLine line;
            composeImageLine(line, _state._identity._nPortIdx, sample);
            LOG4CPLUS_INFO_STR(g_OrvexStreamLogger, line.str());
            return;
        }
        std::ostringstream line;
        line << std::fixed;
        composeImageLine(line, _state._identity._nPortIdx, sample);
        LOG4CPLUS_INFO_STR(g_OrvexStreamLogger, line.str());
    }

    // The image's line, into a stream or a ClassicLine.
    template <class Line>
    static void composeImageLine(Line& line, unsigned short port, const ImageSample& sample)
    {
        line << kStreamNewImage << port << kStreamImgId << sample.getIdx() << kStreamFrameCounter
             << sample.getIdx() << kStreamSwDate << sample.getSWDate();
        double hwDate = 0.0;
        if (sample.getHWDate(hwDate) && hwDate >= 0.0) {
            line << kStreamHwDate << hwDate;
        }
        unsigned long shutter = 0;
        if (sample.getShutter(shutter)) {
            line << kStreamShutter << shutter;
        }
        long gain = 0;
        if (sample.getGain(gain)) {
            line << kStreamGain << gain;
        }
        bool on = false;
        if (sample.getTriggerStatus(on)) {
            line << kStreamTrigger << (on ? kStreamOn : kStreamOff);
        }
        if (sample.getStrobeOutStatus(0, on)) {
            line << kStreamStrobe0 << (on ? kStreamOn : kStreamOff);
        }
        if (sample.getStrobeOutStatus(1, on)) {
            line << kStreamStrobe1 << (on ? kStreamOn : kStreamOff);
        }
    }

    // Every buffer the SDK lent comes back at once, then the transfer stops.
    void releaseAndStop() noexcept
    {
        const FlyCaptureError unlocked = flycaptureUnlockAll(context());
        if (unlocked != FLYCAPTURE_OK) {
            LOG4CPLUS_ERROR(g_OrvexLogger, kLogUnlockAllFailed << sdkErrorText(unlocked));
        }
        const FlyCaptureError stopped = flycaptureStop(context());
        if (stopped != FLYCAPTURE_OK) {
            LOG4CPLUS_ERROR(g_OrvexLogger, kLogStopFailed << sdkErrorText(stopped));
        }
    }

    FlyCapCamera& _camera;
    State& _state;
    const bool _bWow64;
    // A format set while acquiring applies from the next start: the images
    // of this transfer keep the one it started with (and the host may write
    // the camera's copy at any time).
    const FlyCapturePixelFormat _fcPixFormat;
    // Normal variant: the buffer indexes of the first two images.
    std::optional<unsigned int> _firstBufferIdx;
    bool _bSecondSeen = false;
    // SDK buffers lent to samples and not yet given back.
    uint32_t _nLent = 0;
};

// --- starting and stopping -------------------------------------------------------------

void FlyCapCamera::startAcquisition()
{
    FLYCAP_TRACE("FlyCapCamera::startAcquisition(); (portId =", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    if (isAcquiring()) {
        ORVEX_THROW(kCameraUnit, kErrAlreadyAcquiring);
    }
    checkSingle(FLYCAP_SITE(kCameraUnit),
                flycaptureSetGrabTimeoutEx(_pState->_fcContext.get(), kGrabTimeoutMs));
    updatePacketInfo();
    checkPacketSzValidity(static_cast<int>(_pState->_geometry._nPacketSz));
    checkMaxPacketSzOnBusNotExceeded();
    checkSingle(FLYCAP_SITE(kCameraUnit),
                flycaptureStartCustomImagePacket(_pState->_fcContext.get(), 0, _pState->_geometry._xImgOffset,
                                                 _pState->_geometry._yImgOffset, _pState->_geometry._xImgSz,
                                                 _pState->_geometry._yImgSz, _pState->_geometry._nPacketSz,
                                                 _pState->_geometry._fcPixFormat));
    try {
        if (!_pState->_exposure._bAutoExposureEnabled) {
            updateShutter();
            updateGain();
        }
        InterlockedExchange(&_pState->_acquisition._bAcquiring, 1);
        ResetEvent(_pState->_acquisition._hAcquiThreadStarted.get());
        _pState->_acquisition._acquiBuffers = boost::shared_array<boost::shared_array<unsigned char>>(
            new boost::shared_array<unsigned char>[_pState->_acquisition._nNbImgBuffers]);
        _pState->_acquisition._hAcquiThread = orvex::win32::OwnedHandle(CreateThread(
            nullptr, 0, _pState->_acquisition._bWow64 ? &Acquisition::wow64Entry : &Acquisition::normalEntry,
            this, 0, nullptr));
        if (!_pState->_acquisition._hAcquiThread) {
            ORVEX_THROW(kCameraUnit, orvex::systemErrorText(GetLastError()));
        }
    } catch (...) {
        InterlockedExchange(&_pState->_acquisition._bAcquiring, 0);
        abandonStartedTransfer();
        throw;
    }
    WaitForSingleObject(_pState->_acquisition._hAcquiThreadStarted.get(), INFINITE);
}

void FlyCapCamera::abandonStartedTransfer() noexcept
{
    const FlyCaptureError stopped = flycaptureStop(_pState->_fcContext.get());
    if (stopped != FLYCAPTURE_OK) {
        LOG4CPLUS_ERROR(g_OrvexLogger, kLogStopFailed << sdkErrorText(stopped));
    }
}

void FlyCapCamera::stopAcquisition()
{
    FLYCAP_TRACE("stopAcquisition(); (_nPortIdx = ", _pState->_identity._nPortIdx, ")");
    if (!isAcquiring()) {
        ORVEX_THROW(kCameraUnit, kErrNotAcquiring);
    }
    InterlockedExchange(&_pState->_acquisition._bAcquiring, 0);
    if (_pState->_acquisition._hAcquiThread) {
        WaitForSingleObject(_pState->_acquisition._hAcquiThread.get(), INFINITE);
        _pState->_acquisition._hAcquiThread.reset();
    }
    imagesBuffer().reset();
    if (imagesBuffer().isImageCaptured()) {
        imagesBuffer().releaseImage();
    }
}

bool FlyCapCamera::isAcquisitionStarted() const
{
    FLYCAP_TRACE("FlyCapCamera::isAcquisitionStarted(); (portId=", _pState->_identity._nPortIdx, ")");
    return isAcquiring();
}

void FlyCapCamera::checkMaxPacketSzOnBusNotExceeded()
{
    FLYCAP_TRACE("FlyCapCamera::checkMaxPacketSzOnBusNotExceeded(); (portId=", _pState->_identity._nPortIdx,
                 ")");
    IEEE1394VideoServer& server = videoServer();
    const CamGUID own = getUniqueId();
    const std::string bus = getOwningBusId();
    unsigned long sum = _pState->_geometry._nPacketSz;
    std::set<CamGUID> guids;
    server.getCamsList(guids);
    for (const CamGUID& guid : guids) {
        if (guid == own) {
            continue;
        }
        IEEE1394Camera& other = server.getCamera(guid);
        if (other.getOwningBusId() == bus && other.isInitialized() && other.isAcquisitionStarted()) {
            sum += static_cast<unsigned long>(other.getNbBytesPerPacket());
        }
    }
    const unsigned int maximum = server.getMaxPacketSz();
    if (maximum < sum) {
        std::ostringstream text;
        text << kErrPacketSumOnBus << sum << " > " << maximum << ")";
        ORVEX_THROW(kCameraUnit, text.str());
    }
}
