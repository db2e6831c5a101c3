// The BCAM client's failures: an error code (a Win32 error, a driver code or
// one of the client's own), the failing operation's name as context, and
// the inserts of its message. The description is looked up on demand, first
// in "BcamError.dll" and then in the system's table.
//
// Threads: a value type; any thread may describe its own copy.
#pragma once

#include <orvex/win32.h>

#include <exception>
#include <string>
#include <vector>

namespace Bvc {

class Exception : public std::exception {
public:
    Exception(DWORD error, std::string context, std::vector<std::string> arguments = {});

    DWORD Error() const { return _error; }
    const std::string& Context() const { return _context; }
    const std::vector<std::string>& Arguments() const { return _arguments; }

    // The message for the code with the arguments inserted, or one of the
    // two fallback texts. Loads the message library for each call.
    virtual std::string Description() const;

    // The description, made on first use.
    const char* what() const noexcept override;

private:
    DWORD _error;
    std::string _context;
    std::vector<std::string> _arguments;
    mutable std::string _what;
};

} // namespace Bvc

namespace Bcam {

class BcamException : public Bvc::Exception {
public:
    using Bvc::Exception::Exception;
};

// The message text for `error` with `arguments` inserted: "BcamError.dll"
// first, then the system's table; "<no message found>" when neither has the
// code, "<unable to format message>" when the inserts do not fit the text.
std::string DescribeError(DWORD error, const std::vector<std::string>& arguments);

} // namespace Bcam
