// Per-thread last error and FormatMessageA over the system message table.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <orvex/win32/errors.h>

#include "MessageTables.h"
#include "SystemMessages.h"

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

bool isSupportedLanguage(DWORD languageId)
{
    const DWORD primary = languageId & 0x3FF;
    return languageId <= 0xFFFF && (primary == LANG_NEUTRAL || primary == LANG_ENGLISH);
}

// Source of the insert values: a va_list (default) or an array of DWORD_PTR
// (FORMAT_MESSAGE_ARGUMENT_ARRAY). Inserts are numbered from 1.
class InsertSource {
public:
    InsertSource(va_list* args, bool isArray) : _args(args), _isArray(isArray) {}

    bool available() const { return _args != nullptr; }

    // The conversion comes from the message text itself, as with Windows.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    // Formats insert `number` with the printf conversion `conversionText` (such as "s",
    // "lu", "08lX"). With a va_list, inserts must be used in order, as Windows
    // itself reads them sequentially.
    bool format(int number, const std::string& conversionText, std::string& out)
    {
        if (conversionText.empty())
            return false;
        const char conversion = conversionText.back();
        const bool isLong = conversionText.size() >= 2 && conversionText[conversionText.size() - 2] == 'l';
        const std::string printfFormat = "%" + conversionText;
        char buffer[512];
        int written = -1;
        switch (conversion) {
        case 's': {
            const char* text =
                _isArray ? reinterpret_cast<const char*>(arrayValue(number)) : va_arg(*_args, const char*);
            out += text ? text : "(null)";
            return true;
        }
        case 'd':
        case 'i':
        case 'c':
            if (isLong) {
                written = std::snprintf(buffer, sizeof buffer, printfFormat.c_str(),
                                        static_cast<long>(_isArray ? static_cast<LONG_PTR>(arrayValue(number))
                                                                   : va_arg(*_args, long)));
            } else {
                written =
                    std::snprintf(buffer, sizeof buffer, printfFormat.c_str(),
                                  _isArray ? static_cast<int>(arrayValue(number)) : va_arg(*_args, int));
            }
            break;
        case 'u':
        case 'x':
        case 'X':
        case 'o':
            if (isLong) {
                written = std::snprintf(buffer, sizeof buffer, printfFormat.c_str(),
                                        static_cast<unsigned long>(_isArray ? arrayValue(number)
                                                                            : va_arg(*_args, unsigned long)));
            } else {
                written = std::snprintf(buffer, sizeof buffer, printfFormat.c_str(),
                                        _isArray ? static_cast<unsigned>(arrayValue(number))
                                                 : va_arg(*_args, unsigned));
            }
            break;
        default:
            return false;
        }
        if (written < 0)
            return false;
        out.append(buffer, std::strlen(buffer));
        return true;
    }
#pragma GCC diagnostic pop

private:
    DWORD_PTR arrayValue(int number) const
    {
        return reinterpret_cast<const DWORD_PTR*>(_args)[number - 1];
    }

    va_list* _args;
    bool _isArray;
};

// Expands the message text: escapes (%n %r %t %b %0 %% %. %!), inserts %1 to
// %99 with an optional !printf! conversion, and the regular line breaks that
// FORMAT_MESSAGE_MAX_WIDTH_MASK turns into blanks. Returns false (and sets the
// last error) when an insert cannot be formatted.
bool expandMessage(const char* text, DWORD flags, InsertSource& inserts, std::string& out)
{
    const bool ignoreInserts = (flags & FORMAT_MESSAGE_IGNORE_INSERTS) != 0;
    const bool noLineBreaks = (flags & FORMAT_MESSAGE_MAX_WIDTH_MASK) == FORMAT_MESSAGE_MAX_WIDTH_MASK;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == '\r' && p[1] == '\n') {
            out += noLineBreaks ? " " : "\r\n";
            ++p;
            continue;
        }
        if (*p != '%') {
            out += *p;
            continue;
        }
        const char next = p[1];
        if (next >= '1' && next <= '9') {
            if (ignoreInserts) {
                out += *p;
                continue;
            }
            int number = next - '0';
            ++p;
            if (p[1] >= '0' && p[1] <= '9')
                number = number * 10 + (*++p - '0');
            std::string conversionText = "s";
            if (p[1] == '!') {
                const char* end = std::strchr(p + 2, '!');
                if (end == nullptr) {
                    SetLastError(ERROR_INVALID_PARAMETER);
                    return false;
                }
                conversionText.assign(p + 2, end);
                p = end;
            }
            if (!inserts.available()) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return false;
            }
            if (!inserts.format(number, conversionText, out)) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return false;
            }
            continue;
        }
        if (ignoreInserts && next != '%' && next != 'n' && next != '0') {
            out += *p;
            continue;
        }
        ++p;
        switch (next) {
        case '0':
            return true;
        case 'n':
            out += "\r\n";
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'b':
            out += ' ';
            break;
        case '\0':
            --p; // a lone '%' at the end is kept
            out += '%';
            break;
        default: // %% %. %! and anything else: the character itself
            out += next;
            break;
        }
    }
    return true;
}

// The message text: the module's table first (FORMAT_MESSAGE_FROM_HMODULE),
// then the system's (FORMAT_MESSAGE_FROM_SYSTEM). Returns ERROR_SUCCESS or
// the error of the last table looked at.
DWORD findMessage(DWORD flags, LPCVOID source, DWORD messageId, std::string& text)
{
    using namespace orvex::win32::detail;
    DWORD error = ERROR_MR_MID_NOT_FOUND;
    if ((flags & FORMAT_MESSAGE_FROM_HMODULE) != 0) {
        const auto module = reinterpret_cast<HMODULE>(const_cast<void*>(source));
        const ModuleMessage found = findModuleMessage(module, messageId, text);
        if (found == ModuleMessage::found)
            return ERROR_SUCCESS;
        error = found == ModuleMessage::noTable ? ERROR_RESOURCE_TYPE_NOT_FOUND : ERROR_MR_MID_NOT_FOUND;
    }
    if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) != 0) {
        if (const char* system = systemMessageText(messageId)) {
            text = system;
            return ERROR_SUCCESS;
        }
        error = ERROR_MR_MID_NOT_FOUND;
    }
    return error;
}

} // namespace

extern "C" {

DWORD WINAPI GetLastError(void)
{
    return t_lastError;
}

void WINAPI SetLastError(DWORD dwErrCode)
{
    t_lastError = dwErrCode;
}

DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                            LPSTR lpBuffer, DWORD nSize, va_list* Arguments)
{
    if ((dwFlags & FORMAT_MESSAGE_FROM_STRING) != 0) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return 0;
    }
    if ((dwFlags & (FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_FROM_HMODULE)) == 0 || lpBuffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const DWORD width = dwFlags & FORMAT_MESSAGE_MAX_WIDTH_MASK;
    if (width != 0 && width != FORMAT_MESSAGE_MAX_WIDTH_MASK) {
        SetLastError(ERROR_NOT_SUPPORTED); // line wrapping at a column
        return 0;
    }
    if (!isSupportedLanguage(dwLanguageId)) {
        SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
        return 0;
    }
    std::string source;
    const DWORD lookupError = findMessage(dwFlags, lpSource, dwMessageId, source);
    if (lookupError != ERROR_SUCCESS) {
        SetLastError(lookupError);
        return 0;
    }
    const char* text = source.c_str();
    InsertSource inserts(Arguments, (dwFlags & FORMAT_MESSAGE_ARGUMENT_ARRAY) != 0);
    std::string message;
    if (!expandMessage(text, dwFlags, inserts, message))
        return 0;

    const DWORD length = static_cast<DWORD>(message.size());
    if ((dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) {
        const size_t capacity = std::max<size_t>(nSize, message.size() + 1);
        char* allocated = static_cast<char*>(std::malloc(capacity));
        if (allocated == nullptr) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        std::memcpy(allocated, message.c_str(), message.size() + 1);
        *reinterpret_cast<LPSTR*>(lpBuffer) = allocated;
        return length;
    }
    if (message.size() + 1 > nSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(lpBuffer, message.c_str(), message.size() + 1);
    return length;
}

HLOCAL WINAPI LocalFree(HLOCAL hMem)
{
    std::free(hMem);
    return nullptr;
}

} // extern "C"
