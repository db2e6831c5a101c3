// Python arguments checked against the library's ranges, with texts that
// name the argument: pybind11's own refusal would only list the signatures.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <limits>

namespace orvex::python {

constexpr long long kU32Max = 0xFFFFFFFFLL;
constexpr long long kI32Min = std::numeric_limits<int32_t>::min();
constexpr long long kI32Max = std::numeric_limits<int32_t>::max();

// An int (TypeError otherwise) that fits in a long long (ValueError).
long long toInteger(const pybind11::handle& value, const char* what);
// An int within [low, high] (ValueError naming the bounds otherwise).
long long inRange(const pybind11::handle& value, const char* what, long long low, long long high);
unsigned long toU32(const pybind11::handle& value, const char* what);
// An int or float that is finite.
double toFinite(const pybind11::handle& value, const char* what);

} // namespace orvex::python
