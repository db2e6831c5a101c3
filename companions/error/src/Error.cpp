#include <orvex/companions/Error.h>

#include <log4cplus/logger.h>

namespace {

void logMessage(log4cplus::Logger* logger, int level, const std::string& message, const std::string& unit,
                int line)
{
    if (logger == nullptr || !logger->isEnabledFor(level))
        return;
    logger->forcedLog(level, message, unit.c_str(), line);
}

const char* orEmpty(const char* text)
{
    return text != nullptr ? text : "";
}

} // namespace

Error::Error(int line, const char* unit, const std::string& message, log4cplus::Logger* logger, int level)
    : _nLine(line), _strUnit(orEmpty(unit)), _strMessage(message)
{
    msgFormatter(logger, level);
}

Error::Error(const Error& other) = default;
Error::~Error() = default;

const char* Error::what() const noexcept
{
    return _strMessage.c_str();
}

void Error::msgFormatter(log4cplus::Logger* logger, int level)
{
    logMessage(logger, level, _strMessage, _strUnit, _nLine);
}

FatalError::FatalError(int line, const char* unit, const std::string& message, log4cplus::Logger* logger,
                       int level)
    : _nLine(line), _strUnit(orEmpty(unit)), _strMessage(message)
{
    msgFormatter(logger, level);
}

FatalError::FatalError(const FatalError& other) = default;
FatalError::~FatalError() = default;

const char* FatalError::what() const noexcept
{
    return _strMessage.c_str();
}

void FatalError::msgFormatter(log4cplus::Logger* logger, int level)
{
    logMessage(logger, level, _strMessage, _strUnit, _nLine);
}
