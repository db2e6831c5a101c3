// Translations between the IIDC (DCAM) fixed video modes, addressed by
// format, mode and frame-rate index, and the library's resolution, pixel
// format and frame-rate vocabulary; validity checks for index triples; image
// sizes, frame sizes and display texts.
//
// Pure functions over constant tables: callable from any thread, no lock.
// Every lookup returns whether it found an answer and writes its
// out-parameters only when it did.
#pragma once

#include <orvex/Export.h>
#include <orvex/Types.h>

#include <string>

// Fixed formats 0 to 2, modes 0 to 5.
ORVEX_API bool getModeFromIdx(unsigned long format, unsigned long mode, IEEECameraResolution& resolution,
                              IEEECameraPixelFormat& pixelFormat);
ORVEX_API bool getIdxFromMode(IEEECameraResolution resolution, IEEECameraPixelFormat pixelFormat,
                              unsigned long& format, unsigned long& mode);

// Format 7 colour codes: 0 to 3 and 5.
ORVEX_API bool isColorCodeValid(unsigned long colorCode);
ORVEX_API bool getColorCodeFromIdx(unsigned long colorCode, IEEECameraPixelFormat& pixelFormat);
ORVEX_API bool getIdxFromColorCode(IEEECameraPixelFormat pixelFormat, unsigned long& colorCode);

// Frame-rate index i is the IEEECameraFPS value i. These two and
// isVideoCfgValid each accept their own set of rates in format 0.
ORVEX_API bool getFpsFromIdx(unsigned long format, unsigned long mode, unsigned long fpsIdx,
                             IEEECameraResolution& resolution, IEEECameraPixelFormat& pixelFormat,
                             IEEECameraFPS& fps);
ORVEX_API bool getIdxFromFps(IEEECameraResolution resolution, IEEECameraPixelFormat pixelFormat,
                             IEEECameraFPS fps, unsigned long& format, unsigned long& mode,
                             unsigned long& fpsIdx);

// Width and height in pixels; 1280x960 has no entry.
ORVEX_API bool getImgSz(IEEECameraResolution resolution, int& width, int& height);

// Display texts ("640x480", "Y mono", "7.5", "none" for -1).
ORVEX_API bool getStringFromResolution(IEEECameraResolution resolution, std::string& text);
ORVEX_API bool getStringFromPixelFormat(IEEECameraPixelFormat pixelFormat, std::string& text);
ORVEX_API bool getStringFromFrameRate(IEEECameraFPS fps, std::string& text);

// Formats 0, 1, 2 and 7; modes 0 to 5 in formats 0 to 2, mode 0 in format 7.
ORVEX_API bool isVideoFormatValid(unsigned long format);
ORVEX_API bool isVideoModeValid(unsigned long format, unsigned long mode);
// A fixed-format triple with an accepted frame rate; format 7 is never valid here.
ORVEX_API bool isVideoCfgValid(unsigned long format, unsigned long mode, unsigned long fpsIdx);

// Bytes per frame for the few pairs the tables know.
ORVEX_API bool getNbBytesPerFrame(IEEECameraResolution resolution, IEEECameraPixelFormat pixelFormat,
                                  unsigned long& nbBytes);
