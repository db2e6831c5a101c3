// An opened camera: initialised, notifying its new images through an event
// of its own, looked up again by its GUID at every call so that a camera
// the server removed is refused instead of used.
#pragma once

#include "Session.h"

#include <orvex/orvex.h>
#include <orvex/win32_owned.h>

#include <pybind11/pybind11.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace orvex::python {

namespace py = pybind11;

class Camera {
public:
    Camera(Stack stack, const CamGUID& guid);
    ~Camera();
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    // Stops acquisition and lets the camera go; never throws.
    void close() noexcept;
    bool isClosed() const { return _closed; }

    // The library's camera, refused when closed, removed or re-listed, or
    // from another thread.
    IEEE1394Camera& camera();

    const std::string& guidText() const { return _guidText; }
    Stack stack() const { return _stack; }

    void start();
    // From the owner thread: stops now. From any other thread: asks the
    // running frames() iteration to stop and end.
    void stop();
    bool isAcquiring();

    // The next frame as an array of the Frame type, or null when the
    // iteration was stopped. Throws FrameTimeout after `timeoutMs` without one.
    py::object nextFrame(long timeoutMs);
    void beginIteration();
    void endIteration();

private:
    bool fetchNewImages(IEEE1394Camera& cam);
    void checkRemoval(IEEE1394Camera& cam);
    void stopNow(IEEE1394Camera& cam);

    Stack _stack;
    CamGUID _guid;
    std::string _guidText;
    IEEE1394Camera* _pCamera = nullptr;
    unsigned long _generation = 0;
    // Set by stop() from other threads, closed by close(): guarded.
    std::mutex _eventLock;
    orvex::win32::OwnedHandle _event;
    bool _closed = false;
    bool _started = false;
    bool _anyIndexSeen = false;
    uint32_t _lastIndex = 0;
    unsigned long _removalsAtCheck = 0;
    unsigned long _verifiedAtRemovals = 0;
    std::atomic<bool> _iterating{false};
    std::atomic<bool> _stopRequested{false};
    std::deque<boost::shared_ptr<ImageSample>> _pending;
};

} // namespace orvex::python
