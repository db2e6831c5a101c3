// Captures what a logger writes, for tests that check log lines.
//
// Attach to a logger by name for the lifetime of the object; the logger's
// level is set as asked and restored afterwards. Thread-safe: appenders are
// called under log4cplus's own lock, and lines() copies under ours.
#pragma once

#include <log4cplus/appender.h>
#include <log4cplus/logger.h>
#include <log4cplus/spi/loggingevent.h>

#include <mutex>
#include <string>
#include <vector>

namespace orvex::test {

struct LogLine {
    int level;
    std::string logger;
    std::string message;
};

class LogCapture {
public:
    explicit LogCapture(const std::string& loggerName, int level = log4cplus::TRACE_LOG_LEVEL)
        : LogCapture(log4cplus::Logger::getInstance(loggerName), level)
    {
    }

    LogCapture(const log4cplus::Logger& logger, int level)
        : _logger(logger), _previousLevel(_logger.getLogLevel()), _appender(new Appender(*this))
    {
        _logger.setLogLevel(level);
        _logger.addAppender(_appender);
    }

    ~LogCapture()
    {
        _logger.removeAppender(_appender);
        _logger.setLogLevel(_previousLevel);
    }

    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogLine> lines() const
    {
        std::lock_guard<std::mutex> lock(_mutex);
        return _lines;
    }

    std::vector<std::string> messages() const
    {
        std::vector<std::string> out;
        for (const LogLine& line : lines())
            out.push_back(line.message);
        return out;
    }

    void clear()
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _lines.clear();
    }

private:
    class Appender : public log4cplus::Appender {
    public:
        explicit Appender(LogCapture& owner) : _owner(owner) {}
        ~Appender() override { destructorImpl(); }
        void close() override {}

    protected:
        void append(const log4cplus::spi::InternalLoggingEvent& event) override
        {
            std::lock_guard<std::mutex> lock(_owner._mutex);
            _owner._lines.push_back({event.getLogLevel(), event.getLoggerName(), event.getMessage()});
        }

    private:
        LogCapture& _owner;
    };

    log4cplus::Logger _logger;
    log4cplus::LogLevel _previousLevel;
    log4cplus::SharedAppenderPtr _appender;
    mutable std::mutex _mutex;
    std::vector<LogLine> _lines;
};

} // namespace orvex::test
