// Camera-identity library: the 64-bit identifier of a 1394 camera.
//
// Two unsigned 32-bit words, the low word first. A plain value type: copy it
// freely, on any thread.
#pragma once

#include <cstdint>
#include <string>

// CMake defines orvex_camid_EXPORTS while it builds this library's DLL.
#if defined(_WIN32) && defined(orvex_camid_EXPORTS)
#define ORVEX_CAMID_API __declspec(dllexport)
#elif defined(_WIN32)
#define ORVEX_CAMID_API __declspec(dllimport)
#else
#define ORVEX_CAMID_API __attribute__((visibility("default")))
#endif

class ORVEX_CAMID_API CamGUID {
public:
    CamGUID() = default;
    CamGUID(uint32_t low, uint32_t high) : _nLow(low), _nHigh(high) {}
    ~CamGUID();

    uint32_t low() const { return _nLow; }
    uint32_t high() const { return _nHigh; }
    uint64_t value() const { return (static_cast<uint64_t>(_nHigh) << 32) | _nLow; }

    // Sixteen upper-case hexadecimal digits, high word first, without a
    // prefix, so that "0x" + text reads as the identifier's number.
    std::string to_string() const;
    // Accepts what to_string writes, with or without "0x", and any shorter
    // run of hexadecimal digits. Throws std::invalid_argument otherwise and
    // leaves the identifier unchanged.
    void from_string(const std::string& text);

    bool operator==(const CamGUID& other) const { return _nLow == other._nLow && _nHigh == other._nHigh; }
    bool operator!=(const CamGUID& other) const { return !(*this == other); }
    // High word first, then the low word, both unsigned.
    bool operator<(const CamGUID& other) const
    {
        return _nHigh != other._nHigh ? _nHigh < other._nHigh : _nLow < other._nLow;
    }

private:
    uint32_t _nLow = 0;
    uint32_t _nHigh = 0;
};
