// MultiSync for Python: cameras by GUID, and Python callables called as
// the host callbacks on the owner thread.
#include "Sync.h"

#include "Session.h"

#include <orvex/MultiSync.h>

#include <pybind11/stl.h>

#include <memory>

namespace orvex::python {
namespace {

// The controller's host callbacks, forwarded to Python callables; the
// controller owns it. Runs on the owner thread while it dispatches.
class SyncCallbacks : public MultiSyncEvtCB {
public:
    py::object successCall, failureCall, synchronizedCall, lostCall;

    ~SyncCallbacks() override
    {
        py::gil_scoped_acquire gil;
        successCall = failureCall = synchronizedCall = lostCall = py::object();
    }
    void onUpdateSyncRegistersSuccess() override { Session::instance().callBack(successCall); }
    void onUpdateSyncRegistersFailure(const std::string& message) override
    {
        Session::instance().callBack(failureCall, message);
    }
    void onSynchronized() override { Session::instance().callBack(synchronizedCall); }
    void onSynchronizationLost() override { Session::instance().callBack(lostCall); }
};

CamGUID guidFrom(const py::handle& camera)
{
    py::object text =
        py::hasattr(camera, "guid") ? camera.attr("guid") : py::reinterpret_borrow<py::object>(camera);
    if (!py::isinstance<py::str>(text)) {
        throw py::type_error("cameras are named by GUID strings or entries of orvex.cameras()");
    }
    CamGUID guid;
    try {
        guid.from_string(text.cast<std::string>());
    } catch (const std::invalid_argument&) {
        throw py::value_error("'" + text.cast<std::string>() + "' is not a camera GUID");
    }
    return guid;
}

py::object checkedCallable(py::object callable)
{
    if (!callable.is_none() && !PyCallable_Check(callable.ptr())) {
        throw py::type_error("sync callbacks must be callable or None");
    }
    return callable;
}

class Sync {
public:
    Sync(const py::object& master, const py::iterable& cameras, py::object onSynchronized,
         py::object onSuccess, py::object onFailure, py::object onLost)
    {
        const CamGUID masterGuid = guidFrom(master);
        std::list<CamGUID> guids;
        for (const py::handle camera : cameras) {
            guids.push_back(guidFrom(camera));
        }
        auto callbacks = std::make_unique<SyncCallbacks>();
        callbacks->synchronizedCall = checkedCallable(std::move(onSynchronized));
        callbacks->successCall = checkedCallable(std::move(onSuccess));
        callbacks->failureCall = checkedCallable(std::move(onFailure));
        callbacks->lostCall = checkedCallable(std::move(onLost));
        // The controller's window belongs to the thread that builds it, which
        // must be the one that pumps: the server's.
        Session::instance().server(Stack::flycap);
        _sync = std::make_unique<MultiSync>();
        _sync->setEvtCB(callbacks.release());
        _sync->setCameras(masterGuid, guids);
    }
    ~Sync()
    {
        if (_sync && !Session::instance().isOwnerThread()) {
            static_cast<void>(_sync.release()); // its window cannot be destroyed from here
        }
    }
    Sync(const Sync&) = delete;
    Sync& operator=(const Sync&) = delete;

    MultiSync& sync()
    {
        Session::instance().checkThread();
        return *_sync;
    }
    std::string state()
    {
        MultiSync& s = sync();
        return s.isSynchronized() ? "synchronized" : s.isStarted() ? "started" : "stopped";
    }

private:
    std::unique_ptr<MultiSync> _sync;
};

} // namespace

void bindSync(py::module_& m)
{
    py::class_<Sync>(m, "MultiSync", "Keeps the cameras of other buses on the master's time base.")
        .def(py::init<const py::object&, const py::iterable&, py::object, py::object, py::object,
                      py::object>(),
             py::arg("master"), py::arg("cameras"), py::arg("on_synchronized") = py::none(),
             py::arg("on_update_success") = py::none(), py::arg("on_update_failure") = py::none(),
             py::arg("on_synchronization_lost") = py::none())
        .def("start", [](Sync& s) { s.sync().start(); })
        .def("stop", [](Sync& s) { s.sync().stop(); })
        .def_property_readonly("state", &Sync::state, "'stopped', 'started' or 'synchronized'.")
        .def_property_readonly("last_update_failed",
                               [](Sync& s) { return s.sync().lastSyncRegUpdateFailed(); })
        .def_property_readonly("all_on_same_bus",
                               [](Sync& s) { return s.sync().areAllCamerasOnTheSameBus(); });
}

} // namespace orvex::python
