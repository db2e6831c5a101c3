// orvex: the command-line tool over the public API. Reads the command line,
// sets the library's log level, and runs one command (commands/): list the
// cameras of a stack, tell what one camera reports, grab images to PNG
// files, keep cameras synchronised, or serve the live viewer.
// Exit status: 0 done, 1 a camera or system failure (no such camera, a
// camera or stack error, a back end not available, a simulated world file
// that cannot be loaded, a file that cannot be written), 2 bad usage or bad
// input (the command line, a value outside the camera's limits).
#include "CommandLine.h"

#include <log4cplus/consoleappender.h>
#include <log4cplus/initializer.h>
#include <log4cplus/logger.h>
#include <log4cplus/loglevel.h>

#include <exception>
#include <iostream>
#include <string>

namespace {

using namespace orvex::cli;

// The library logs through log4cplus; the tool shows those lines on stderr
// only from the level asked for.
bool configureLogging(const std::string& levelName)
{
    const log4cplus::LogLevel level = log4cplus::getLogLevelManager().fromString(levelName);
    if (level == log4cplus::NOT_SET_LOG_LEVEL) {
        return false;
    }
    log4cplus::SharedAppenderPtr appender(new log4cplus::ConsoleAppender(true));
    log4cplus::Logger root = log4cplus::Logger::getRoot();
    root.addAppender(appender);
    root.setLogLevel(level);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    log4cplus::Initializer logging;
    ParsedCommandLine command;
    try {
        command = parseCommandLine(argc, argv);
    } catch (const UsageError& error) {
        std::cerr << "orvex: " << error.what() << "\n\n" << usageText();
        return kExitUsage;
    }
    if (!configureLogging(command.common.logLevel)) {
        std::cerr << "orvex: unknown log level '" << command.common.logLevel << "'\n";
        return kExitUsage;
    }
    try {
        return command.run();
    } catch (const std::exception& error) {
        std::cerr << "orvex: " << error.what() << "\n";
        return kExitFailure;
    }
}
