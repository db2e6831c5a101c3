// Image-level faults of one camera's stream, beside the call faults of
// FaultTable: images lost on the way to the host, a stream that stalls for a
// while and then goes on, and images whose frame information arrives cut
// short or corrupt. Not thread-safe: the camera holds it under its lock.
#pragma once

#include <orvex/sim/Frame.h>

#include <cstdint>

namespace orvex::sim {

class StreamFaults {
public:
    // The next `count` images are made (the frame counter moves on) but
    // never reach the receiver.
    void loseNext(unsigned count) { _toLose += count; }
    // The next free-running image is late by `ns`: the stream produces
    // nothing meanwhile and goes on afterwards at its rate.
    void stallFor(int64_t ns) { _stallNs += ns > 0 ? ns : 0; }
    // The next `count` images carry damaged frame information.
    void damageNext(FrameInfoDamage damage, unsigned count)
    {
        _damage = damage;
        _toDamage = count;
    }

    // Asked once for each image made: true when it is to be lost.
    bool takeLoss();
    // The stall still to be served; the next call answers 0.
    int64_t takeStall();
    // The damage the image now being made carries.
    FrameInfoDamage takeDamage();

    uint64_t lostImages() const { return _lost; }

private:
    unsigned _toLose = 0;
    uint64_t _lost = 0;
    int64_t _stallNs = 0;
    FrameInfoDamage _damage = FrameInfoDamage::none;
    unsigned _toDamage = 0;
};

} // namespace orvex::sim
