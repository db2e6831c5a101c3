// JPEG in a viewer built without libturbojpeg: none; the page gets PNG.
#include "view/Image.h"

#include <stdexcept>

namespace orvex::cli {

bool canEncodeJpeg()
{
    return false;
}

std::string encodeJpeg(const GreyImage&, int)
{
    throw std::runtime_error(
        "JPEG encoding failed: this build has no JPEG encoder (built without libturbojpeg)");
}

} // namespace orvex::cli
