// Frame indexes as a host sees them: 32-bit camera frame counters, compared
// modulo 2^32 so that a counter wrapping from 0xFFFFFFFF to 0 is no gap.
#pragma once

#include <cstdint>

namespace orvex::bench {

// `idx` is 1 to 2^31 - 1 frames after `than`, modulo 2^32.
inline bool isAhead(uint32_t idx, uint32_t than)
{
    const uint32_t ahead = idx - than;
    return ahead != 0 && ahead < 0x80000000u;
}

// The indexes one camera's run produced, taken in arrival order: how many,
// and how many were skipped between the first and the last.
class IndexTally {
public:
    // False (and nothing counted) for an index not ahead of the last one.
    bool take(uint32_t idx)
    {
        if (_count > 0) {
            if (!isAhead(idx, _last))
                return false;
            _skipped += (idx - _last) - 1u;
        }
        _last = idx;
        ++_count;
        return true;
    }

    uint64_t count() const { return _count; }
    uint64_t skipped() const { return _skipped; }
    uint32_t last() const { return _last; }

private:
    uint64_t _count = 0;
    uint64_t _skipped = 0;
    uint32_t _last = 0;
};

} // namespace orvex::bench
