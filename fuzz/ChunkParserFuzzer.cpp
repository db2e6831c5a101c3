// libFuzzer target: the image chunk parser reads data that comes from a
// camera, so any byte string must parse without reading outside it, without
// undefined behaviour and without reporting a chunk it does not know.
#include "core/ChunkParser.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Chunks that only the parser can set: 0 to 4 and the CRC (6).
    constexpr unsigned long kKnownChunks = 0b1011111;
    for (bool crcEnabled : {false, true}) {
        orvex::ChunkParseState state;
        orvex::parseImageChunks(data, size, crcEnabled, state);
        if ((state.presence.to_ulong() & ~kKnownChunks) != 0 || (!crcEnabled && state.presence.test(6))) {
            __builtin_trap();
        }
    }
    return 0;
}
