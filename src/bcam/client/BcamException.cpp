// Descriptions of the client's failures from the message tables.
#include "bcam/client/BcamException.h"

#include "bcam/client/BcamTexts.h"

#include <orvex/bcam/BcamProtocol.h>
#include <orvex/win32_owned.h>

#include <utility>

namespace Bvc {

Exception::Exception(DWORD error, std::string context, std::vector<std::string> arguments)
    : _error(error), _context(std::move(context)), _arguments(std::move(arguments))
{
}

std::string Exception::Description() const
{
    return Bcam::DescribeError(_error, _arguments);
}

const char* Exception::what() const noexcept
{
    try {
        if (_what.empty())
            _what = Description();
        return _what.c_str();
    } catch (...) {
        return "Bvc::Exception";
    }
}

} // namespace Bvc

namespace Bcam {

namespace {

// A buffer FormatMessageA allocated, freed with its owner.
class MessageBuffer {
public:
    MessageBuffer() = default;
    ~MessageBuffer()
    {
        if (_text != nullptr)
            LocalFree(_text);
    }
    MessageBuffer(const MessageBuffer&) = delete;
    MessageBuffer& operator=(const MessageBuffer&) = delete;

    LPSTR* target() { return &_text; }
    const char* text() const { return _text; }

private:
    LPSTR _text = nullptr;
};

DWORD format(DWORD flags, HMODULE module, DWORD error, va_list* arguments, MessageBuffer& buffer)
{
    return FormatMessageA(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, module, error,
                          MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(buffer.target()),
                          0, arguments);
}

} // namespace

std::string DescribeError(DWORD error, const std::vector<std::string>& arguments)
{
    // The message library, loaded as data for this lookup only.
    const orvex::win32::OwnedModule library(
        LoadLibraryExA(orvex::bcam::kMessageLibrary, nullptr, LOAD_LIBRARY_AS_DATAFILE));
    const DWORD fromModule = library ? FORMAT_MESSAGE_FROM_HMODULE : 0;

    // Looked up once without inserts, so that a code nobody knows is told
    // apart from a text whose inserts the arguments do not fill.
    MessageBuffer probe;
    if (format(fromModule | FORMAT_MESSAGE_IGNORE_INSERTS, library.get(), error, nullptr, probe) == 0)
        return texts::kNoMessageFound;

    std::vector<DWORD_PTR> inserts;
    inserts.reserve(arguments.size());
    for (const std::string& argument : arguments)
        inserts.push_back(reinterpret_cast<DWORD_PTR>(argument.c_str()));
    MessageBuffer message;
    va_list* insertArray = inserts.empty() ? nullptr : reinterpret_cast<va_list*>(inserts.data());
    if (format(fromModule | FORMAT_MESSAGE_ARGUMENT_ARRAY, library.get(), error, insertArray, message) == 0)
        return texts::kUnableToFormat;
    return message.text();
}

} // namespace Bcam
