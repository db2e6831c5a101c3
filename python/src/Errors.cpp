#include "Errors.h"

#include <orvex/orvex.h>

#include <typeinfo>

namespace orvex::python {
namespace py = pybind11;

namespace {

PyObject* newClass(py::module_& module, const char* name, PyObject* bases, const char* doc)
{
    const std::string qualified = std::string("orvex.") + name;
    PyObject* type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, bases, nullptr);
    if (type == nullptr) {
        throw py::error_already_set();
    }
    module.add_object(name, py::handle(type));
    return type;
}

} // namespace

void registerErrors(py::module_& module)
{
    // Created once and kept for the interpreter's life, as the module is.
    static PyObject* error = newClass(module, "Error", PyExc_Exception,
                                      "A refusal of the library or of the binding, with its text.");
    static PyObject* fatal = newClass(module, "FatalError", PyExc_Exception,
                                      "The library's fatal error (a hidden window's class lost).");
    static PyObject* timeout = [&] {
        py::tuple bases = py::make_tuple(py::handle(error), py::handle(PyExc_TimeoutError));
        return newClass(module, "TimeoutError", bases.ptr(), "No frame arrived within the timeout.");
    }();
    py::register_exception_translator([](std::exception_ptr thrown) {
        try {
            if (thrown) {
                std::rethrow_exception(thrown);
            }
        } catch (const ::FatalError& e) {
            PyErr_SetString(fatal, e.what());
        } catch (const ::Error& e) {
            PyErr_SetString(error, e.what());
        } catch (const BindingError& e) {
            PyErr_SetString(error, e.what());
        } catch (const FrameTimeout& e) {
            PyErr_SetString(timeout, e.what());
        } catch (const std::bad_cast&) {
            PyErr_SetString(error, "the video server belongs to the other stack");
        } catch (const std::invalid_argument& e) {
            PyErr_SetString(PyExc_ValueError, e.what());
        }
    });
}

} // namespace orvex::python
