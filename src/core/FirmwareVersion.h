// The firmware number in a camera's extended version text: the field
// between the second and third dots after the first " v" ("... v1.2.30.4"
// gives "30"). Pure; any thread.
#pragma once

#include <string>

namespace orvex {

// False when the text has no " v" or fewer than three dots after it.
bool firmwareVersionField(const std::string& versionText, std::string& field);

} // namespace orvex
