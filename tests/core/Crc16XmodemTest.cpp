// The frame checksum's fast paths against a bit-at-a-time reference written
// from the polynomial alone, over every length a frame tail or a small image
// can have, at every alignment and from any running value.
#include <orvex/iidc/Crc16Xmodem.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

namespace iidc = orvex::iidc;

uint16_t bitwiseCrc(const uint8_t* data, std::size_t size, uint16_t crc)
{
    for (std::size_t i = 0; i < size; ++i) {
        crc = static_cast<uint16_t>(crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        }
    }
    return crc;
}

struct RandomBytes {
    std::mt19937 engine{20261207};
    std::vector<uint8_t> bytes = std::vector<uint8_t>(4096 + 16);
    RandomBytes()
    {
        for (auto& b : bytes) {
            b = static_cast<uint8_t>(engine());
        }
    }
};

TEST(Crc16Xmodem, EveryLengthUpTo4096MatchesTheBitwiseReference)
{
    RandomBytes r;
    for (std::size_t size = 0; size <= 4096; ++size) {
        const std::size_t offset = size % 16; // every alignment
        const uint16_t start = static_cast<uint16_t>(r.engine());
        const uint8_t* data = r.bytes.data() + offset;
        const uint16_t expected = bitwiseCrc(data, size, start);
        ASSERT_EQ(expected, iidc::crc16Xmodem(data, size, start)) << "size " << size;
        ASSERT_EQ(expected, iidc::detail::crc16XmodemSliced(data, size, start)) << "size " << size;
    }
}

#if defined(ORVEX_CRC16_CLMUL)
TEST(Crc16Xmodem, TheCarrylessFoldsMatchTheBitwiseReference)
{
    if (!iidc::detail::crc16HasCarrylessMultiply()) {
        GTEST_SKIP() << "no carry-less multiply on this processor";
    }
    RandomBytes r;
    for (std::size_t size = 128; size <= 4096; ++size) {
        const uint16_t start = static_cast<uint16_t>(r.engine());
        const uint8_t* data = r.bytes.data() + size % 16;
        ASSERT_EQ(bitwiseCrc(data, size, start), iidc::detail::crc16XmodemFolded(data, size, start))
            << "size " << size;
    }
    if (!iidc::detail::crc16HasWideCarrylessMultiply()) {
        GTEST_SKIP() << "no 512-bit carry-less multiply on this processor";
    }
    for (std::size_t size = 256; size <= 4096; ++size) {
        const uint16_t start = static_cast<uint16_t>(r.engine());
        const uint8_t* data = r.bytes.data() + size % 16;
        ASSERT_EQ(bitwiseCrc(data, size, start), iidc::detail::crc16XmodemWideFolded(data, size, start))
            << "size " << size;
    }
}
#endif

TEST(Crc16Xmodem, GivesTheCheckValueWholeAndInPieces)
{
    const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(0x31C3, iidc::crc16Xmodem(check, sizeof check));
    EXPECT_EQ(0, iidc::crc16Xmodem(check, 0));
    EXPECT_EQ(0x31C3, iidc::crc16Xmodem(check + 4, 5, iidc::crc16Xmodem(check, 4)));

    // A large image checked in two uneven runs gives what one run gives.
    RandomBytes r;
    const uint16_t whole = iidc::crc16Xmodem(r.bytes.data(), 4096);
    EXPECT_EQ(whole, iidc::crc16Xmodem(r.bytes.data() + 1000, 3096, iidc::crc16Xmodem(r.bytes.data(), 1000)));
    EXPECT_EQ(bitwiseCrc(r.bytes.data(), 4096, 0), whole);
}

} // namespace
