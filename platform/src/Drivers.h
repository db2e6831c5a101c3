// The drivers a machine runs before any program starts. On Windows the
// system has them running; here the simulated drivers installed next to
// this library are started the first time a program reaches for devices or
// the system's data, so that a program finds them without any call a
// Windows program would not make.
#pragma once

namespace orvex::win32::detail {

// Loads each installed driver module and runs its entry point, once per
// process. A module that is not installed is skipped. Any thread; a driver
// entry that calls back into the subset does not start the drivers again.
void startInstalledDrivers();

} // namespace orvex::win32::detail
