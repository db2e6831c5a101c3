// Watches what the library logs while the soak runs:
// - "Orvex.stream" (one line per image, naming the camera's port and the
//   image's index) feeds the run ledger open for that port, and remembers
//   which thread writes for it;
// - "Orvex.lostStream" (one line per image an images buffer dropped) feeds
//   the ledger of the thread that wrote it; lines written on other threads
//   (the host's, when a capture drops older images it has read) are not the
//   ledgers' business;
// - "Orvex" at ERROR is counted, apart inside the windows where trouble is
//   expected (a camera unplugged while acquiring).
// Appenders run on the logging thread; every member is thread-safe.
#pragma once

#include "RunLedger.h"

#include <log4cplus/appender.h>
#include <log4cplus/logger.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace orvex::soak {

class LogWatch {
public:
    LogWatch();
    ~LogWatch();
    LogWatch(const LogWatch&) = delete;
    LogWatch& operator=(const LogWatch&) = delete;

    // Host thread: the ledger that the lines of `port` feed, until closeRun.
    void openRun(unsigned short port, std::shared_ptr<RunLedger> ledger);
    void closeRun(unsigned short port);

    void expectTrouble(bool expected) { _troubleExpected = expected; }
    // ERROR lines "flycaptureLockLatest(...) returned an error: ..." so far.
    uint64_t lockFailures() const { return _lockFailures; }

    struct Errors {
        uint64_t expected = 0;
        uint64_t unexpected = 0;
        std::map<std::string, uint64_t> byText; // the first words of each message
    };
    Errors errors() const;

    // Appender side.
    void onStreamLine(const std::string& message);
    void onLostLine(const std::string& message);
    void onErrorLine(const std::string& message);

private:
    mutable std::mutex _mutex;
    std::map<unsigned short, std::shared_ptr<RunLedger>> _byPort;
    std::map<std::thread::id, std::shared_ptr<RunLedger>> _byThread;
    Errors _errors;
    std::atomic<bool> _troubleExpected{false};
    std::atomic<uint64_t> _lockFailures{0};

    struct Attachment {
        log4cplus::Logger logger;
        log4cplus::LogLevel previousLevel;
        log4cplus::SharedAppenderPtr appender;
    };
    void attach(const char* loggerName, log4cplus::LogLevel level,
                void (LogWatch::*handler)(const std::string&));
    std::vector<Attachment> _attachments;
};

} // namespace orvex::soak
