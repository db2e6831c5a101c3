// Source unit names and refusal messages of the image sample and the images
// buffer. The code and its tests both read them from here.
#pragma once

namespace orvex::images {

constexpr const char* kSampleUnit = "ImageSample";
constexpr const char* kBufferUnit = "ImagesBuffer";

// ImageSample
constexpr const char* kUnknownPixelFormat = "unknown pixel format";
constexpr const char* kInvalidStrobeId = "invalid strobe id (must equal 0 or 1)";
constexpr const char* kTemperatureNotAvailable = "temperature is not available";
constexpr const char* kNoPixelDataToCopy = "no pixel data to copy";
constexpr const char* kSampleHasNoImage = "the image sample holds no image";

// ImagesBuffer
constexpr const char* kBufferMaxSizeZero = "buffer max size cannot equal 0";
constexpr const char* kMustLockBuffer = "you must lock buffer before invoking this method";
constexpr const char* kInvalidBufferPositionHead = "invalid buffer position idx (";
constexpr const char* kInvalidBufferPositionMiddle = " greater than ";
constexpr const char* kNoImageCaptured = "no image captured";
constexpr const char* kAlreadyCaptured = "one image has already been captured without having been released";
constexpr const char* kInvalidImageIdx = "invalid image idx";
constexpr const char* kObsoleteParamsNotKept = "obsolete params are not kept";
constexpr const char* kNoObsoleteParam = "no obsolete param available";
constexpr const char* kNullSample = "cannot add a null image sample";

// The line written to "Orvex.lostStream" for every image an images buffer drops.
constexpr const char* kLostLineHead = "image suppressed from imageBuffer 0x";
constexpr const char* kLostLineId = " (became obsolete): (id:";
constexpr const char* kLostLineHwDate = ", hwDate:";
constexpr const char* kLostLineShutter = ", shutter:";
constexpr const char* kLostLineGain = ", gain:";
constexpr const char* kLostLineTail = ")";

} // namespace orvex::images
