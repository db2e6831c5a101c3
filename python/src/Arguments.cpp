// Checks of Python arguments against the library's ranges, with the texts
// of their refusals.
#include "Arguments.h"

#include <cmath>
#include <string>

namespace orvex::python {
namespace py = pybind11;

long long toInteger(const py::handle& value, const char* what)
{
    if (!PyLong_Check(value.ptr())) {
        throw py::type_error(std::string(what) + " must be an int, not " +
                             std::string(py::str(value.get_type().attr("__name__"))));
    }
    int overflow = 0;
    const long long number = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
    if (overflow != 0) {
        throw py::value_error(std::string(what) + " is out of range");
    }
    return number;
}

long long inRange(const py::handle& value, const char* what, long long low, long long high)
{
    const long long number = toInteger(value, what);
    if (number < low || number > high) {
        throw py::value_error(std::string(what) + " must be between " + std::to_string(low) + " and " +
                              std::to_string(high) + ", not " + std::to_string(number));
    }
    return number;
}

unsigned long toU32(const py::handle& value, const char* what)
{
    return static_cast<unsigned long>(inRange(value, what, 0, kU32Max));
}

double toFinite(const py::handle& value, const char* what)
{
    if (!PyFloat_Check(value.ptr()) && !PyLong_Check(value.ptr())) {
        throw py::type_error(std::string(what) + " must be a number");
    }
    const double number = py::cast<double>(value);
    if (!std::isfinite(number)) {
        throw py::value_error(std::string(what) + " must be finite");
    }
    return number;
}

} // namespace orvex::python
