// libFuzzer target: the firmware version text comes from the camera, so any
// text must yield a field or a refusal, the field a number or the
// conversion's own error, and the number an A102f exposure offset or the
// refusal of an unsupported firmware, without undefined behaviour.
#include "bcam/DeviceIdentity.h"
#include "core/FirmwareVersion.h"

#include <boost/lexical_cast.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string field;
    if (!orvex::firmwareVersionField(text, field)) {
        return 0;
    }
    // The field lies inside the text, between two dots.
    if (field.size() >= text.size() || field.find('.') != std::string::npos) {
        __builtin_trap();
    }
    uint32_t firmware = 0;
    try {
        firmware = boost::lexical_cast<uint32_t>(field);
    } catch (const boost::bad_lexical_cast&) {
        return 0;
    }
    const std::optional<double> offset = orvex::bcam::a102fShutterOffset(firmware);
    if (offset.has_value() == (firmware >= 27 && firmware <= 29)) {
        __builtin_trap();
    }
    return 0;
}
