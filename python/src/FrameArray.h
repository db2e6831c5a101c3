// Frame arrays: read-only NumPy arrays over an image sample's own pixels,
// whose base object keeps the sample (and so the pixels) alive.
#pragma once

#include <orvex/orvex.h>

#include <pybind11/pybind11.h>

#include <boost/shared_ptr.hpp>

#include <string>

namespace orvex::python {

// Creates the type of the arrays' base objects; once, at module import.
void registerFrameOwnerType();
// Set by the Python package: the ndarray subclass frames are made of.
void setFrameType(pybind11::object type);
// A frame array over the sample's pixels; `cameraName` names the camera in
// the refusal of a sample without usable pixels.
pybind11::object newFrameArray(boost::shared_ptr<ImageSample> sample, const std::string& cameraName);
// The metadata of the frame whose base object is `base`, as a tuple (index,
// sw_date, hw_date, shutter, gain, validity); None for any other object.
pybind11::object frameMetadata(const pybind11::handle& base);

} // namespace orvex::python
