#include "WholeFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace orvex::cli {
namespace {

std::string systemReason()
{
    return errno != 0 ? std::strerror(errno) : "write error";
}

// Whether `path` exists and is something other than a plain file (followed
// through symbolic links, as opening it would).
bool isSpecialFile(const std::string& path)
{
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    return !error && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status) &&
           !std::filesystem::is_directory(status);
}

std::optional<std::string> writeTo(const std::string& target, std::string_view bytes)
{
    errno = 0;
    std::FILE* file = std::fopen(target.c_str(), "wb");
    if (file == nullptr)
        return systemReason();
    errno = 0;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() &&
                         std::fflush(file) == 0 && std::ferror(file) == 0;
    std::optional<std::string> failure;
    if (!written)
        failure = systemReason();
    // Closing writes what the stream still holds: a full disk may show only here.
    errno = 0;
    if (std::fclose(file) != 0 && !failure)
        failure = systemReason();
    return failure;
}

} // namespace

std::optional<std::string> writeWholeFile(const std::string& path, std::string_view bytes)
{
    if (isSpecialFile(path))
        return writeTo(path, bytes);
    const std::string partial = path + ".part";
    if (auto failure = writeTo(partial, bytes)) {
        std::remove(partial.c_str());
        return failure;
    }
    std::error_code error;
    std::filesystem::rename(partial, path, error);
    if (error) {
        std::remove(partial.c_str());
        return error.message();
    }
    return std::nullopt;
}

} // namespace orvex::cli
