// PNG files in a build without libpng: none. `orvex grab --out` is refused
// before it starts.
#include "PngWriter.h"

#include <stdexcept>

namespace orvex::cli {

bool canWritePng()
{
    return false;
}

void writeGreyPng(const std::string& path, const GreyImage&, const PngText&)
{
    throw std::runtime_error("cannot write " + path +
                             ": this build cannot write PNG files (built without libpng)");
}

std::string encodeGreyPng(const GreyImage&, const PngText&)
{
    throw std::runtime_error("PNG encoding failed: this build cannot write PNG files (built without libpng)");
}

} // namespace orvex::cli
