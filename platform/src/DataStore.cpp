// The data store as one: emptied area by area.
#include <orvex/win32_driver.h>

#include "DataStore.h"

namespace orvex::win32::driver {

void resetDataStore()
{
    using namespace orvex::win32::detail;
    resetRegistry();
    resetFiles();
    resetMessageTables();
    resetWindowsDirectory();
}

} // namespace orvex::win32::driver
