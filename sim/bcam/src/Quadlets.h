// Reading and writing request payloads as quadlets in the host's byte order.
// Pure helpers on caller-owned memory: any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace orvex::sim::bcam {

inline uint32_t quadletAt(const void* data, unsigned index)
{
    uint32_t value = 0;
    std::memcpy(&value, static_cast<const uint8_t*>(data) + std::size_t{4} * index, sizeof value);
    return value;
}

inline void putQuadlet(void* data, unsigned index, uint32_t value)
{
    std::memcpy(static_cast<uint8_t*>(data) + std::size_t{4} * index, &value, sizeof value);
}

} // namespace orvex::sim::bcam
