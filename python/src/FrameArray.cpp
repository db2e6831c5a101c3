// Frame arrays over image samples. A frame is made on every wake of the
// acquisition loop, when little of it is in the processor's caches: the
// path touches as few objects and calls as possible, one allocation for the
// base object and none for the element types.
#include "FrameArray.h"

#include "Errors.h"
#include "Session.h"

#include <pybind11/numpy.h>

#include <new>
#include <utility>

namespace orvex::python {
namespace {

namespace py = pybind11;

// What a frame array's base object keeps: the sample, and whether its
// pixels are lent by the stack (counted so that the server is not replaced
// under them).
struct FrameKeep {
    boost::shared_ptr<ImageSample> sample;
    bool pixelsLent = false;
};

// The base object: the keep lives inside the Python object itself.
struct FrameOwnerObject {
    PyObject_HEAD FrameKeep keep;
};

// Kept for the interpreter's life: frames may die after the module's
// teardown at exit.
PyTypeObject* ownerType = nullptr;
py::object* frameType = nullptr;
// The element types, taken from NumPy once; each array steals a reference.
PyObject* bytePixels = nullptr;
PyObject* wordPixels = nullptr;

void deallocateOwner(PyObject* self)
{
    PyTypeObject* type = Py_TYPE(self);
    FrameKeep& keep = reinterpret_cast<FrameOwnerObject*>(self)->keep;
    if (keep.pixelsLent) {
        --Session::instance().lentFrames().count;
    }
    keep.~FrameKeep();
    type->tp_free(self);
    Py_DECREF(type);
}

PyType_Slot ownerSlots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(deallocateOwner)},
    {Py_tp_doc, const_cast<char*>("Keeps the image sample of a frame array alive.")},
    {0, nullptr},
};

PyType_Spec ownerSpec = {
    "orvex.FrameOwner",
    sizeof(FrameOwnerObject),
    0,
#if PY_VERSION_HEX >= 0x030A0000
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
#else
    Py_TPFLAGS_DEFAULT,
#endif
    ownerSlots,
};

// A new base object holding `sample`; counts lent pixels at once, so that
// its deallocation balances the count whatever happens next.
py::object newOwner(boost::shared_ptr<ImageSample> sample)
{
    auto* self = PyObject_New(FrameOwnerObject, ownerType);
    if (self == nullptr) {
        throw py::error_already_set();
    }
    const bool lent = !sample->deleteImgBufferOnDestruction();
    new (&self->keep) FrameKeep{std::move(sample), lent};
    if (lent) {
        ++Session::instance().lentFrames().count;
    }
    return py::reinterpret_steal<py::object>(reinterpret_cast<PyObject*>(self));
}

PyObject* elementType(int bytesPerPixel)
{
    auto& api = py::detail::npy_api::get();
    PyObject*& cached = bytesPerPixel == 1 ? bytePixels : wordPixels;
    if (cached == nullptr) {
        cached = api.PyArray_DescrFromType_(bytesPerPixel == 1 ? py::detail::npy_api::NPY_UBYTE_
                                                               : py::detail::npy_api::NPY_USHORT_);
        if (cached == nullptr) {
            throw py::error_already_set();
        }
    }
    Py_INCREF(cached);
    return cached;
}

} // namespace

void registerFrameOwnerType()
{
    ownerType = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&ownerSpec));
    if (ownerType == nullptr) {
        throw py::error_already_set();
    }
}

void setFrameType(py::object type)
{
    if (!PyType_Check(type.ptr()) ||
        !PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(type.ptr()),
                          reinterpret_cast<PyTypeObject*>(py::detail::npy_api::get().PyArray_Type_))) {
        throw py::type_error("the frame type must be a subclass of numpy.ndarray");
    }
    if (frameType == nullptr) {
        frameType = new py::object();
    }
    *frameType = std::move(type);
}

// The array carries no metadata of its own: frameMetadata() reads it from
// the sample when a script asks, so a frame nobody inspects costs no
// Python objects beyond the array and its base.
py::object newFrameArray(boost::shared_ptr<ImageSample> sample, const std::string& cameraName)
{
    const IImage* image = sample->getImage();
    if (image == nullptr || image->data() == nullptr) {
        throw BindingError("a frame of camera " + cameraName + " carries no pixels");
    }
    const ISize size = image->size();
    const int bytesPerPixel = image->bytesPerPixel();
    if (size.width <= 0 || size.height <= 0 || (bytesPerPixel != 1 && bytesPerPixel != 2)) {
        throw BindingError("a frame of camera " + cameraName + " has an unknown geometry or pixel format");
    }
    if (frameType == nullptr || !*frameType) {
        throw BindingError("the orvex package did not set its frame type");
    }
    void* pixels = image->data();
    py::object owner = newOwner(std::move(sample));
    Py_intptr_t dims[2] = {size.height, size.width};
    Py_intptr_t strides[2] = {static_cast<Py_intptr_t>(size.width) * bytesPerPixel, bytesPerPixel};
    auto& api = py::detail::npy_api::get();
    // Flags 0: read-only, since the pixels may be the stack's own buffer.
    PyObject* array =
        api.PyArray_NewFromDescr_(reinterpret_cast<PyTypeObject*>(frameType->ptr()),
                                  elementType(bytesPerPixel), 2, dims, strides, pixels, 0, nullptr);
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
    if (ownerType == nullptr || Py_TYPE(base.ptr()) != ownerType) {
        return py::none();
    }
    const ImageSample& sample = *reinterpret_cast<const FrameOwnerObject*>(base.ptr())->keep.sample;
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
