// Watching the library's log lines during the soak: parsing them into per-
// camera counts of images announced, dropped and freed.
#include "LogWatch.h"

#include "flycap/FlyCapTexts.h"
#include "images/ImagesTexts.h"

#include <log4cplus/spi/loggingevent.h>

#include <cstdlib>

namespace orvex::soak {

namespace {

// The fields of the library's lines that the ledgers need, read from the
// texts the library writes them with.
constexpr const char* kStreamPort = orvex::flycap::kStreamNewImage;
constexpr const char* kStreamIndex = orvex::flycap::kStreamImgId;
constexpr const char* kLostIndex = orvex::images::kLostLineId;
constexpr const char* kLockFailure = orvex::flycap::kLogLockLatestFailed;
constexpr size_t kErrorTextKept = 60;

// The unsigned number right after `field`, if the message has the field.
bool numberAfter(const std::string& message, const char* field, unsigned long& value)
{
    const size_t at = message.find(field);
    if (at == std::string::npos)
        return false;
    const char* begin = message.c_str() + at + std::char_traits<char>::length(field);
    char* end = nullptr;
    value = std::strtoul(begin, &end, 10);
    return end != begin;
}

class Forward : public log4cplus::Appender {
public:
    Forward(LogWatch& watch, void (LogWatch::*handler)(const std::string&)) : _watch(watch), _handler(handler)
    {
    }
    ~Forward() override { destructorImpl(); }
    void close() override {}

protected:
    void append(const log4cplus::spi::InternalLoggingEvent& event) override
    {
        (_watch.*_handler)(event.getMessage());
    }

private:
    LogWatch& _watch;
    void (LogWatch::*_handler)(const std::string&);
};

} // namespace

LogWatch::LogWatch()
{
    attach("Orvex.stream", log4cplus::INFO_LOG_LEVEL, &LogWatch::onStreamLine);
    attach("Orvex.lostStream", log4cplus::INFO_LOG_LEVEL, &LogWatch::onLostLine);
    attach("Orvex", log4cplus::ERROR_LOG_LEVEL, &LogWatch::onErrorLine);
}

LogWatch::~LogWatch()
{
    for (Attachment& a : _attachments) {
        a.logger.removeAppender(a.appender);
        a.logger.setLogLevel(a.previousLevel);
    }
}

void LogWatch::attach(const char* loggerName, log4cplus::LogLevel level,
                      void (LogWatch::*handler)(const std::string&))
{
    Attachment a{log4cplus::Logger::getInstance(loggerName), log4cplus::NOT_SET_LOG_LEVEL,
                 log4cplus::SharedAppenderPtr(new Forward(*this, handler))};
    // "Orvex" also hears its children's lines: the threshold keeps their INFO out.
    a.appender->setThreshold(level);
    a.previousLevel = a.logger.getLogLevel();
    a.logger.setLogLevel(level);
    a.logger.addAppender(a.appender);
    _attachments.push_back(a);
}

void LogWatch::openRun(unsigned short port, std::shared_ptr<RunLedger> ledger)
{
    const std::lock_guard<std::mutex> lock(_mutex);
    _byPort[port] = std::move(ledger);
}

void LogWatch::closeRun(unsigned short port)
{
    const std::lock_guard<std::mutex> lock(_mutex);
    const auto it = _byPort.find(port);
    if (it == _byPort.end())
        return;
    // A thread id may come back for another thread: forget the run's.
    for (auto t = _byThread.begin(); t != _byThread.end();) {
        t = t->second == it->second ? _byThread.erase(t) : std::next(t);
    }
    _byPort.erase(it);
}

LogWatch::Errors LogWatch::errors() const
{
    const std::lock_guard<std::mutex> lock(_mutex);
    return _errors;
}

void LogWatch::onStreamLine(const std::string& message)
{
    unsigned long port = 0, idx = 0;
    if (!numberAfter(message, kStreamPort, port) || !numberAfter(message, kStreamIndex, idx))
        return;
    std::shared_ptr<RunLedger> ledger;
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        const auto it = _byPort.find(static_cast<unsigned short>(port));
        if (it == _byPort.end())
            return;
        ledger = it->second;
        _byThread[std::this_thread::get_id()] = ledger;
    }
    ledger->announced(static_cast<uint32_t>(idx));
}

void LogWatch::onLostLine(const std::string& message)
{
    unsigned long idx = 0;
    if (!numberAfter(message, kLostIndex, idx))
        return;
    std::shared_ptr<RunLedger> ledger;
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        const auto it = _byThread.find(std::this_thread::get_id());
        if (it == _byThread.end())
            return;
        ledger = it->second;
    }
    ledger->dropped(static_cast<uint32_t>(idx));
}

void LogWatch::onErrorLine(const std::string& message)
{
    if (message.rfind(kLockFailure, 0) == 0)
        ++_lockFailures;
    const bool expected = _troubleExpected;
    const std::lock_guard<std::mutex> lock(_mutex);
    ++(expected ? _errors.expected : _errors.unexpected);
    ++_errors.byText[message.substr(0, kErrorTextKept)];
}

} // namespace orvex::soak
