// CRC-16/XMODEM: polynomial 0x1021, initial value 0, most significant bit
// first, no reflection, no final inversion ("123456789" gives 0x31C3).
//
// The checksum a camera with CRCChecksum on puts in the last quadlet of each
// image. Header-only so that the camera side and the library compute it from
// one definition. It runs over every pixel of every checked image, so it
// folds 128 or 256 bytes at a time with carry-less multiplies, 128- or
// 512-bit, where the processor has them (chosen at run time), and takes 8
// bytes a step from tables elsewhere. Pure functions: any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ORVEX_CRC16_CLMUL 1
#endif

namespace orvex {
namespace iidc {

namespace detail {

constexpr uint16_t kCrc16Polynomial = 0x1021;

// kCrc16Tables[k][b]: the checksum of byte b followed by k zero bytes, so
// that eight bytes are checked with eight look-ups.
using Crc16Tables = std::array<std::array<uint16_t, 256>, 8>;
constexpr Crc16Tables makeCrc16XmodemTables()
{
    Crc16Tables tables{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        uint16_t crc = static_cast<uint16_t>(byte << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ kCrc16Polynomial : crc << 1);
        }
        tables[0][byte] = crc;
    }
    for (std::size_t k = 1; k < tables.size(); ++k) {
        for (unsigned byte = 0; byte < 256; ++byte) {
            const uint16_t previous = tables[k - 1][byte];
            tables[k][byte] = static_cast<uint16_t>((previous << 8) ^ tables[0][previous >> 8]);
        }
    }
    return tables;
}
inline constexpr Crc16Tables kCrc16XmodemTables = makeCrc16XmodemTables();

// One byte a step: the reference the faster paths are checked against.
inline uint16_t crc16XmodemBytewise(const uint8_t* data, std::size_t size, uint16_t crc)
{
    for (std::size_t i = 0; i < size; ++i) {
        crc = static_cast<uint16_t>((crc << 8) ^ kCrc16XmodemTables[0][((crc >> 8) ^ data[i]) & 0xFF]);
    }
    return crc;
}

// Eight bytes a step. The running checksum enters as the first two bytes of
// each step, which is what shifting it through them one at a time amounts to.
inline uint16_t crc16XmodemSliced(const uint8_t* data, std::size_t size, uint16_t crc)
{
    const auto& t = kCrc16XmodemTables;
    for (; size >= 8; data += 8, size -= 8) {
        crc = static_cast<uint16_t>(t[7][data[0] ^ (crc >> 8)] ^ t[6][data[1] ^ (crc & 0xFF)] ^
                                    t[5][data[2]] ^ t[4][data[3]] ^ t[3][data[4]] ^ t[2][data[5]] ^
                                    t[1][data[6]] ^ t[0][data[7]]);
    }
    return crc16XmodemBytewise(data, size, crc);
}

#if defined(ORVEX_CRC16_CLMUL)

// x^n mod the polynomial: the factor that moves a remainder n bits on.
constexpr uint64_t crc16PowerOfX(unsigned n)
{
    uint32_t r = 1;
    for (unsigned i = 0; i < n; ++i) {
        r <<= 1;
        if (r & 0x10000) {
            r ^= 0x10000u | kCrc16Polynomial;
        }
    }
    return r;
}

// A block of 16 bytes as one 128-bit polynomial, its first byte's top bit
// the highest coefficient.
__attribute__((target("pclmul,ssse3"))) inline __m128i crc16LoadBlock(const uint8_t* data)
{
    const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data)), reverse);
}

// lane * x^(distance) reduced to 80 bits: its high half moved by
// distance + 64, its low half by distance.
__attribute__((target("pclmul,ssse3"))) inline __m128i crc16Fold(__m128i lane, __m128i factors)
{
    return _mm_xor_si128(_mm_clmulepi64_si128(lane, factors, 0x01),
                         _mm_clmulepi64_si128(lane, factors, 0x10));
}

// Folds the last whole blocks into `folded` and checks the bytes after
// them. The folded polynomial is congruent to everything read so far: its
// checksum from 0 is the running checksum for what follows.
__attribute__((target("pclmul,ssse3"))) inline uint16_t crc16FinishFolded(__m128i folded, const uint8_t* data,
                                                                          std::size_t size)
{
    const __m128i by128 =
        _mm_set_epi64x(static_cast<int64_t>(crc16PowerOfX(128)), static_cast<int64_t>(crc16PowerOfX(192)));
    for (; size >= 16; data += 16, size -= 16) {
        folded = _mm_xor_si128(crc16Fold(folded, by128), crc16LoadBlock(data));
    }
    uint8_t bytes[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes),
                     crc16LoadBlock(reinterpret_cast<const uint8_t*>(&folded)));
    return crc16XmodemSliced(data, size, crc16XmodemSliced(bytes, sizeof bytes, 0));
}

// Eight lanes of 16 bytes folded forward 128 bytes at a time, then into
// one lane; what is left of the polynomial goes through the tables. Needs
// at least 128 bytes. Eight independent fold chains keep the multiplier
// busy through its latency; the lanes are named values, not an array, so
// that they stay in registers (an array put each chain through a
// store-to-load forward per step and cost half the speed).
__attribute__((target("pclmul,ssse3"))) inline uint16_t crc16XmodemFolded(const uint8_t* data,
                                                                          std::size_t size, uint16_t crc)
{
    const __m128i by1024 =
        _mm_set_epi64x(static_cast<int64_t>(crc16PowerOfX(1024)), static_cast<int64_t>(crc16PowerOfX(1088)));
    const __m128i by128 =
        _mm_set_epi64x(static_cast<int64_t>(crc16PowerOfX(128)), static_cast<int64_t>(crc16PowerOfX(192)));
    // The running checksum enters as the message's first 16 bits.
    __m128i lane0 =
        _mm_xor_si128(crc16LoadBlock(data), _mm_set_epi64x(static_cast<int64_t>(uint64_t{crc} << 48), 0));
    __m128i lane1 = crc16LoadBlock(data + 16);
    __m128i lane2 = crc16LoadBlock(data + 32);
    __m128i lane3 = crc16LoadBlock(data + 48);
    __m128i lane4 = crc16LoadBlock(data + 64);
    __m128i lane5 = crc16LoadBlock(data + 80);
    __m128i lane6 = crc16LoadBlock(data + 96);
    __m128i lane7 = crc16LoadBlock(data + 112);
    data += 128;
    size -= 128;
    for (; size >= 128; data += 128, size -= 128) {
        lane0 = _mm_xor_si128(crc16Fold(lane0, by1024), crc16LoadBlock(data));
        lane1 = _mm_xor_si128(crc16Fold(lane1, by1024), crc16LoadBlock(data + 16));
        lane2 = _mm_xor_si128(crc16Fold(lane2, by1024), crc16LoadBlock(data + 32));
        lane3 = _mm_xor_si128(crc16Fold(lane3, by1024), crc16LoadBlock(data + 48));
        lane4 = _mm_xor_si128(crc16Fold(lane4, by1024), crc16LoadBlock(data + 64));
        lane5 = _mm_xor_si128(crc16Fold(lane5, by1024), crc16LoadBlock(data + 80));
        lane6 = _mm_xor_si128(crc16Fold(lane6, by1024), crc16LoadBlock(data + 96));
        lane7 = _mm_xor_si128(crc16Fold(lane7, by1024), crc16LoadBlock(data + 112));
    }
    __m128i folded = lane0;
    for (__m128i next : {lane1, lane2, lane3, lane4, lane5, lane6, lane7}) {
        folded = _mm_xor_si128(crc16Fold(folded, by128), next);
    }
    return crc16FinishFolded(folded, data, size);
}

inline bool crc16HasCarrylessMultiply()
{
    static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3");
    return has;
}

#define ORVEX_CRC16_WIDE_TARGET __attribute__((target("avx512f,avx512bw,vpclmulqdq,pclmul,ssse3")))

// Four blocks of 16 bytes, each as crc16LoadBlock reads it.
ORVEX_CRC16_WIDE_TARGET inline __m512i crc16LoadWide(const uint8_t* data)
{
    // The zero-masked broadcasts and extracts here: the plain ones start
    // from an undefined register, which GCC 12 warns of as uninitialised.
    const __m512i reverse = _mm512_maskz_broadcast_i32x4(
        0xFFFF, _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
    return _mm512_shuffle_epi8(_mm512_loadu_si512(data), reverse);
}

// crc16Fold on each of the four lanes, plus `next`.
ORVEX_CRC16_WIDE_TARGET inline __m512i crc16FoldWide(__m512i lanes, __m512i factors, __m512i next)
{
    // 0x96: the exclusive or of all three operands.
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(lanes, factors, 0x01),
                                     _mm512_clmulepi64_epi128(lanes, factors, 0x10), next, 0x96);
}

ORVEX_CRC16_WIDE_TARGET inline __m512i crc16WideFactors(unsigned distance)
{
    return _mm512_maskz_broadcast_i32x4(0xFFFF,
                                        _mm_set_epi64x(static_cast<int64_t>(crc16PowerOfX(distance)),
                                                       static_cast<int64_t>(crc16PowerOfX(distance + 64))));
}

// The same fold, four 128-bit lanes to a register: four registers of 64
// bytes folded forward 256 bytes at a time, then into one register, whose
// four lanes go on as the narrow fold's. Needs at least 256 bytes.
ORVEX_CRC16_WIDE_TARGET inline uint16_t crc16XmodemWideFolded(const uint8_t* data, std::size_t size,
                                                              uint16_t crc)
{
    const __m512i by2048 = crc16WideFactors(2048);
    const __m512i by512 = crc16WideFactors(512);
    // The running checksum enters as the message's first 16 bits.
    __m512i lane0 = _mm512_xor_si512(
        crc16LoadWide(data),
        _mm512_maskz_broadcast_i32x4(0x000F, _mm_set_epi64x(static_cast<int64_t>(uint64_t{crc} << 48), 0)));
    __m512i lane1 = crc16LoadWide(data + 64);
    __m512i lane2 = crc16LoadWide(data + 128);
    __m512i lane3 = crc16LoadWide(data + 192);
    data += 256;
    size -= 256;
    for (; size >= 256; data += 256, size -= 256) {
        lane0 = crc16FoldWide(lane0, by2048, crc16LoadWide(data));
        lane1 = crc16FoldWide(lane1, by2048, crc16LoadWide(data + 64));
        lane2 = crc16FoldWide(lane2, by2048, crc16LoadWide(data + 128));
        lane3 = crc16FoldWide(lane3, by2048, crc16LoadWide(data + 192));
    }
    __m512i wide = crc16FoldWide(lane0, by512, lane1);
    wide = crc16FoldWide(wide, by512, lane2);
    wide = crc16FoldWide(wide, by512, lane3);
    for (; size >= 64; data += 64, size -= 64) {
        wide = crc16FoldWide(wide, by512, crc16LoadWide(data));
    }
    const __m128i by128 =
        _mm_set_epi64x(static_cast<int64_t>(crc16PowerOfX(128)), static_cast<int64_t>(crc16PowerOfX(192)));
    __m128i folded = _mm512_maskz_extracti32x4_epi32(0xF, wide, 0);
    folded = _mm_xor_si128(crc16Fold(folded, by128), _mm512_maskz_extracti32x4_epi32(0xF, wide, 1));
    folded = _mm_xor_si128(crc16Fold(folded, by128), _mm512_maskz_extracti32x4_epi32(0xF, wide, 2));
    folded = _mm_xor_si128(crc16Fold(folded, by128), _mm512_maskz_extracti32x4_epi32(0xF, wide, 3));
    return crc16FinishFolded(folded, data, size);
}

inline bool crc16HasWideCarrylessMultiply()
{
    static const bool has = __builtin_cpu_supports("vpclmulqdq") && __builtin_cpu_supports("avx512f") &&
                            __builtin_cpu_supports("avx512bw");
    return has;
}

#endif

} // namespace detail

// Continues a running checksum over `size` more bytes; start with crc = 0.
inline uint16_t crc16Xmodem(const uint8_t* data, std::size_t size, uint16_t crc = 0)
{
#if defined(ORVEX_CRC16_CLMUL)
    // Below a few blocks the set-up costs more than the tables.
    if (size >= 256 && detail::crc16HasWideCarrylessMultiply()) {
        return detail::crc16XmodemWideFolded(data, size, crc);
    }
    if (size >= 256 && detail::crc16HasCarrylessMultiply()) {
        return detail::crc16XmodemFolded(data, size, crc);
    }
#endif
    return detail::crc16XmodemSliced(data, size, crc);
}

} // namespace iidc
} // namespace orvex
