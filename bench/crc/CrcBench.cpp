// Prints the bandwidth of the frame checksum's paths beside memcpy's over the
// same buffers (a VGA mono image and a 5-megapixel one), so that the cost of
// checking a frame reads as a fraction of copying it.
//
//   crc_bench [seconds per cell]      default 0.3
#include <orvex/iidc/Crc16Xmodem.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

namespace {

namespace iidc = orvex::iidc;
using Clock = std::chrono::steady_clock;

volatile uint32_t g_sink; // keeps the results alive

double megabytesPerSecond(std::size_t bytes, double seconds, const std::function<uint32_t()>& work)
{
    const auto start = Clock::now();
    std::size_t rounds = 0;
    double elapsed = 0;
    do {
        g_sink = g_sink + work();
        ++rounds;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < seconds);
    return static_cast<double>(bytes) * static_cast<double>(rounds) / elapsed / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 0.3;
    const struct {
        const char* name;
        std::size_t bytes;
    } sizes[] = {{"640x480", 640 * 480}, {"2448x2048", 2448 * 2048}};

#if defined(ORVEX_CRC16_CLMUL)
    const char* path = iidc::detail::crc16HasWideCarrylessMultiply() ? "512-bit carry-less fold"
                       : iidc::detail::crc16HasCarrylessMultiply()   ? "128-bit carry-less fold"
                                                                     : "tables";
#else
    const char* path = "tables";
#endif
    std::printf("crc16Xmodem path: %s\n", path);
    std::printf("%-10s %12s %12s %12s %12s %10s\n", "image", "bytewise", "sliced", "crc16Xmodem", "memcpy",
                "crc/memcpy");
    std::mt19937 engine(7);
    for (const auto& size : sizes) {
        std::vector<uint8_t> source(size.bytes), target(size.bytes);
        for (auto& b : source) {
            b = static_cast<uint8_t>(engine());
        }
        const uint8_t* data = source.data();
        const std::size_t n = size.bytes;
        const double bytewise =
            megabytesPerSecond(n, seconds, [&] { return iidc::detail::crc16XmodemBytewise(data, n, 0); });
        const double sliced =
            megabytesPerSecond(n, seconds, [&] { return iidc::detail::crc16XmodemSliced(data, n, 0); });
        const double chosen = megabytesPerSecond(n, seconds, [&] { return iidc::crc16Xmodem(data, n); });
        const double copy = megabytesPerSecond(n, seconds, [&] {
            std::memcpy(target.data(), data, n);
            return static_cast<uint32_t>(target[n / 2]);
        });
        std::printf("%-10s %9.0f MB/s %7.0f MB/s %7.0f MB/s %7.0f MB/s %10.2f\n", size.name, bytewise, sliced,
                    chosen, copy, chosen / copy);
    }
    return 0;
}
