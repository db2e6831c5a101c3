// Grey images as PNG, through libpng: 8-bit or 16-bit grey, with text
// chunks (key, value) that any viewer shows as the image's properties; to a
// file (`orvex grab --out`) or into memory (the viewer's frames). The one
// PNG encoder of the tool. Plain functions: any thread.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace orvex::cli {

struct GreyImage {
    const uint8_t* pixels = nullptr; // rows of width * bytesPerPixel bytes
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bytesPerPixel = 1; // 1, or 2 with little-endian samples as the camera delivers them
};

using PngText = std::vector<std::pair<std::string, std::string>>;

// False in a build without libpng, where the functions below always throw.
bool canWritePng();

// Writes `image` to `path`. Throws std::runtime_error with the reason when
// the file cannot be written.
void writeGreyPng(const std::string& path, const GreyImage& image, const PngText& text);

// The bytes of `image` as a PNG file. Throws std::runtime_error when the
// image is empty or libpng fails.
std::string encodeGreyPng(const GreyImage& image, const PngText& text = {});

} // namespace orvex::cli
