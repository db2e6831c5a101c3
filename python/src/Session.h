// The process's one video server as Python sees it: which stack it belongs
// to, the thread that owns its hidden windows, the message pump that thread
// runs while Python waits, and the device changes it heard.
#pragma once

#include "Errors.h"

#include <orvex/orvex.h>

#include <pybind11/pybind11.h>

#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace orvex::python {

namespace py = pybind11;

enum class Stack { flycap, bcam };

const char* stackName(Stack stack);

// One camera as a listing shows it.
struct CameraEntry {
    std::string guid;
    std::string model;
    std::string vendor;
    std::string bus;
    unsigned port = 0;
    Stack stack = Stack::flycap;
};

struct DeviceEvent {
    std::string kind; // "arrival" or "removal"
    std::string name;
    Stack stack = Stack::flycap;
};

// Frame arrays over pixels lent by a stack (not owned by their sample); the
// server must not be reset or destroyed under them. Changed with the GIL held.
struct LentFrames {
    long count = 0;
};

class Session {
public:
    static Session& instance();

    // Refuses a call from another thread than the one that created the
    // server: its windows, and so its messages, belong to that thread.
    void checkThread() const;
    bool isOwnerThread() const;

    // Lists the stack's cameras afresh (creating its server, replacing the
    // other stack's one when allowed).
    std::vector<CameraEntry> list(Stack stack);
    // The stack's server, created and listed when there is none.
    IEEE1394VideoServer& server(Stack stack);
    std::optional<Stack> currentStack() const { return _stack; }
    // Changes whenever the server's cameras are replaced.
    unsigned long generation() const { return _generation; }

    // Waits up to `timeoutMs` (negative: forever) for `handle` (may be null)
    // while dispatching the owner thread's messages; the GIL must be released
    // by the caller. True when the handle was signalled. `interrupt` is
    // checked after every wake-up.
    bool wait(HANDLE handle, long timeoutMs, const std::atomic<bool>* interrupt = nullptr);
    // Dispatches messages for `seconds`, then raises what a Python callback
    // raised meanwhile.
    void pump(double seconds);
    void raisePendingCallbackError();

    // Calls a Python callable from a library callback (GIL taken here); what
    // it raises is kept and raised by the wait or pump that dispatched it.
    template <class... Args> void callBack(const py::object& callable, Args&&... args)
    {
        py::gil_scoped_acquire gil;
        if (!callable || callable.is_none()) {
            return;
        }
        try {
            callable(std::forward<Args>(args)...);
        } catch (py::error_already_set& error) {
            if (!_callbackError) {
                _callbackError = std::move(error);
            }
        }
    }

    std::vector<DeviceEvent> takeEvents();
    void setDeviceCallback(py::object callback);
    unsigned long removalsSeen() const { return _removals; }

    // Refuses a camera opened twice; counts the open ones.
    void cameraOpened(const CamGUID& guid);
    void cameraClosed(const CamGUID& guid);
    LentFrames& lentFrames() { return _lent; }

    // Destroys the server; cameras must have been closed.
    void shutdown() noexcept;

    // Called by the device-change callback, on the owner thread.
    void onDeviceChange(const char* kind, const std::string& name);

private:
    Session() = default;
    void refuseReplacingServer() const;
    void createServer(Stack stack);
    void destroyServer() noexcept;
    void listInto(std::vector<CameraEntry>& entries);

    std::optional<Stack> _stack;
    std::thread::id _owner;
    bool _ownerKnown = false;
    unsigned long _generation = 0;
    std::set<CamGUID> _openCameras;
    unsigned long _removals = 0;
    bool _bcamDriverInstalled = false;
    LentFrames _lent;
    std::deque<DeviceEvent> _events;
    py::object _deviceCallback;
    std::optional<py::error_already_set> _callbackError;
};

} // namespace orvex::python
