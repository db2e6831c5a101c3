// CRC-16/XMODEM: polynomial 0x1021, initial value 0, most significant bit
// first, no reflection, no final inversion ("123456789" gives 0x31C3).
//
// The checksum a camera with CRCChecksum on puts in the last quadlet of each
// image. Header-only so that the camera side and the library compute it from
// one definition. Pure function: any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace orvex {
namespace iidc {

namespace detail {
constexpr std::array<uint16_t, 256> makeCrc16XmodemTable()
{
    std::array<uint16_t, 256> table{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        uint16_t crc = static_cast<uint16_t>(byte << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        }
        table[byte] = crc;
    }
    return table;
}
inline constexpr std::array<uint16_t, 256> kCrc16XmodemTable = makeCrc16XmodemTable();
} // namespace detail

// Continues a running checksum over `size` more bytes; start with crc = 0.
inline uint16_t crc16Xmodem(const uint8_t* data, std::size_t size, uint16_t crc = 0)
{
    for (std::size_t i = 0; i < size; ++i) {
        crc = static_cast<uint16_t>((crc << 8) ^ detail::kCrc16XmodemTable[((crc >> 8) ^ data[i]) & 0xFF]);
    }
    return crc;
}

} // namespace iidc
} // namespace orvex
