// Windows path and name helpers shared by the data store areas (internal).
#pragma once

#include <algorithm>
#include <cctype>
#include <string>

namespace orvex::win32::detail {

// Windows names compare without case.
inline std::string foldCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// A path as a lookup key: case folded, "/" read as "\".
inline std::string pathKey(std::string path)
{
    std::replace(path.begin(), path.end(), '/', '\\');
    return foldCase(std::move(path));
}

// The file name of a path, without its directory.
inline std::string fileNameOf(const std::string& path)
{
    const auto separator = path.find_last_of("\\/");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

} // namespace orvex::win32::detail
