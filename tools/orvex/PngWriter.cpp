// The tool's PNG encoder over libpng: into memory, and from there to a
// file written whole or not at all.
#include "PngWriter.h"

#include "WholeFile.h"

#include <png.h>

#include <csetjmp>
#include <stdexcept>
#include <string>

namespace orvex::cli {

namespace {

void ignorePngWarning(png_structp, png_const_charp) {}

// A failure ends the encoding; the caller words it: libpng's own text
// adds nothing.
[[noreturn]] void failPng(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

class PngWriteStruct {
public:
    PngWriteStruct()
        : _png(png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, &failPng, &ignorePngWarning))
    {
        if (_png == nullptr)
            throw std::runtime_error("PNG: out of memory");
        _info = png_create_info_struct(_png);
        if (_info == nullptr) {
            png_destroy_write_struct(&_png, nullptr);
            throw std::runtime_error("PNG: out of memory");
        }
    }
    ~PngWriteStruct() { png_destroy_write_struct(&_png, &_info); }
    PngWriteStruct(const PngWriteStruct&) = delete;
    PngWriteStruct& operator=(const PngWriteStruct&) = delete;

    png_structp png() const { return _png; }
    png_infop info() const { return _info; }

private:
    png_structp _png = nullptr;
    png_infop _info = nullptr;
};

bool isWritable(const GreyImage& image)
{
    return image.pixels != nullptr && image.width != 0 && image.height != 0 &&
           (image.bytesPerPixel == 1 || image.bytesPerPixel == 2);
}

// The text chunks point into `text`, which outlives them.
std::vector<png_text> chunksOf(const PngText& text)
{
    std::vector<png_text> chunks(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        chunks[i].compression = PNG_TEXT_COMPRESSION_NONE;
        chunks[i].key = const_cast<png_charp>(text[i].first.c_str());
        chunks[i].text = const_cast<png_charp>(text[i].second.c_str());
    }
    return chunks;
}

void appendToString(png_structp png, png_bytep data, png_size_t length)
{
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}

void flushNothing(png_structp) {}

// Everything libpng does once its output is set, in a function with plain
// locals only: libpng reports a failure (a full disk) by jumping back to the
// setjmp here.
bool writePng(png_structp png, png_infop info, const GreyImage& image, std::vector<png_text>& chunks)
{
    if (setjmp(png_jmpbuf(png)) != 0)
        return false;
    png_set_IHDR(png, info, image.width, image.height, image.bytesPerPixel == 2 ? 16 : 8, PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Fast rather than small: a grab writes many frames, the viewer many more.
    png_set_compression_level(png, 1);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    if (!chunks.empty())
        png_set_text(png, info, chunks.data(), static_cast<int>(chunks.size()));
    png_write_info(png, info);
    // PNG samples are big-endian; the camera's 16-bit pixels are not.
    if (image.bytesPerPixel == 2)
        png_set_swap(png);
    const size_t rowBytes = size_t{image.width} * image.bytesPerPixel;
    for (uint32_t row = 0; row < image.height; ++row)
        png_write_row(png, image.pixels + row * rowBytes);
    png_write_end(png, info);
    return true;
}

} // namespace

bool canWritePng()
{
    return true;
}

void writeGreyPng(const std::string& path, const GreyImage& image, const PngText& text)
{
    if (!isWritable(image))
        throw std::runtime_error("PNG: nothing to write to " + path);
    if (const auto failure = writeWholeFile(path, encodeGreyPng(image, text)))
        throw std::runtime_error("cannot write " + path + ": " + *failure);
}

std::string encodeGreyPng(const GreyImage& image, const PngText& text)
{
    if (!isWritable(image))
        throw std::runtime_error("PNG encoding failed: empty image");
    std::string out;
    out.reserve(size_t{image.width} * image.height * image.bytesPerPixel / 2 + 1024);
    std::vector<png_text> chunks = chunksOf(text);
    PngWriteStruct writer;
    png_set_write_fn(writer.png(), &out, &appendToString, &flushNothing);
    if (!writePng(writer.png(), writer.info(), image, chunks))
        throw std::runtime_error("PNG encoding failed");
    return out;
}

} // namespace orvex::cli
