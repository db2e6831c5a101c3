// Image-level stream faults, counted down as the camera makes its images.
#include <orvex/sim/StreamFaults.h>

namespace orvex::sim {

bool StreamFaults::takeLoss()
{
    if (toLose_ == 0)
        return false;
    --toLose_;
    ++lost_;
    return true;
}

int64_t StreamFaults::takeStall()
{
    const int64_t ns = stallNs_;
    stallNs_ = 0;
    return ns;
}

FrameInfoDamage StreamFaults::takeDamage()
{
    if (toDamage_ == 0)
        return FrameInfoDamage::none;
    --toDamage_;
    return damage_;
}

} // namespace orvex::sim
