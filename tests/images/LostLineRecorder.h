// Records what reaches the "Orvex.lostStream" logger while it is alive, and
// keeps those lines off the console.
#pragma once

#include <orvex/Loggers.h>

#include <log4cplus/appender.h>
#include <log4cplus/logger.h>
#include <log4cplus/loglevel.h>
#include <log4cplus/spi/loggingevent.h>

#include <mutex>
#include <string>
#include <vector>

namespace orvex::images::test {

struct RecordedLine {
    log4cplus::LogLevel level;
    std::string text;
};

class RecordingAppender : public log4cplus::Appender {
public:
    ~RecordingAppender() override { destructorImpl(); }
    void close() override {}

    std::vector<RecordedLine> lines() const
    {
        std::lock_guard<std::mutex> guard(_mutex);
        return _lines;
    }

protected:
    // Called by log4cplus under the appender's own lock; our mutex is for
    // readers on other threads.
    void append(const log4cplus::spi::InternalLoggingEvent& event) override
    {
        std::lock_guard<std::mutex> guard(_mutex);
        _lines.push_back({event.getLogLevel(), event.getMessage()});
    }

private:
    mutable std::mutex _mutex;
    std::vector<RecordedLine> _lines;
};

// Attaches a recording appender and sets the logger's level for the scope;
// restores the logger on destruction. Host (test) thread, before other threads log.
class LostLineRecorder {
public:
    explicit LostLineRecorder(log4cplus::LogLevel level = log4cplus::TRACE_LOG_LEVEL)
        : _appender(new RecordingAppender), _previousLevel(g_OrvexLostStreamLogger.getLogLevel()),
          _bPreviousAdditivity(g_OrvexLostStreamLogger.getAdditivity())
    {
        g_OrvexLostStreamLogger.addAppender(_appender);
        g_OrvexLostStreamLogger.setAdditivity(false);
        g_OrvexLostStreamLogger.setLogLevel(level);
    }
    ~LostLineRecorder()
    {
        g_OrvexLostStreamLogger.removeAppender(_appender);
        g_OrvexLostStreamLogger.setAdditivity(_bPreviousAdditivity);
        g_OrvexLostStreamLogger.setLogLevel(_previousLevel);
    }
    LostLineRecorder(const LostLineRecorder&) = delete;
    LostLineRecorder& operator=(const LostLineRecorder&) = delete;

    std::vector<RecordedLine> lines() const { return recorder().lines(); }

    // The image indexes of the recorded lines, in the order they were logged.
    std::vector<unsigned long> lostIds() const
    {
        std::vector<unsigned long> ids;
        for (const RecordedLine& line : lines()) {
            const size_t at = line.text.find("(id:");
            ids.push_back(at == std::string::npos ? ~0ul : std::stoul(line.text.substr(at + 4)));
        }
        return ids;
    }

private:
    const RecordingAppender& recorder() const { return static_cast<const RecordingAppender&>(*_appender); }

    log4cplus::SharedAppenderPtr _appender;
    log4cplus::LogLevel _previousLevel;
    bool _bPreviousAdditivity;
};

} // namespace orvex::images::test
