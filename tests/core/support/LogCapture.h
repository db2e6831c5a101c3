// Records what one logger writes while the capture lives, at the level the
// test asks for; restores the logger afterwards.
#pragma once

#include <log4cplus/appender.h>
#include <log4cplus/logger.h>
#include <log4cplus/loglevel.h>
#include <log4cplus/spi/loggingevent.h>

#include <mutex>
#include <string>
#include <vector>

namespace orvex::test {

struct LogLine {
    log4cplus::LogLevel level;
    std::string text;
};

class LogCapture {
public:
    LogCapture(log4cplus::Logger logger, log4cplus::LogLevel level)
        : _logger(logger), _previousLevel(logger.getLogLevel()), _appender(new Recorder)
    {
        _logger.addAppender(_appender);
        _logger.setLogLevel(level);
    }
    ~LogCapture()
    {
        _logger.setLogLevel(_previousLevel);
        _logger.removeAppender(_appender);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogLine> lines() const { return static_cast<Recorder&>(*_appender).lines(); }
    std::vector<std::string> texts() const
    {
        std::vector<std::string> result;
        for (const LogLine& line : lines()) {
            result.push_back(line.text);
        }
        return result;
    }

private:
    class Recorder : public log4cplus::Appender {
    public:
        ~Recorder() override { destructorImpl(); }
        void close() override {}
        std::vector<LogLine> lines() const
        {
            std::lock_guard<std::mutex> lock(_mutex);
            return _lines;
        }

    protected:
        void append(const log4cplus::spi::InternalLoggingEvent& event) override
        {
            std::lock_guard<std::mutex> lock(_mutex);
            _lines.push_back({event.getLogLevel(), event.getMessage()});
        }

    private:
        mutable std::mutex _mutex;
        std::vector<LogLine> _lines;
    };

    log4cplus::Logger _logger;
    log4cplus::LogLevel _previousLevel;
    log4cplus::SharedAppenderPtr _appender;
};

} // namespace orvex::test
