// The Python exception types, and the translation of the library's errors
// into them with the library's own text.
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

// Created by registerErrors and kept for the interpreter's life, as the
// module is.
PyObject* errorType = nullptr;
PyObject* fatalType = nullptr;
PyObject* timeoutType = nullptr;

// Sets the Python error for a known C++ error; rethrows any other.
void translateError(const std::exception_ptr& thrown)
{
    try {
        if (thrown) {
            std::rethrow_exception(thrown);
        }
    } catch (const ::FatalError& e) {
        PyErr_SetString(fatalType, e.what());
    } catch (const ::Error& e) {
        PyErr_SetString(errorType, e.what());
    } catch (const BindingError& e) {
        PyErr_SetString(errorType, e.what());
    } catch (const FrameTimeout& e) {
        PyErr_SetString(timeoutType, e.what());
    } catch (const std::bad_cast&) {
        PyErr_SetString(errorType, "the video server belongs to the other stack");
    } catch (const std::invalid_argument& e) {
        PyErr_SetString(PyExc_ValueError, e.what());
    }
}

} // namespace

void registerErrors(py::module_& module)
{
    errorType = newClass(module, "Error", PyExc_Exception,
                         "A refusal of the library or of the binding, with its text.");
    fatalType = newClass(module, "FatalError", PyExc_Exception,
                         "The library's fatal error (a hidden window's class lost).");
    py::tuple bases = py::make_tuple(py::handle(errorType), py::handle(PyExc_TimeoutError));
    timeoutType = newClass(module, "TimeoutError", bases.ptr(), "No frame arrived within the timeout.");
    // pybind11's translator type takes the pointer by value.
    // NOLINTNEXTLINE(performance-unnecessary-value-param)
    py::register_exception_translator([](std::exception_ptr thrown) { translateError(thrown); });
}

void setErrorFromCurrentException() noexcept
{
    try {
        throw;
    } catch (py::error_already_set& e) {
        e.restore();
    } catch (const py::builtin_exception& e) {
        e.set_error();
    } catch (...) {
        try {
            translateError(std::current_exception());
        } catch (const std::exception& e) {
            PyErr_SetString(PyExc_RuntimeError, e.what());
        } catch (...) {
            PyErr_SetString(PyExc_RuntimeError, "unknown C++ exception");
        }
    }
}

} // namespace orvex::python
