// The page's files (view/web), built into the binary: the viewer
// serves these and nothing else from any disk.
#pragma once

#include <cstddef>
#include <string>

namespace orvex::cli {

struct ViewAsset {
    const char* path; // as requested, e.g. "/viewer.js"; the page itself is "/index.html"
    const char* contentType;
    const unsigned char* data;
    std::size_t size;
};

// Null when `path` names no file of the page.
const ViewAsset* findViewAsset(const std::string& path);

} // namespace orvex::cli
