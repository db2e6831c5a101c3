// The library's four loggers, obtained by name while the library loads.
#include <orvex/Loggers.h>

// Defined together, in this order, so that static initialisation obtains
// them in the documented order and destruction releases them in reverse.
log4cplus::Logger g_OrvexLogger = log4cplus::Logger::getInstance(orvex::kLoggerName);
log4cplus::Logger g_OrvexCfgLogger = log4cplus::Logger::getInstance(orvex::kCfgLoggerName);
log4cplus::Logger g_OrvexStreamLogger = log4cplus::Logger::getInstance(orvex::kStreamLoggerName);
log4cplus::Logger g_OrvexLostStreamLogger = log4cplus::Logger::getInstance(orvex::kLostStreamLoggerName);
