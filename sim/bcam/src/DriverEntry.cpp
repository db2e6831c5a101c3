// What the system runs when it starts the driver: the platform calls it once
// per process, before the first program's request reaches any device.
#include <orvex/sim/BcamDriver.h>

extern "C" __attribute__((visibility("default"))) void OrvexDriverEntry()
{
    using namespace orvex::sim::bcam;
    // A machine whose registry already names a driver file keeps it.
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceKey, 0, KEY_READ, &key) == ERROR_SUCCESS)
        RegCloseKey(key);
    else
        installDriverFiles();
    installDriver();
}
