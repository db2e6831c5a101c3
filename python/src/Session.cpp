// The process's one video server as Python sees it: its stack, the owner
// thread and its message pump, and the device changes heard.
#include "Session.h"

#include <orvex/BCAMVideoServer.h>
#include <orvex/FlyCapVideoServer.h>

#if defined(ORVEX_PYTHON_OVER_SIMULATOR)
#include <orvex/sim/BcamDriver.h>
#include <orvex/sim/World.h>
#endif

#include <chrono>

namespace orvex::python {
namespace {

// Hands the server's arrivals and removals to the session, on the thread
// that dispatches the server's window. The server owns it.
class DeviceChanges : public CaptureDeviceChangedCB {
public:
    void onDeviceArrival(const std::string& deviceName, bool) override
    {
        Session::instance().onDeviceChange("arrival", deviceName);
    }
    void onDeviceRemoval(const std::string& deviceName, bool) override
    {
        Session::instance().onDeviceChange("removal", deviceName);
    }
};

// A world file named by the user that could not be loaded would pass for an
// empty bus: refuse instead, with the simulator's reason.
void refuseBrokenWorld()
{
#if defined(ORVEX_PYTHON_OVER_SIMULATOR)
    const std::string problem = orvex::sim::World::instance().startupProblem();
    if (!problem.empty()) {
        throw BindingError(problem);
    }
#endif
}

template <class Read> std::string textOrEmpty(Read&& read)
{
    try {
        return read();
    } catch (const ::Error&) {
        return {};
    }
}

} // namespace

const char* stackName(Stack stack)
{
    return stack == Stack::bcam ? "bcam" : "flycap";
}

Session& Session::instance()
{
    // Never destroyed: frame arrays and callbacks may outlive the module's
    // teardown at interpreter exit; shutdown() releases the server before.
    static Session* session = new Session();
    return *session;
}

bool Session::isOwnerThread() const
{
    return !_ownerKnown || _owner == std::this_thread::get_id();
}

void Session::checkThread() const
{
    if (!isOwnerThread()) {
        throw BindingError("orvex objects belong to the thread that created the video server: call them "
                           "from that thread");
    }
}

void Session::refuseReplacingServer() const
{
    if (!_openCameras.empty()) {
        throw BindingError("the cameras cannot be listed again while a camera is open: close it first");
    }
    if (_lent.count > 0) {
        throw BindingError("the cameras cannot be listed again while frame arrays over the stack's buffers "
                           "are alive: copy what you keep and delete the frames first");
    }
}

void Session::createServer(Stack stack)
{
    refuseBrokenWorld();
#if defined(ORVEX_PYTHON_OVER_SIMULATOR)
    if (stack == Stack::bcam && !_bcamDriverInstalled) {
        // Over the simulator the machine has the BCAM driver, as a real one
        // with Basler cameras would.
        orvex::sim::bcam::installDriverFiles();
        orvex::sim::bcam::installDriver();
        _bcamDriverInstalled = true;
    }
#endif
    IEEE1394VideoServer& server =
        stack == Stack::bcam ? createBCAMVideoServer(true) : createFlyCapVideoServer(true);
    _stack = stack;
    _owner = std::this_thread::get_id();
    _ownerKnown = true;
    server.setCaptureDeviceChangedCB(new DeviceChanges(), true);
}

void Session::destroyServer() noexcept
{
    if (!_stack) {
        return;
    }
    try {
        destroyVideoServer();
    } catch (const std::exception&) {
        // Nothing left to release: the registry says no server exists.
    }
    _stack.reset();
    ++_generation;
}

IEEE1394VideoServer& Session::server(Stack stack)
{
    checkThread();
    if (_stack != stack) {
        list(stack);
    }
    return videoServer();
}

std::vector<CameraEntry> Session::list(Stack stack)
{
    checkThread();
    refuseReplacingServer();
    if (_stack != stack) {
        destroyServer();
        createServer(stack);
    }
    IEEE1394VideoServer& server = videoServer();
    ++_generation;
    try {
        // The FlyCapture server leaves out cameras that fail their init; the
        // BCAM server would stop at the first, so its cameras are opened
        // only and initialised when a script opens one.
        server.reset(stack == Stack::flycap);
    } catch (...) {
        destroyServer();
        throw;
    }
    std::vector<CameraEntry> entries;
    listInto(entries);
    return entries;
}

void Session::listInto(std::vector<CameraEntry>& entries)
{
    IEEE1394VideoServer& server = videoServer();
    for (int position = 0; position < server.getNbCameras(); ++position) {
        IEEE1394Camera& camera = server.getCamera(position);
        CameraEntry entry;
        entry.guid = camera.getUniqueId().to_string();
        entry.model = textOrEmpty([&] { return camera.getModelName(); });
        entry.vendor = textOrEmpty([&] { return camera.getVendorName(); });
        entry.bus = textOrEmpty([&] { return camera.getOwningBusId(); });
        entry.port = camera.getPortIdx();
        entry.stack = *_stack;
        entries.push_back(entry);
    }
}

bool Session::wait(HANDLE handle, long timeoutMs, const std::atomic<bool>* interrupt)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    const DWORD count = handle != nullptr ? 1 : 0;
    for (;;) {
        DWORD slice = INFINITE;
        if (timeoutMs >= 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            slice = left > 0 ? static_cast<DWORD>(left) : 0;
        }
        const DWORD woke =
            MsgWaitForMultipleObjects(count, count ? &handle : nullptr, FALSE, slice, QS_ALLINPUT);
        // Messages are dispatched on every wake, so that images arriving
        // faster than they are read do not hold a removal back.
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&msg);
        }
        if (count && woke == WAIT_OBJECT_0) {
            return true;
        }
        if ((interrupt != nullptr && interrupt->load()) || woke == WAIT_TIMEOUT || woke == WAIT_FAILED) {
            return false;
        }
        if (timeoutMs >= 0 && Clock::now() >= deadline) {
            return false;
        }
        if (_callbackError) {
            return false;
        }
    }
}

void Session::pump(double seconds)
{
    checkThread();
    {
        py::gil_scoped_release released;
        wait(nullptr, static_cast<long>(seconds * 1000.0));
    }
    raisePendingCallbackError();
}

void Session::raisePendingCallbackError()
{
    if (_callbackError) {
        py::error_already_set error = std::move(*_callbackError);
        _callbackError.reset();
        throw error;
    }
}

void Session::onDeviceChange(const char* kind, const std::string& name)
{
    py::gil_scoped_acquire gil;
    if (std::string(kind) == "removal") {
        ++_removals;
    }
    DeviceEvent event{kind, name, _stack.value_or(Stack::flycap)};
    if (_deviceCallback && !_deviceCallback.is_none()) {
        callBack(_deviceCallback, py::cast(event));
        return;
    }
    // Without a callback the events wait for an iterator; a script that
    // never asks keeps only the latest ones.
    constexpr size_t kKeptEvents = 1000;
    if (_events.size() == kKeptEvents) {
        _events.pop_front();
    }
    _events.push_back(event);
}

std::vector<DeviceEvent> Session::takeEvents()
{
    std::vector<DeviceEvent> taken(_events.begin(), _events.end());
    _events.clear();
    return taken;
}

void Session::setDeviceCallback(py::object callback)
{
    if (!callback.is_none() && !PyCallable_Check(callback.ptr())) {
        throw py::type_error("the device-change callback must be callable or None");
    }
    _deviceCallback = std::move(callback);
}

void Session::cameraOpened(const CamGUID& guid)
{
    if (!_openCameras.insert(guid).second) {
        throw BindingError("camera " + guid.to_string() + " is already open");
    }
}

void Session::cameraClosed(const CamGUID& guid)
{
    _openCameras.erase(guid);
}

void Session::shutdown() noexcept
{
    if (!isOwnerThread()) {
        return; // another thread's windows cannot be destroyed from here
    }
    destroyServer();
    _deviceCallback = py::object();
    _events.clear();
    _callbackError.reset();
}

} // namespace orvex::python
