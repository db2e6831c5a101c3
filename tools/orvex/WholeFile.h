// Files the tool writes whole or not at all: the images of `grab --out` and
// the plot of `sync --plot`. Plain functions: any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvex::cli {

// Writes `bytes` to `path`: beside it first, then renamed over it once
// complete, so that a failure (a full disk may show only when the file is
// closed) leaves no partial file under its name. A path that names a
// device, a pipe or a terminal is written as it is: a rename would replace
// the node itself. The system's reason on failure, nothing on success.
std::optional<std::string> writeWholeFile(const std::string& path, std::string_view bytes);

} // namespace orvex::cli
