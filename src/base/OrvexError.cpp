// The library's two exception types: building one logs it.
#include <orvex/OrvexError.h>

OrvexError::OrvexError(int line, const char* unit, const std::string& message, log4cplus::Logger* logger,
                       int level)
    : Error(line, unit, message, logger, level)
{
}

OrvexError::OrvexError(const OrvexError& other) = default;
OrvexError::~OrvexError() = default;

OrvexFatalError::OrvexFatalError(int line, const char* unit, const std::string& message,
                                 log4cplus::Logger* logger, int level)
    : FatalError(line, unit, message, logger, level)
{
}

OrvexFatalError::OrvexFatalError(const OrvexFatalError& other) = default;
OrvexFatalError::~OrvexFatalError() = default;
