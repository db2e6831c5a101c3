// The binding's own refusals, and how every library error reaches Python:
// orvex.Error, orvex.FatalError (the library's two types, with their text)
// and orvex.TimeoutError.
#pragma once

#include <pybind11/pybind11.h>

#include <stdexcept>
#include <string>

namespace orvex::python {

// A refusal of the binding itself; raised as orvex.Error.
class BindingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// No frame within the caller's timeout; raised as orvex.TimeoutError.
class FrameTimeout : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Creates the exception classes in `module` and translates C++ errors.
void registerErrors(pybind11::module_& module);
// Inside a catch block: sets the Python error for the exception being
// handled, as a bound function's call would. For code that Python calls
// through a type's slots rather than through pybind11.
void setErrorFromCurrentException() noexcept;

} // namespace orvex::python
