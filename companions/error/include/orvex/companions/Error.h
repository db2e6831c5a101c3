// Error library: the exception bases of the camera libraries.
//
// An error reports itself when it is built: the message goes to the logger
// given at the throw site, at the given log4cplus level, with the throw
// site's source unit and line. A null logger is accepted and logs nothing.
// Thread-safe as far as log4cplus is: errors may be built on any thread.
#pragma once

#include <exception>
#include <string>

namespace log4cplus {
class Logger;
}

// CMake defines orvex_error_EXPORTS while it builds this library's DLL.
#if defined(_WIN32) && defined(orvex_error_EXPORTS)
#define ORVEX_ERROR_API __declspec(dllexport)
#elif defined(_WIN32)
#define ORVEX_ERROR_API __declspec(dllimport)
#else
#define ORVEX_ERROR_API __attribute__((visibility("default")))
#endif

// What both exception bases share: the message, the throw site, and
// reporting on construction. Not thrown by itself.
class ORVEX_ERROR_API ReportedError : public std::exception {
public:
    ReportedError(const ReportedError& other);
    ReportedError& operator=(const ReportedError&) = delete;
    ~ReportedError() override;

    const char* what() const noexcept override;

    int line() const noexcept { return _nLine; }
    const std::string& unit() const noexcept { return _strUnit; }

protected:
    ReportedError(int line, const char* unit, const std::string& message);
    // Writes the message to the logger; called once, by the constructors of
    // Error and FatalError.
    virtual void msgFormatter(log4cplus::Logger* logger, int level);

private:
    int _nLine;
    std::string _strUnit;
    std::string _strMessage;
};

class ORVEX_ERROR_API Error : public ReportedError {
public:
    Error(int line, const char* unit, const std::string& message, log4cplus::Logger* logger, int level);
    Error(const Error& other);
    ~Error() override;
};

// Unrecoverable failures. Deliberately not an Error, so that code which
// skips a failing camera on Error does not swallow a broken process state.
class ORVEX_ERROR_API FatalError : public ReportedError {
public:
    FatalError(int line, const char* unit, const std::string& message, log4cplus::Logger* logger, int level);
    FatalError(const FatalError& other);
    ~FatalError() override;
};
