// Whether a standard stream is a terminal: progress lines are drawn only there.
#pragma once

#include <cstdio>

namespace orvex::cli {

bool isTerminal(std::FILE* stream);

} // namespace orvex::cli
