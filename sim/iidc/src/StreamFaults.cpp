// Image-level stream faults, counted down as the camera makes its images.
#include <orvex/sim/StreamFaults.h>

namespace orvex::sim {

bool StreamFaults::takeLoss()
{
    if (_toLose == 0)
        return false;
    --_toLose;
    ++_lost;
    return true;
}

int64_t StreamFaults::takeStall()
{
    const int64_t ns = _stallNs;
    _stallNs = 0;
    return ns;
}

FrameInfoDamage StreamFaults::takeDamage()
{
    if (_toDamage == 0)
        return FrameInfoDamage::none;
    --_toDamage;
    return _damage;
}

} // namespace orvex::sim
