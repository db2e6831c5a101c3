// A configuration ROM laid out the way IIDC cameras have it, so that a host
// walking root directory -> unit directory -> unit dependent directory finds
// the IIDC unit specifier id, the version and the command register base.
#include "ConfigRom.h"

#include <orvex/iidc/Crc16Xmodem.h>
#include <orvex/iidc/Registers.h>

#include <algorithm>
#include <string>

namespace orvex::sim {

using namespace orvex::iidc;

namespace {

// Leaves and directories are padded into a 1 KiB ROM: names longer than
// this are cut.
constexpr std::size_t kMaxNameBytes = 64;
constexpr uint32_t kCycleClockAccuracyPpm = 100;
constexpr uint32_t kNodeCapabilities = 0x0083C0; // IEEE 1212 node capabilities entry

// IEEE 1212's CRC-16 over quadlets, most significant byte first.
uint16_t romCrc(const std::vector<uint32_t>& rom, std::size_t first, std::size_t count)
{
    uint16_t crc = 0;
    for (std::size_t i = first; i < first + count; ++i) {
        const uint8_t bytes[4] = {uint8_t(rom[i] >> 24), uint8_t(rom[i] >> 16), uint8_t(rom[i] >> 8),
                                  uint8_t(rom[i])};
        crc = crc16Xmodem(bytes, sizeof bytes, crc);
    }
    return crc;
}

// Appends a block (directory or leaf) with its header; returns its index.
std::size_t appendBlock(std::vector<uint32_t>& rom, const std::vector<uint32_t>& body)
{
    const std::size_t at = rom.size();
    rom.push_back(static_cast<uint32_t>(body.size()) << 16);
    rom.insert(rom.end(), body.begin(), body.end());
    return at;
}

void sealBlock(std::vector<uint32_t>& rom, std::size_t at)
{
    const std::size_t length = rom[at] >> 16;
    rom[at] = (rom[at] & 0xFFFF0000u) | romCrc(rom, at + 1, length);
}

// Minimal ASCII textual descriptor: type and specifier 0, language 0.
std::vector<uint32_t> textLeaf(const std::string& text)
{
    const std::string name = text.substr(0, kMaxNameBytes);
    std::vector<uint32_t> body = {0, 0};
    for (std::size_t i = 0; i < name.size(); i += 4) {
        uint32_t q = 0;
        for (std::size_t b = 0; b < 4; ++b)
            q = (q << 8) | (i + b < name.size() ? static_cast<uint8_t>(name[i + b]) : 0u);
        body.push_back(q);
    }
    return body;
}

uint32_t speedCode(uint32_t speedMbps)
{
    return speedMbps >= 800 ? 3 : speedMbps >= 400 ? 2 : speedMbps >= 200 ? 1 : 0;
}

// Points entry `from` at block `to` (distance in quadlets).
void link(std::vector<uint32_t>& rom, std::size_t from, std::size_t to)
{
    rom[from] = romEntry(romKey(rom[from]), static_cast<uint32_t>(to - from));
}

} // namespace

std::vector<uint32_t> buildConfigRom(const CameraConfig& config)
{
    std::vector<uint32_t> rom;
    const uint32_t speed = speedCode(config.maxBusSpeed);
    const uint32_t maxRec = speed + 8; // 2^(max_rec + 1) bytes: the asynchronous payload, 512 at S100
    rom.push_back(kConfigRomInfoLength << 24);
    rom.push_back(kBusName1394);
    rom.push_back(kBusInfoIsochronous | (kCycleClockAccuracyPpm << kBusInfoCycleAccuracyShift) |
                  (maxRec << kBusInfoMaxRecShift) | speed);
    rom.push_back(config.vendorId << 8);
    rom.push_back(config.serialNumber);

    // Entries that point elsewhere get their distances once the targets exist.
    const std::size_t root =
        appendBlock(rom, {romEntry(kRomKeyModuleVendorId, config.vendorId),
                          romEntry(kRomKeyNodeCapabilities, kNodeCapabilities),
                          romEntry(kRomKeyVendorNameLeaf, 0), romEntry(kRomKeyUnitDirectory, 0)});
    const std::size_t unit = appendBlock(rom, {romEntry(kRomKeyUnitSpecifierId, kIidcUnitSpecifierId),
                                               romEntry(kRomKeyUnitSwVersion, kIidcUnitSwVersion),
                                               romEntry(kRomKeyUnitDependentDirectory, 0)});
    const std::size_t dependent =
        appendBlock(rom, {romEntry(kRomKeyCommandRegsBase, addressToQuadletOffset(kRegisterBase)),
                          romEntry(kRomKeyVendorNameLeaf, 0), romEntry(kRomKeyModelNameLeaf, 0),
                          romEntry(kRomKeyUnitSubSwVersion, kIidcSubVersion131)});
    const std::size_t vendor = appendBlock(rom, textLeaf(config.vendorName));
    const std::size_t model = appendBlock(rom, textLeaf(config.modelName));

    link(rom, root + 3, vendor);
    link(rom, root + 4, unit);
    link(rom, unit + 3, dependent);
    link(rom, dependent + 2, vendor);
    link(rom, dependent + 3, model);
    for (const std::size_t block : {root, unit, dependent, vendor, model})
        sealBlock(rom, block);

    // The bus information block's CRC covers the whole ROM.
    const uint32_t covered = static_cast<uint32_t>(std::min<std::size_t>(rom.size() - 1, 0xFF));
    rom[0] |= covered << 16;
    rom[0] |= romCrc(rom, 1, covered);
    return rom;
}

} // namespace orvex::sim
