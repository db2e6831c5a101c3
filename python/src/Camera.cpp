// An opened camera for Python: init, the new-image event, settings, start
// and stop, and the wait for frames with the GIL released.
#include "Camera.h"

#include "FrameArray.h"

#include <chrono>
#include <limits>

namespace orvex::python {
namespace {

// Holds the camera's images buffer locked for one scope.
class BufferLock {
public:
    explicit BufferLock(IEEE1394Camera& camera) : _camera(camera) { _camera.lockImagesBuffer(); }
    ~BufferLock() { _camera.unlockImagesBuffer(); }
    BufferLock(const BufferLock&) = delete;
    BufferLock& operator=(const BufferLock&) = delete;

private:
    IEEE1394Camera& _camera;
};

} // namespace

Camera::Camera(Stack stack, const CamGUID& guid) : _stack(stack), _guid(guid), _guidText(guid.to_string())
{
    Session& session = Session::instance();
    IEEE1394VideoServer& server = session.server(stack);
    IEEE1394Camera& cam = server.getCamera(guid);
    session.cameraOpened(guid);
    try {
        if (!cam.isInitialized()) {
            cam.init();
        }
        _event.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
        if (!_event) {
            throw BindingError("cannot create the new-image event of camera " + _guidText);
        }
        cam.setNewImageEvent(_event.get());
    } catch (...) {
        _event.reset();
        session.cameraClosed(guid);
        throw;
    }
    _pCamera = &cam;
    _generation = session.generation();
    _removalsAtCheck = session.removalsSeen();
    _verifiedAtRemovals = _removalsAtCheck;
}

Camera::~Camera()
{
    close();
}

void Camera::close() noexcept
{
    Session& session = Session::instance();
    // Only the owner thread may call the camera; a camera dropped elsewhere
    // stays open until the session's shutdown.
    if (_closed || !session.isOwnerThread()) {
        return;
    }
    _closed = true;
    _pending.clear();
    try {
        if (_generation == session.generation() && session.currentStack() == _stack) {
            IEEE1394VideoServer& server = videoServer();
            if (server.testCameraConnected(_guid) && &server.getCamera(_guid) == _pCamera) {
                if (_pCamera->isAcquisitionStarted()) {
                    _pCamera->stopAcquisition();
                }
                _pCamera->setNewImageEvent(nullptr);
            }
        }
    } catch (const std::exception&) {
        // A removed camera refuses to stop, yet its acquisition has ended.
    }
    {
        std::lock_guard<std::mutex> guard(_eventLock);
        _event.reset();
    }
    _started = false;
    session.cameraClosed(_guid);
}

IEEE1394Camera& Camera::camera()
{
    Session& session = Session::instance();
    session.checkThread();
    if (_closed) {
        throw BindingError("camera " + _guidText + " is closed");
    }
    if (_generation != session.generation() || session.currentStack() != _stack) {
        throw BindingError("camera " + _guidText + " was let go with its video server: open it again");
    }
    // Cameras leave the server only through a removal, which the session
    // counts: without a new one the camera found last time is still there.
    if (_verifiedAtRemovals == session.removalsSeen()) {
        return *_pCamera;
    }
    IEEE1394VideoServer& server = videoServer();
    if (!server.testCameraConnected(_guid)) {
        _started = false;
        server.getCamera(_guid); // throws the library's own text
    }
    IEEE1394Camera& cam = server.getCamera(_guid);
    if (&cam != _pCamera) {
        throw BindingError("camera " + _guidText + " was removed: list the cameras and open it again");
    }
    _verifiedAtRemovals = session.removalsSeen();
    return cam;
}

void Camera::start()
{
    IEEE1394Camera& cam = camera();
    _pending.clear();
    _anyIndexSeen = false;
    _stopRequested = false;
    cam.startAcquisition();
    _started = true;
}

void Camera::stop()
{
    if (!Session::instance().isOwnerThread()) {
        std::lock_guard<std::mutex> guard(_eventLock);
        if (!_iterating || !_event) {
            throw BindingError("stop() from another thread ends a running frames() iteration; camera " +
                               _guidText + " has none");
        }
        _stopRequested = true;
        SetEvent(_event.get());
        return;
    }
    stopNow(camera());
}

void Camera::stopNow(IEEE1394Camera& cam)
{
    _started = false;
    _stopRequested = false;
    _pending.clear();
    if (cam.isAcquisitionStarted()) {
        cam.stopAcquisition();
    }
}

bool Camera::isAcquiring()
{
    return camera().isAcquisitionStarted();
}

void Camera::beginIteration()
{
    _iterating = true;
}

void Camera::endIteration()
{
    _iterating = false;
}

py::object Camera::nextFrame(long timeoutMs)
{
    Session& session = Session::instance();
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        IEEE1394Camera& cam = camera();
        checkRemoval(cam);
        if (_stopRequested) {
            stopNow(cam);
            return py::none();
        }
        if (!_pending.empty()) {
            boost::shared_ptr<ImageSample> sample = std::move(_pending.front());
            _pending.pop_front();
            return newFrameArray(std::move(sample), _guidText);
        }
        if (!_started || !cam.isAcquisitionStarted()) {
            throw BindingError("camera " + _guidText + " is not acquiring: call start() first");
        }
        long left = -1;
        if (timeoutMs >= 0) {
            left = static_cast<long>(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
            if (left <= 0) {
                throw FrameTimeout("no frame from camera " + _guidText + " within the timeout");
            }
        }
        bool signalled = false;
        {
            py::gil_scoped_release released;
            signalled = session.wait(_event.get(), left, &_stopRequested);
        }
        session.raisePendingCallbackError();
        if (signalled) {
            fetchNewImages(camera());
        }
    }
}

// A removal heard since the last look: a FlyCapture camera that left is
// gone from the server (camera() then throws the library's text); a BCAM
// camera stays listed, and its failed stop carries the driver's reason.
void Camera::checkRemoval(IEEE1394Camera& cam)
{
    Session& session = Session::instance();
    if (session.removalsSeen() == _removalsAtCheck) {
        return;
    }
    _removalsAtCheck = session.removalsSeen();
    if (_stack != Stack::bcam || cam.testCommunication()) {
        return;
    }
    _pending.clear();
    _started = false;
    cam.stopAcquisition();
    throw BindingError("camera " + _guidText + " was removed");
}

// Takes every image newer than the last one taken, oldest first.
bool Camera::fetchNewImages(IEEE1394Camera& cam)
{
    BufferLock lock(cam);
    const unsigned long size = cam.getImagesBufferSize();
    bool any = false;
    for (unsigned long position = size; position-- > 0;) {
        boost::shared_ptr<ImageSample> sample = cam.getImagesBufferContent(position);
        const auto index = static_cast<uint32_t>(sample->getIdx());
        // Indexes are 32-bit counters: newer means ahead modulo 2^32.
        if (_anyIndexSeen && static_cast<int32_t>(index - _lastIndex) <= 0) {
            continue;
        }
        _anyIndexSeen = true;
        _lastIndex = index;
        _pending.push_back(sample);
        any = true;
    }
    return any;
}

} // namespace orvex::python
