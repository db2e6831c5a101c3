// The client's own texts: fallback descriptions and the names of the
// system objects it creates. Plain constants: any thread.
#pragma once

namespace Bcam::texts {

constexpr const char* kNoMessageFound = "<no message found>";
constexpr const char* kUnableToFormat = "<unable to format message>";
// The version inserts of a driver version mismatch.
constexpr const char* kVersionFormat = "%d.%d";

// The process-wide notification window: the system's message-only class.
constexpr const char* kNotificationWindowClass = "Message";
constexpr const char* kNotificationWindowName = "BcamMessageOnly";

} // namespace Bcam::texts
