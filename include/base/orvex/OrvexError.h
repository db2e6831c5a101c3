// The library's two exception types. Thrown by value, caught by reference.
// Building one logs it (see Error): every OrvexError reaches "Orvex" at ERROR.
#pragma once

#include <orvex/Export.h>
#include <orvex/Loggers.h>
#include <orvex/Types.h>
#include <orvex/companions/Error.h>

#include <string>

// Every refusal, bad argument, missing feature and failed vendor call.
class ORVEX_API OrvexError : public Error {
public:
    OrvexError(int line, const char* unit, const std::string& message, log4cplus::Logger* logger, int level);
    OrvexError(const OrvexError& other);
    ~OrvexError() override;
};

// Raised only when a hidden window's class cannot be looked up.
class ORVEX_API OrvexFatalError : public FatalError {
public:
    OrvexFatalError(int line, const char* unit, const std::string& message, log4cplus::Logger* logger,
                    int level);
    OrvexFatalError(const OrvexFatalError& other);
    ~OrvexFatalError() override;
};

// Throws the recoverable error from the calling line, reported on "Orvex" at ERROR.
#define ORVEX_THROW(unit, message)                                                                           \
    throw OrvexError(__LINE__, (unit), (message), &g_OrvexLogger, ::orvex::kLevelError)

// Throws the fatal error from the calling line; it carries no logger.
#define ORVEX_THROW_FATAL(unit, message)                                                                     \
    throw OrvexFatalError(__LINE__, (unit), (message), nullptr, ::orvex::kLevelFatal)
