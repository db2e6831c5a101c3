// The iterator cam.frames() returns: a plain CPython type, so that a loop
// reaches each frame without a pybind11 call per step.
#include "FrameIterator.h"

#include "Errors.h"

namespace orvex::python {
namespace {

namespace py = pybind11;

// Counts the frames yielded and keeps the camera's iteration flag, which
// stop() from another thread looks at.
class Iteration {
public:
    Iteration(std::shared_ptr<Camera> camera, std::optional<long long> count, long timeoutMs)
        : _camera(std::move(camera)), _count(count), _timeoutMs(timeoutMs)
    {
        _camera->beginIteration();
    }
    ~Iteration() { _camera->endIteration(); }
    Iteration(const Iteration&) = delete;
    Iteration& operator=(const Iteration&) = delete;

    // The next frame, or null at the end (count reached, or stopped).
    py::object next()
    {
        if (_ended || (_count && _yielded >= *_count)) {
            return end();
        }
        py::object frame;
        try {
            frame = _camera->nextFrame(_timeoutMs);
        } catch (...) {
            end();
            throw;
        }
        if (frame.is_none()) {
            return end();
        }
        ++_yielded;
        return frame;
    }

private:
    py::object end()
    {
        _ended = true;
        _camera->endIteration();
        return py::object();
    }

    std::shared_ptr<Camera> _camera;
    std::optional<long long> _count;
    long _timeoutMs;
    long long _yielded = 0;
    bool _ended = false;
};

struct IteratorObject {
    PyObject_HEAD Iteration* iteration;
};

PyTypeObject* iteratorType = nullptr;

void deallocate(PyObject* self)
{
    PyTypeObject* type = Py_TYPE(self);
    delete reinterpret_cast<IteratorObject*>(self)->iteration;
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* iterateNext(PyObject* self)
{
    Iteration* iteration = reinterpret_cast<IteratorObject*>(self)->iteration;
    if (iteration == nullptr) {
        PyErr_SetString(PyExc_TypeError, "a FrameIterator comes from Camera.frames()");
        return nullptr;
    }
    try {
        // Null without an error set ends the loop.
        return iteration->next().release().ptr();
    } catch (...) {
        setErrorFromCurrentException();
        return nullptr;
    }
}

PyType_Slot iteratorSlots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(deallocate)},
    {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(iterateNext)},
    {Py_tp_doc, const_cast<char*>("The frames of a camera, as Camera.frames() yields them.")},
    {0, nullptr},
};

PyType_Spec iteratorSpec = {
    "orvex.FrameIterator",
    sizeof(IteratorObject),
    0,
#if PY_VERSION_HEX >= 0x030A0000
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
#else
    Py_TPFLAGS_DEFAULT,
#endif
    iteratorSlots,
};

} // namespace

void registerFrameIteratorType(py::module_& module)
{
    // Kept for the interpreter's life, as the module is.
    iteratorType = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&iteratorSpec));
    if (iteratorType == nullptr) {
        throw py::error_already_set();
    }
    module.add_object("FrameIterator", py::handle(reinterpret_cast<PyObject*>(iteratorType)));
}

py::object newFrameIterator(std::shared_ptr<Camera> camera, std::optional<long long> count, long timeoutMs)
{
    auto iteration = std::make_unique<Iteration>(std::move(camera), count, timeoutMs);
    auto* self = PyObject_New(IteratorObject, iteratorType);
    if (self == nullptr) {
        throw py::error_already_set();
    }
    self->iteration = iteration.release();
    return py::reinterpret_steal<py::object>(reinterpret_cast<PyObject*>(self));
}

} // namespace orvex::python
