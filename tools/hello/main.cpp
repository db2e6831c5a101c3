// The smallest Orvex host: version, and one line through each logger.
#include <orvex/orvex.h>

#include <log4cplus/configurator.h>
#include <log4cplus/initializer.h>
#include <log4cplus/loggingmacros.h>

#include <cstdio>

int main()
{
    log4cplus::Initializer initializer;
    log4cplus::BasicConfigurator::doConfigure();
    log4cplus::Logger::getRoot().setLogLevel(log4cplus::INFO_LOG_LEVEL);

    std::printf("Orvex %s(%d.%d build %d)\n", GetDllVersion(), GetDllVersionMajor(), GetDllVersionMinor(),
                GetDllBuildNumber());
    LOG4CPLUS_INFO(g_OrvexLogger, "diagnostics go here");
    LOG4CPLUS_INFO(g_OrvexCfgLogger, "configuration changes go here");
    LOG4CPLUS_INFO(g_OrvexStreamLogger, "one line per image goes here");
    LOG4CPLUS_INFO(g_OrvexLostStreamLogger, "dropped images go here");
    return 0;
}
