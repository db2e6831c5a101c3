// Error library: the exception bases, which log their message as they are
// built.
#include <orvex/companions/Error.h>

#include <log4cplus/logger.h>

namespace {

const char* orEmpty(const char* text)
{
    return text != nullptr ? text : "";
}

} // namespace

ReportedError::ReportedError(int line, const char* unit, const std::string& message)
    : _nLine(line), _strUnit(orEmpty(unit)), _strMessage(message)
{
}

ReportedError::ReportedError(const ReportedError& other) = default;
ReportedError::~ReportedError() = default;

const char* ReportedError::what() const noexcept
{
    return _strMessage.c_str();
}

void ReportedError::msgFormatter(log4cplus::Logger* logger, int level)
{
    if (logger == nullptr || !logger->isEnabledFor(level))
        return;
    logger->forcedLog(level, _strMessage, _strUnit.c_str(), _nLine);
}

Error::Error(int line, const char* unit, const std::string& message, log4cplus::Logger* logger, int level)
    : ReportedError(line, unit, message)
{
    msgFormatter(logger, level);
}

Error::Error(const Error& other) = default;
Error::~Error() = default;

FatalError::FatalError(int line, const char* unit, const std::string& message, log4cplus::Logger* logger,
                       int level)
    : ReportedError(line, unit, message)
{
    msgFormatter(logger, level);
}

FatalError::FatalError(const FatalError& other) = default;
FatalError::~FatalError() = default;
