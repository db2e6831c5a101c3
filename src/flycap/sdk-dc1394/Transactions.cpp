// What the SDK functions over libdc1394 share: the live contexts by handle
// and the register transactions with their errors.
#include "Transactions.h"

#include <orvex/iidc/Registers.h>

#include <map>
#include <mutex>

namespace orvex::flycap::dc1394sdk {

using namespace orvex::iidc;

namespace {

// libdc1394 addresses registers from the CSR space's base (0xFFFFF0000000);
// an address below it is reached by wrapping the 64-bit offset.
constexpr uint64_t kCsrSpaceLow = 0xF0000000u;

// libdc1394 queues 8 packets per kernel descriptor whose payload length has
// 16 bits: 8 x 8192 wraps to 0, and the kernel would deliver no image data.
constexpr uint32_t kLargestCarriedPacket = 8188;

uint64_t csrOffset(uint32_t address)
{
    return uint64_t(address) - kCsrSpaceLow; // modulo 2^64: below the CSR space wraps back
}

struct Registry {
    std::mutex m;
    std::map<FlyCaptureContext, std::shared_ptr<Context>> contexts;
};

Registry& registry()
{
    static Registry r;
    return r;
}

uint32_t isoSpeedMbps(uint32_t channelSpeed)
{
    const uint32_t code = (channelSpeed & kIsoOperationMode1394b)
                              ? (channelSpeed & kIso1394bSpeedMask)
                              : ((channelSpeed >> kIsoSpeedShift) & kIsoSpeedMask);
    return 100u << code;
}

} // namespace

FlyCaptureContext registerContext()
{
    auto context = std::make_shared<Context>();
    FlyCaptureContext handle = context.get();
    std::lock_guard<std::mutex> lock(registry().m);
    registry().contexts.emplace(handle, std::move(context));
    return handle;
}

std::shared_ptr<Context> findContext(FlyCaptureContext handle)
{
    std::lock_guard<std::mutex> lock(registry().m);
    const auto it = registry().contexts.find(handle);
    return it == registry().contexts.end() ? nullptr : it->second;
}

bool unregisterContext(FlyCaptureContext handle)
{
    std::shared_ptr<Context> context;
    {
        std::lock_guard<std::mutex> lock(registry().m);
        const auto it = registry().contexts.find(handle);
        if (it == registry().contexts.end())
            return false;
        context = std::move(it->second);
        registry().contexts.erase(it);
    }
    context->destroy();
    return true;
}

FlyCaptureError readQuadlets(dc1394camera_t* camera, uint32_t address, uint32_t* values, uint32_t count)
{
    if (count == 0)
        return FLYCAPTURE_OK;
    return dc1394_get_registers(camera, csrOffset(address), values, count) == DC1394_SUCCESS
               ? FLYCAPTURE_OK
               : FLYCAPTURE_BUS_ERROR;
}

FlyCaptureError writeQuadlets(dc1394camera_t* camera, uint32_t address, const uint32_t* values,
                              uint32_t count)
{
    if (count == 0)
        return FLYCAPTURE_OK;
    return dc1394_set_registers(camera, csrOffset(address), values, count) == DC1394_SUCCESS
               ? FLYCAPTURE_OK
               : FLYCAPTURE_BUS_ERROR;
}

FlyCaptureError readFormat7(dc1394camera_t* camera, Format7& f7)
{
    f7 = Format7{};
    uint32_t formats = 0, modes = 0, csr = 0, channelSpeed = 0;
    FlyCaptureError e = readQuadlets(camera, kVideoFormatInquiry, &formats, 1);
    if (!e)
        e = readQuadlets(camera, videoModeInquiry(kFormat7), &modes, 1);
    if (!e)
        e = readQuadlets(camera, format7CsrInquiry(0), &csr, 1);
    if (!e)
        e = readQuadlets(camera, kIsoChannelSpeed, &channelSpeed, 1);
    if (e)
        return e;
    if (!(formats & formatBit(kFormat7)) || !(modes & formatBit(0)) || csr == 0)
        return FLYCAPTURE_OK;
    const uint32_t base = quadletOffsetToAddress(csr);
    uint32_t regs[kF7UnitPositionInquiry / 4 + 1] = {};
    if (const FlyCaptureError error = readQuadlets(camera, base, regs, sizeof regs / sizeof regs[0]))
        return error;
    f7.available = true;
    f7.maxWidth = highField(regs[kF7MaxImageSizeInquiry / 4]);
    f7.maxHeight = lowField(regs[kF7MaxImageSizeInquiry / 4]);
    f7.unitWidth = highField(regs[kF7UnitSizeInquiry / 4]);
    f7.unitHeight = lowField(regs[kF7UnitSizeInquiry / 4]);
    f7.unitLeft = highField(regs[kF7UnitPositionInquiry / 4]);
    f7.unitTop = lowField(regs[kF7UnitPositionInquiry / 4]);
    const uint32_t codings = regs[kF7ColorCodingInquiry / 4];
    f7.mono8 = codings & formatBit(kColorCodeMono8);
    f7.mono16 = codings & formatBit(kColorCodeMono16);
    f7.packetUnit = highField(regs[kF7PacketParameterInquiry / 4]);
    const uint32_t unit = f7.packetUnit ? f7.packetUnit : 1;
    // IIDC: the largest packet follows the iso speed (1024 bytes at S100,
    // doubling with each step).
    const uint32_t atSpeed = std::min(isoSpeedMbps(channelSpeed) / 100u * 1024u, kLargestCarriedPacket);
    f7.maxPacketAtSpeed = std::max(unit, atSpeed / unit * unit);
    return FLYCAPTURE_OK;
}

} // namespace orvex::flycap::dc1394sdk
