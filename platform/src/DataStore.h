// What each area of the data store empties for resetDataStore (internal).
#pragma once

namespace orvex::win32::detail {

void resetRegistry();
void resetFiles();
void resetMessageTables();
void resetWindowsDirectory();

} // namespace orvex::win32::detail
