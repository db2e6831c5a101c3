// FlyCapCamera: raw registers, user memory, communication test and identity.
#include "flycap/FlyCapCameraPrivate.h"

#include "flycap/FlyCapCall.h"
#include "flycap/FlyCapDefs.h"
#include "flycap/FlyCapTexts.h"
#include "flycap/FlyCapTrace.h"
#include "flycap/JoinedText.h"
#include "flycap/UserMemoryRange.h"

#include <orvex/OrvexError.h>
#include <orvex/iidc/Registers.h>

#include <cstring>
#include <vector>

using namespace orvex::flycap;
namespace iidc = orvex::iidc;

namespace {

// The models this back end recognises, by their exact enumeration name.
struct KnownModel {
    const char* name;
    CameraModel model;
};
constexpr KnownModel kKnownModels[] = {
    {"Grasshopper GRAS-50S5M", camm_GRAS50S5M},
    {"Grasshopper GRAS-20S4M", camm_GRAS20S4M},
    {"Flea2 FL2G-50S5M", camm_FL2G50S5M},
};

// A 0-byte access may come without a buffer: nothing to copy then.
void copyBytes(unsigned char* target, const unsigned char* source, uint32_t size)
{
    if (size != 0) {
        std::memcpy(target, source, size);
    }
}

} // namespace

// --- registers -------------------------------------------------------------------

void FlyCapCamera::readRegister(unsigned long address, unsigned long& value) const
{
    FLYCAP_TRACE("FlyCapCamera::readRegister(nAddress=0x", std::hex, address,
                 ", ...); (portId=", _pState->_identity._nPortIdx, ")");
    const uint32_t offset = static_cast<uint32_t>(address) & iidc::kRegisterOffsetMask;
    uint32_t quadlet = 0;
    callRegisterAccess(
        FLYCAP_SITE(kCameraUnit),
        [&] { return flycaptureGetCameraRegister(_pState->_fcContext.get(), offset, &quadlet); },
        [&] { return joined(std::hex, "Error in FlyCapCamera::readRegister(0x", address, "): "); });
    value = quadlet;
}

void FlyCapCamera::writeRegister(unsigned long address, unsigned long value)
{
    FLYCAP_TRACE("FlyCapCamera::writeRegister(nAddress=0x", std::hex, address, ", nValue=0x", value,
                 "); (portId=", _pState->_identity._nPortIdx, ")");
    const uint32_t offset = static_cast<uint32_t>(address) & iidc::kRegisterOffsetMask;
    const uint32_t quadlet = static_cast<uint32_t>(value);
    callRegisterAccess(
        FLYCAP_SITE(kCameraUnit),
        [&] { return flycaptureSetCameraRegister(_pState->_fcContext.get(), offset, quadlet); },
        [&] {
            return joined(std::hex, "Error in FlyCapCamera::writeRegister(0x", address, ", 0x", value, "): ");
        });
}

bool FlyCapCamera::testCommunication() const
{
    FLYCAP_TRACE("FlyCapCamera::testCommunication(); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    uint32_t scratch = 0;
    return flycaptureGetCameraRegister(_pState->_fcContext.get(),
                                       iidc::kInitialize & iidc::kRegisterOffsetMask,
                                       &scratch) == FLYCAPTURE_OK;
}

// --- identity ----------------------------------------------------------------------

CamGUID FlyCapCamera::getUniqueId()
{
    FLYCAP_TRACE("FlyCapCamera::getUniqueId(); (portId=", _pState->_identity._nPortIdx, ")");
    return CamGUID(_pState->_identity._nSerialNumber, 0);
}

std::string FlyCapCamera::getVendorName()
{
    FLYCAP_TRACE("FlyCapCamera::getVendorName(); (portId=", _pState->_identity._nPortIdx, ")");
    return _pState->_identity._vendorName;
}

std::string FlyCapCamera::getModelName()
{
    FLYCAP_TRACE("FlyCapCamera::getModelName(); (portId=", _pState->_identity._nPortIdx, ")");
    return _pState->_identity._modelName;
}

CameraModel FlyCapCamera::getModel()
{
    FLYCAP_TRACE("FlyCapCamera::getModel(); (portId=", _pState->_identity._nPortIdx, ")");
    const std::string name = getModelName();
    for (const KnownModel& known : kKnownModels) {
        if (name == known.name) {
            return known.model;
        }
    }
    return camm_other;
}

bool FlyCapCamera::getCameraExtendedVersionInfo(std::string& info) const
{
    FLYCAP_TRACE("FlyCapCamera::getCameraExtendedVersionInfo(...); (portId=", _pState->_identity._nPortIdx,
                 ")");
    checkInitialized();
    unsigned long value = 0;
    readRegister(iidc::kFirmwareVersion, value);
    const uint32_t version = static_cast<uint32_t>(value);
    info = std::to_string(version >> 24) + "." + std::to_string((version >> 16) & 0xFF) + "." +
           std::to_string((version >> 12) & 0xF) + "." + std::to_string(version & 0xFFF);
    return true;
}

// --- user memory -------------------------------------------------------------------

unsigned int FlyCapCamera::getAvailableUserMemorySpace()
{
    FLYCAP_TRACE("FlyCapCamera::getAvailableUserMemorySpace(); (portId=", _pState->_identity._nPortIdx, ")");
    _pState->_identity._nUserMemSpace = 0;
    unsigned long description = 0;
    readRegister(iidc::kUserMemoryDescription, description);
    _pState->_identity._nUserMemSpace = userMemorySize(static_cast<uint32_t>(description));
    return _pState->_identity._nUserMemSpace;
}

void FlyCapCamera::readUserMemory(unsigned int offset, unsigned char* data, unsigned int size)
{
    FLYCAP_TRACE("FlyCapCamera::readUserMemory(nOffset=", offset, ", ..., nbBytes=", size,
                 "); (portId=", _pState->_identity._nPortIdx, ")");
    checkUserMemoryAccess("readUserMemory", offset, data, size, getAvailableUserMemorySpace());
    unsigned long dataOffset = 0;
    readRegister(iidc::kUserMemoryDataOffset, dataOffset);
    const UserMemoryRange range(static_cast<uint32_t>(dataOffset), offset, size);

    std::vector<uint32_t> regBlockData(range.quadletCount);
    checkSingle(FLYCAP_SITE(kCameraUnit),
                flycaptureReadRegisterBlock(_pState->_fcContext.get(), iidc::kAddressHigh, range.blockAddress,
                                            regBlockData.data(), range.quadletCount));
    copyBytes(data, reinterpret_cast<const unsigned char*>(regBlockData.data()) + range.leadingBytes, size);
}

void FlyCapCamera::writeUserMemory(unsigned int offset, const unsigned char* data, unsigned int size)
{
    FLYCAP_TRACE("FlyCapCamera::writeUserMemory(nOffset=", offset, ", ..., nbBytes=", size,
                 "); (portId=", _pState->_identity._nPortIdx, ")");
    checkUserMemoryAccess("writeUserMemory", offset, data, size, getAvailableUserMemorySpace());
    unsigned long dataOffset = 0;
    readRegister(iidc::kUserMemoryDataOffset, dataOffset);
    const UserMemoryRange range(static_cast<uint32_t>(dataOffset), offset, size);

    // Whole quadlets only: the bytes around the range are written back as read.
    std::vector<uint32_t> oldData(range.quadletCount);
    callRetried(
        FLYCAP_SITE(kCameraUnit), _pState->_identity._nSerialNumber, kCallReadUserMemory,
        [&] {
            return flycaptureReadRegisterBlock(_pState->_fcContext.get(), iidc::kAddressHigh,
                                               range.blockAddress, oldData.data(), range.quadletCount);
        },
        kBlockTransferAttempts);
    copyBytes(reinterpret_cast<unsigned char*>(oldData.data()) + range.leadingBytes, data, size);
    callRetried(
        FLYCAP_SITE(kCameraUnit), _pState->_identity._nSerialNumber, kCallWriteUserMemory,
        [&] {
            return flycaptureWriteRegisterBlock(_pState->_fcContext.get(), iidc::kAddressHigh,
                                                range.blockAddress, oldData.data(), range.quadletCount);
        },
        kBlockTransferAttempts);
}
