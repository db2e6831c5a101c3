// Raw quadlet requests.
#include "bcam/client/BcamExtension.h"

namespace Bcam {

namespace req = orvex::bcam::request;

DWORD CBcamExtension::ReadQuadlet(DWORD offset, DWORD high)
{
    const uint32_t in[2] = {offset, high};
    uint32_t value = 0;
    Request(req::kReadQuadlet, in, &value, "CBcamExtension::ReadQuadlet()");
    return value;
}

void CBcamExtension::WriteQuadlet(DWORD offset, DWORD high, DWORD value)
{
    const uint32_t in[3] = {offset, high, value};
    Request(req::kWriteQuadlet, in, nullptr, "CBcamExtension::WriteQuadlet()");
}

} // namespace Bcam
