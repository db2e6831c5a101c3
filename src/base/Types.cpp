// The shared vocabulary's texts: each enumeration value's name.
#include <orvex/Types.h>

std::string to_string(CameraTriggerMode mode)
{
    switch (mode) {
    case camtm_exposureTimed:
        return "camtm_exposureTimed";
    case camtm_triggerWidth:
        return "camtm_triggerWidth";
    }
    return "unknown";
}

std::string smartFeatureLoggedName(SmartFeatureEnum feature)
{
    static const char* const kNames[] = {
        "ExtendedDataStream",  "FrameCounter", "CycleTimeStamp", "", "DCAM", "ShutterTimeBase", "CRCChecksum",
        "ExtendedVersionInfo", "LookupTable",  "GPIOStatus",
    };
    const int index = static_cast<int>(feature);
    if (index < 0 || index >= static_cast<int>(sizeof kNames / sizeof kNames[0]))
        return "";
    return kNames[index];
}
