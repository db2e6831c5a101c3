// Writes the seed corpus of the chunk parser fuzzer: valid chunk trailers as
// a camera lays them out, one file each, into the folder given as argument.
#include "core/support/ChunkImage.h"

#include <cstdio>
#include <string>

namespace {

void write(const std::string& folder, const char* name, const orvex::test::ChunkImage& image)
{
    const std::string path = folder + "/" + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(image.data(), 1, image.size(), file) != image.size()) {
        std::perror(path.c_str());
    }
    if (file != nullptr) {
        std::fclose(file);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    using orvex::test::ChunkImage;
    const std::string folder = argv[1];
    const uint32_t cycleTime = (17u << 25) | (2345u << 12) | 99u;
    write(folder, "extended-only", ChunkImage(16).extendedDataStream());
    write(folder, "frame-counter", ChunkImage(16).extendedDataStream().frameCounter(123456));
    write(folder, "cycle-time", ChunkImage(16).extendedDataStream().cycleTime(cycleTime));
    write(folder, "grey-levels", ChunkImage(16).extendedDataStream().greyLevels(4, 251, 128));
    write(folder, "dcam", ChunkImage(16).extendedDataStream().dcam(0x80000123, 0x80000456));
    write(folder, "dcam-absent", ChunkImage(16).extendedDataStream().dcam(0x123, 0x456));
    write(folder, "all-with-crc",
          ChunkImage(32)
              .extendedDataStream()
              .greyLevels(1, 2, 3)
              .dcam(0x80000010, 0x80000020)
              .cycleTime(cycleTime)
              .frameCounter(7)
              .crc());
    write(folder, "crc-only", ChunkImage(24).crc());
    write(folder, "unaligned", ChunkImage(13).extendedDataStream().frameCounter(1).crc());
    return 0;
}
