// The arithmetic of the camera's user memory: its size from the description
// register, the refusal of ranges beyond it, and the whole quadlets that
// cover a byte range (block transfers move quadlets only). All 32-bit, as
// the camera counts. Pure functions: any thread.
#pragma once

#include <cstdint>

namespace orvex::flycap {

// 2^e1 * 2^e2 bytes from the description (bit 31 presence, e1 in bits 23..12,
// e2 in bits 11..0); 0 when absent or when either exponent is 0. Each shift
// count is taken modulo 32 and the result wraps in 32 bits.
uint32_t userMemorySize(uint32_t description);

// Throws OrvexError when offset + size (a 32-bit sum; an overflow counts as
// beyond) exceeds `space`: "<operation>: offset + data size exceeds memory
// range (<offset>+<size> > <space>)", or when `data` is null for a non-empty
// range.
void checkUserMemoryAccess(const char* operation, uint32_t offset, const void* data, uint32_t size,
                           uint32_t space);

// The quadlets a transfer of `size` bytes at `offset` moves.
struct UserMemoryRange {
    // `dataOffset`: the quadlet offset of the data area (register 0xF0F01244).
    UserMemoryRange(uint32_t dataOffset, uint32_t offset, uint32_t size);

    uint32_t leadingBytes; // bytes of the first quadlet before `offset`
    uint32_t blockAddress; // the quadlet-aligned address at or below `offset`
    uint32_t quadletCount; // size / 4, plus one for a misaligned start and one for a misaligned end
};

} // namespace orvex::flycap
