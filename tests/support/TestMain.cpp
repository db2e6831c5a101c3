// Test entry point shared by every test executable: log4cplus is brought up
// once, with a console appender at WARN unless ORVEX_TEST_LOG_LEVEL says
// otherwise, so that failing tests show the library's errors.
#include <gtest/gtest.h>

#include <log4cplus/configurator.h>
#include <log4cplus/initializer.h>
#include <log4cplus/logger.h>
#include <log4cplus/loglevel.h>

#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    log4cplus::Initializer initializer;
    log4cplus::BasicConfigurator::doConfigure();
    const char* level = std::getenv("ORVEX_TEST_LOG_LEVEL");
    log4cplus::Logger::getRoot().setLogLevel(level ? log4cplus::getLogLevelManager().fromString(level)
                                                   : log4cplus::WARN_LOG_LEVEL);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
