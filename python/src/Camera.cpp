// An opened camera for Python: init, the new-image event, settings, start
// and stop, and the wait for frames with the GIL released.
#include "Camera.h"

#include <chrono>
#include <limits>

namespace orvex::python {
namespace {

// Leaked on purpose: frames may die after the module at interpreter exit.
py::object& frameType()
{
    static auto* type = new py::object();
    return *type;
}

// What a frame array's base object keeps alive: the sample (so its pixels
// stay where they are) and the count of arrays over lent pixels.
struct FrameKeep {
    boost::shared_ptr<ImageSample> sample;
    std::shared_ptr<LentFrames> lent;
    bool pixelsLent = false;
};

// Names the capsules that are frame bases, so that no other capsule is
// taken for one.
constexpr const char* kFrameBaseName = "orvex.frame";

void releaseKeep(PyObject* capsule)
{
    // Only ever set on capsules of that name: the pointer is there.
    auto* keep = static_cast<FrameKeep*>(PyCapsule_GetPointer(capsule, kFrameBaseName));
    if (keep->pixelsLent) {
        --keep->lent->count;
    }
    delete keep;
}

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

void setFrameType(py::object type)
{
    if (!PyType_Check(type.ptr()) ||
        !PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(type.ptr()),
                          reinterpret_cast<PyTypeObject*>(py::detail::npy_api::get().PyArray_Type_))) {
        throw py::type_error("the frame type must be a subclass of numpy.ndarray");
    }
    frameType() = std::move(type);
}

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
            boost::shared_ptr<ImageSample> sample = _pending.front();
            _pending.pop_front();
            return wrap(sample);
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

// The array carries no metadata of its own: frameMetadata() reads it from
// the sample when a script asks, so a frame nobody inspects costs no
// Python objects beyond the array and its base.
py::object Camera::wrap(const boost::shared_ptr<ImageSample>& sample)
{
    const IImage* image = sample->getImage();
    if (image == nullptr || image->data() == nullptr) {
        throw BindingError("a frame of camera " + _guidText + " carries no pixels");
    }
    const ISize size = image->size();
    const int bytesPerPixel = image->bytesPerPixel();
    if (size.width <= 0 || size.height <= 0 || (bytesPerPixel != 1 && bytesPerPixel != 2)) {
        throw BindingError("a frame of camera " + _guidText + " has an unknown geometry or pixel format");
    }
    if (!frameType()) {
        throw BindingError("the orvex package did not set its frame type");
    }
    const bool lent = !sample->deleteImgBufferOnDestruction();
    auto* keep = new FrameKeep{sample, Session::instance().lentFrames(), lent};
    PyObject* base = PyCapsule_New(keep, kFrameBaseName, releaseKeep);
    if (base == nullptr) {
        delete keep;
        throw py::error_already_set();
    }
    if (lent) {
        ++keep->lent->count;
    }
    py::object owner = py::reinterpret_steal<py::object>(base);
    auto& api = py::detail::npy_api::get();
    PyObject* type = api.PyArray_DescrFromType_(bytesPerPixel == 1 ? py::detail::npy_api::NPY_UBYTE_
                                                                   : py::detail::npy_api::NPY_USHORT_);
    if (type == nullptr) {
        throw py::error_already_set();
    }
    Py_intptr_t dims[2] = {size.height, size.width};
    Py_intptr_t strides[2] = {static_cast<Py_intptr_t>(size.width) * bytesPerPixel, bytesPerPixel};
    // Flags 0: read-only, since the pixels may be the stack's own buffer.
    PyObject* array = api.PyArray_NewFromDescr_(reinterpret_cast<PyTypeObject*>(frameType().ptr()), type, 2,
                                                dims, strides, image->data(), 0, nullptr);
    if (array == nullptr) {
        throw py::error_already_set();
    }
    py::object frame = py::reinterpret_steal<py::object>(array);
    if (api.PyArray_SetBaseObject_(array, owner.release().ptr()) != 0) {
        throw py::error_already_set();
    }
    return frame;
}

py::object frameMetadata(const py::handle& base)
{
    if (!PyCapsule_IsValid(base.ptr(), kFrameBaseName)) {
        return py::none();
    }
    const auto* keep = static_cast<const FrameKeep*>(PyCapsule_GetPointer(base.ptr(), kFrameBaseName));
    const ImageSample& sample = *keep->sample;
    double hwDate = -1.0;
    unsigned long shutter = 0;
    long gain = 0;
    const bool hwKnown = sample.getHWDate(hwDate);
    const bool shutterKnown = sample.getShutter(shutter);
    const bool gainKnown = sample.getGain(gain);
    return py::make_tuple(
        sample.getIdx(), sample.getSWDate(), hwKnown ? py::object(py::float_(hwDate)) : py::none(),
        shutterKnown ? py::object(py::int_(shutter)) : py::none(),
        gainKnown ? py::object(py::int_(gain)) : py::none(), py::cast(sample.getValidity()));
}

} // namespace orvex::python
