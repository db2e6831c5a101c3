// The user-memory arithmetic: size from the description register, ranges
// refused beyond the memory (32-bit sums included), and the quadlets that a
// transfer moves.
#include "flycap/UserMemoryRange.h"
#include "support/ErrorOf.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

using orvex::flycap::checkUserMemoryAccess;
using orvex::flycap::UserMemoryRange;
using orvex::flycap::userMemorySize;

namespace {

std::string refusal(uint32_t offset, uint32_t size, uint32_t space)
{
    const unsigned char byte = 0;
    return orvex::test::errorOf([&] { checkUserMemoryAccess("readUserMemory", offset, &byte, size, space); });
}

} // namespace

TEST(UserMemorySize, ComesFromTheTwoExponentsWhenPresent)
{
    EXPECT_EQ(65536u, userMemorySize(0x8000A006)); // 2^10 * 2^6
    EXPECT_EQ(16384u, userMemorySize(0x80009005));
    EXPECT_EQ(0u, userMemorySize(0x0000A006)) << "presence bit clear";
    EXPECT_EQ(0u, userMemorySize(0x80000006)) << "e1 = 0";
    EXPECT_EQ(0u, userMemorySize(0x8000A000)) << "e2 = 0";
}

TEST(UserMemorySize, ShiftsModulo32AndWrapsIn32Bits)
{
    // e1 = 33 shifts by 1; e2 = 31 then takes the 2 to bit 32, which wraps to 0.
    EXPECT_EQ(2u << 4, userMemorySize(0x80000000u | (33u << 12) | 4u));
    EXPECT_EQ(0u, userMemorySize(0x80000000u | (1u << 12) | 31u));
    EXPECT_EQ(0x80000000u, userMemorySize(0x80000000u | (16u << 12) | 15u));
}

TEST(UserMemoryAccess, RefusesRangesBeyondTheMemoryNamingOffsetSizeAndSpace)
{
    EXPECT_EQ("", refusal(0, 65536, 65536));
    EXPECT_EQ("", refusal(65536, 0, 65536));
    EXPECT_EQ("readUserMemory: offset + data size exceeds memory range (65535+2 > 65536)",
              refusal(65535, 2, 65536));
    EXPECT_EQ("readUserMemory: offset + data size exceeds memory range (0+1 > 0)", refusal(0, 1, 0));
}

TEST(UserMemoryAccess, RefusesASumThatOverflows32Bits)
{
    // 0xFFFFFFFF + 2 is 1 in 32 bits, well inside the memory: still refused.
    EXPECT_EQ("readUserMemory: offset + data size exceeds memory range (4294967295+2 > 65536)",
              refusal(0xFFFFFFFFu, 2, 65536));
}

TEST(UserMemoryAccess, RefusesAMissingBufferForBytes)
{
    EXPECT_THROW(checkUserMemoryAccess("writeUserMemory", 0, nullptr, 4, 64), OrvexError);
    EXPECT_NO_THROW(checkUserMemoryAccess("writeUserMemory", 0, nullptr, 0, 64));
}

TEST(UserMemoryRange, CoversTheBytesWithWholeQuadletsFromTheAlignedAddressBelow)
{
    struct Case {
        uint32_t offset, size, leading, address, count;
    };
    // Data area at quadlet offset 0x3C0000 (address 0xF0F00000).
    const Case cases[] = {
        {0, 4, 0, 0xF0F00000, 1}, {0, 5, 0, 0xF0F00000, 2}, {2, 4, 2, 0xF0F00000, 3},
        {1, 2, 1, 0xF0F00000, 2}, {1, 1, 1, 0xF0F00000, 2}, {4, 8, 0, 0xF0F00004, 2},
        {7, 1, 3, 0xF0F00004, 1}, {5, 3, 1, 0xF0F00004, 1}, {8, 0, 0, 0xF0F00008, 0},
    };
    for (const Case& c : cases) {
        const UserMemoryRange range(0x3C0000, c.offset, c.size);
        EXPECT_EQ(c.leading, range.leadingBytes) << c.offset << "+" << c.size;
        EXPECT_EQ(c.address, range.blockAddress) << c.offset << "+" << c.size;
        EXPECT_EQ(c.count, range.quadletCount) << c.offset << "+" << c.size;
        EXPECT_LE(range.leadingBytes + c.size, 4 * range.quadletCount) << "covers every byte";
    }
}
