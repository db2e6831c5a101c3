// BCAMCamera acquisition: start, the acquisition thread, stop.
//
// Stop protocol. The host thread's stopAcquisition switches the stream off,
// posts the stop message (kStopMessage) to the device's completion port and
// clears the acquiring flag; the acquisition thread, the port's only
// consumer, returns when it dequeues that message; the host waits for the
// thread to end, then cancels the grabs still pending, frees the driver's
// resources and the buffers left in the map. Between start and stop the
// thread alone touches the grab queue, the buffer map and the next id; start
// fills them before resuming the thread, stop empties them after it ended.
#include "bcam/BCAMCameraPrivate.h"

#include "base/ClassicLine.h"
#include "base/HiddenWindow.h"
#include "core/SmartFeaturesManager.h"

#include <orvex/ImageSample.h>
#include <orvex/ImagesBuffer.h>
#include <orvex/bcam/BcamProtocol.h>
#include <orvex/companions/Image.h>

#include <boost/make_shared.hpp>
#include <log4cplus/loggingmacros.h>

#include <algorithm>
#include <exception>
#include <iomanip>
#include <sstream>

using namespace orvex::bcam;

namespace {

// Chunk numbers of the smart features manager.
constexpr unsigned kChunkFrameCounter = 1;
constexpr unsigned kChunkCycleTime = 2;
constexpr unsigned kChunkGreyLevels = 3;
constexpr unsigned kChunkDcam = 4;
constexpr unsigned kChunkCrc = 6;
constexpr uint32_t kLow16Bits = 0xFFFF;

const char* validityText(ImageValidity validity)
{
    switch (validity) {
    case imgv_valid:
        return "ok";
    case imgv_invalid:
        return "ko";
    default:
        return "?";
    }
}

} // namespace

// The acquisition thread's work, with access to the camera's state.
class BCAMAcquisition {
public:
    explicit BCAMAcquisition(BCAMCamera& camera) : _camera(camera), _state(*camera._pState) {}

    static DWORD WINAPI threadProc(LPVOID camera)
    {
        BCAMAcquisition acquisition(*static_cast<BCAMCamera*>(camera));
        return acquisition.run();
    }

    // Queues one grab into a fresh buffer and records it. Start (before the
    // thread runs) and the thread itself.
    void queueGrab(unsigned long nbBytes)
    {
        // Not zeroed: the driver writes every byte of a completed grab.
        std::unique_ptr<unsigned char[]> buffer(new unsigned char[nbBytes]);
        const uint32_t id = _state._nNextBufferId;
        _state.device().GrabImageAsync(buffer.get(), static_cast<DWORD>(nbBytes), id, 0);
        _state._mapBuffers.emplace(id, std::move(buffer));
        _state._queueBufferIds.push_back(id);
        _state._nNextBufferId = id + 1;
    }

private:
    DWORD run();
    bool readFrameLayout();
    void onGrabCompleted(uint32_t id, unsigned long transferred);
    void requeue();
    void deliver(std::unique_ptr<unsigned char[]> pixels, unsigned long transferred);
    void applyChunks(ImageSample& sample, const unsigned char* pixels, unsigned long transferred);
    // The image's line on "Orvex.stream", into a stream or a ClassicLine.
    void logImage(const ImageSample& sample) const;
    template <class Line> void composeImageLine(Line& line, const ImageSample& sample) const;
    void logUnexpected(uint32_t id) const;

    BCAMCamera& _camera;
    BCAMCamera::State& _state;
    unsigned long _nbBytes = 0;
    int _width = 0;
    int _height = 0;
    unsigned short _portIdx = 0;
    IDataType _dataType = idt_unknown;
};

DWORD BCAMAcquisition::run()
{
    if (!readFrameLayout()) {
        return 1;
    }
    for (;;) {
        DWORD message = 0, error = 0, context = 0, transferred = 0;
        try {
            do {
                _state.device().WaitForCompletion(message, error, context, INFINITE, &transferred);
            } while (error != 0);
        } catch (const std::exception& failure) {
            LOG4CPLUS_ERROR(g_OrvexLogger, "BCAMCamera acquisition ended: " << failure.what());
            return 1;
        }
        if (message == orvex::bcam::kStopMessage) {
            return 0;
        }
        if (message == orvex::bcam::kGrabCompletedMessage) {
            onGrabCompleted(context, transferred);
        }
    }
}

bool BCAMAcquisition::readFrameLayout()
{
    try {
        _nbBytes = _state._nGrabBytes;
        _camera.getSize(_width, _height);
        _portIdx = _camera.getPortIdx();
        const long long pixels = static_cast<long long>(_width) * _height;
        const long long bytesPerPixel = pixels > 0 ? static_cast<long long>(_nbBytes) / pixels : 0;
        if (bytesPerPixel == 1) {
            _dataType = idt_uint8;
        } else if (bytesPerPixel == 2) {
            _dataType = idt_uint16;
        } else {
            ORVEX_THROW(kCameraUnit, kErrUnknownPixelFormat);
        }
        return true;
    } catch (const std::exception&) {
        return false; // OrvexError has reported itself; a device error is one too
    }
}

void BCAMAcquisition::onGrabCompleted(uint32_t id, unsigned long transferred)
{
    if (_state._queueBufferIds.empty() || _state._queueBufferIds.front() != id) {
        // Not the oldest grab: its buffer stays where it is, freed at stop.
        logUnexpected(id);
        return;
    }
    _state._queueBufferIds.pop_front();
    std::unique_ptr<unsigned char[]> pixels = std::move(_state._mapBuffers.extract(id).mapped());
    requeue();
    try {
        deliver(std::move(pixels), transferred);
    } catch (const std::exception& failure) {
        // One bad image does not stop the stream.
        LOG4CPLUS_ERROR(g_OrvexLogger,
                        "BCAMCamera: image " << _state._nImgCounter << " lost: " << failure.what());
    }
}

void BCAMAcquisition::requeue()
{
    try {
        queueGrab(_nbBytes);
    } catch (const std::exception& failure) {
        // An unplugged camera: the stream goes on with fewer grabs, if at all.
        LOG4CPLUS_ERROR(g_OrvexLogger, "BCAMCamera: grab not queued again: " << failure.what());
    }
}

void BCAMAcquisition::deliver(std::unique_ptr<unsigned char[]> pixels, unsigned long transferred)
{
    const boost::shared_ptr<ImageSample> sample = boost::make_shared<ImageSample>();
    unsigned char* data = pixels.get();
    sample->setImage(new IImage(data, ISize(_width, _height), _dataType));
    static_cast<void>(pixels.release()); // the sample frees it now

    sample->setSWDate(_camera.getChrono());
    ++_state._nImgCounter;
    sample->setIdx(_state._nImgCounter);
    // A new sample's shutter and gain are unknown and its validity still
    // open until the chunks say otherwise.
    applyChunks(*sample, data, transferred);

    if (g_OrvexStreamLogger.isEnabledFor(log4cplus::DEBUG_LOG_LEVEL)) {
        logImage(*sample);
    }
    _camera.imagesBuffer().addImage(sample);
    LOG4CPLUS_TRACE(g_OrvexLogger, kLogImageReceived);
    _camera.notifyNewImage();
}

void BCAMAcquisition::logImage(const ImageSample& sample) const
{
    if (orvex::ClassicLine::matchesStreams()) {
        orvex::ClassicLine line;
        composeImageLine(line, sample);
        LOG4CPLUS_DEBUG_STR(g_OrvexStreamLogger, line.str());
        return;
    }
    std::ostringstream line;
    line << std::fixed;
    composeImageLine(line, sample);
    LOG4CPLUS_DEBUG_STR(g_OrvexStreamLogger, line.str());
}

template <class Line> void BCAMAcquisition::composeImageLine(Line& line, const ImageSample& sample) const
{
    double hwDate = -1.0;
    sample.getHWDate(hwDate);
    line << "acquiFunction; new image grabbed; portId = " << _portIdx << ";\timgId = " << sample.getIdx()
         << ";\tsw date = " << sample.getSWDate() << ";\thw date = " << hwDate
         << ";\tvalidity: " << validityText(sample.getValidity());
}

void BCAMAcquisition::applyChunks(ImageSample& sample, const unsigned char* pixels, unsigned long transferred)
{
    SmartFeaturesManager& chunks = _camera.smartFeaturesManager();
    // The chunks end where the driver's transfer ended; a tail it did not
    // write is an older image's.
    chunks.parse(pixels, std::min(transferred, _nbBytes));
    double hwDate = -1.0;
    if (chunks.isPresent(kChunkCycleTime)) {
        hwDate = chunks.getCycleTimeDate();
    }
    sample.setHWDate(hwDate);
    if (chunks.isPresent(kChunkGreyLevels)) {
        sample.setGLInfo(chunks.getLowestGreyLevel(), chunks.getHighestGreyLevel(),
                         chunks.getMeanGreyLevel());
    }
    if (chunks.isPresent(kChunkCrc)) {
        sample.setValidity(chunks.isCrcMatched() ? imgv_valid : imgv_invalid);
    }
    if (chunks.isPresent(kChunkFrameCounter)) {
        sample.setIdx(chunks.getFrameCounter());
    }
    if (chunks.isPresent(kChunkDcam)) {
        if (chunks.isShutterPresent()) {
            sample.setShutter(chunks.getShutter() & kLow16Bits);
        }
        if (chunks.isGainPresent()) {
            sample.setGain(static_cast<long>(chunks.getGain() & kLow16Bits));
        }
    }
}

void BCAMAcquisition::logUnexpected(uint32_t id) const
{
    std::ostringstream line;
    line << kLogUnknownBuffer << id << " vs {";
    const char* separator = "";
    for (const uint32_t queued : _state._queueBufferIds) {
        line << separator << queued;
        separator = ", ";
    }
    line << "})";
    LOG4CPLUS_ERROR(g_OrvexLogger, line.str());
}

// --- start and stop (host thread) -----------------------------------------------------

bool BCAMCamera::isAcquiring() const
{
    return _pState->_nAcquiring.load() != 0;
}

bool BCAMCamera::isAcquisitionStarted() const
{
    return isAcquiring();
}

namespace {

[[noreturn]] void throwStartFailure(const char* step, const Bcam::BcamException& error)
{
    ORVEX_THROW(kCameraUnit, std::string(step) + error.what());
}

} // namespace

void BCAMCamera::startAcquisition()
{
    if (isAcquiring()) {
        ORVEX_THROW(kCameraUnit, kErrAlreadyAcquiring);
    }
    unsigned long nbBytes = 0, second = 0;
    getNbBytesPerFrame(nbBytes, second);
    Bcam::CBcamExtension& device = _pState->device();
    try {
        device.AllocateResources(kNbGrabBuffers, static_cast<DWORD>(nbBytes));
    } catch (const Bcam::BcamException& error) {
        throwStartFailure(kErrStartAllocating, error);
    }
    _pState->_nGrabBytes = nbBytes;
    _pState->_nAcquiring.exchange(1);
    _pState->_nImgCounter = 0;
    // A thread that ended before the last stop left that stop's message in
    // the port: the new thread must not read it and end at once.
    device.DiscardCompletions();

    HANDLE thread = CreateThread(nullptr, 0, &BCAMAcquisition::threadProc, this, CREATE_SUSPENDED,
                                 &_pState->_nAcquiThreadId);
    if (thread == nullptr) {
        ORVEX_THROW(kCameraUnit, orvex::systemErrorText(GetLastError()));
    }
    _pState->_hAcquiThread = orvex::win32::OwnedHandle(thread);
    // From here on a failure leaves the thread running, waiting for the
    // stop message that stopAcquisition posts.
    try {
        try {
            device.ContinuousShot.Assign(true);
        } catch (const Bcam::BcamException& error) {
            throwStartFailure(kErrStartContinuousShot, error);
        }
        SetThreadPriority(thread, kAcquiThreadPriority);
        BCAMAcquisition grabs(*this);
        for (uint32_t i = 0; i < kNbGrabBuffers; ++i) {
            try {
                grabs.queueGrab(nbBytes);
            } catch (const Bcam::BcamException& error) {
                throwStartFailure(kErrStartGrab, error);
            }
        }
    } catch (...) {
        ResumeThread(thread);
        throw;
    }
    ResumeThread(thread);
}

void BCAMCamera::stopAcquisition()
{
    if (!isAcquiring()) {
        ORVEX_THROW(kCameraUnit, kErrNotAcquiring);
    }
    const std::string failure = _pState->stopSteps();
    if (!failure.empty()) {
        ORVEX_THROW(kCameraUnit, std::string(kErrStop) + "\"" + failure);
    }
}

std::string BCAMCamera::State::stopSteps()
{
    Bcam::CBcamExtension& bcam = device();
    std::string failure;
    const auto attempt = [&failure](auto&& step) {
        try {
            step();
        } catch (const Bcam::BcamException& error) {
            if (failure.empty()) {
                failure = error.what();
            }
        }
    };
    attempt([&] { bcam.ContinuousShot.Assign(false); });
    attempt([&] { bcam.Notify(orvex::bcam::kStopMessage, 0); });
    _nAcquiring.exchange(0);
    if (_hAcquiThread) {
        WaitForSingleObject(_hAcquiThread.get(), INFINITE);
        _hAcquiThread.reset();
    }
    attempt([&] { bcam.Cancel(); });
    attempt([&] { bcam.FreeResources(); });
    _mapBuffers.clear();
    _queueBufferIds.clear();
    return failure;
}
