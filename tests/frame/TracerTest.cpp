// The scoped tracer: what reaches "Orvex" at each level, for operations
// that return and operations that throw.
#include <orvex/OrvexError.h>
#include <orvex/Tracer.h>

#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>

using orvex::test::LogCapture;

namespace {

void tracedOperation(bool fail)
{
    Tracer tracer(isTracing() ? "Camera::op(); (portId=3)" : "", g_OrvexLogger, orvex::kLevelTrace);
    if (fail)
        throw std::runtime_error("failed");
}

} // namespace

TEST(Tracer, SilentAtInfoWhenTheOperationReturns)
{
    LogCapture capture("Orvex", log4cplus::INFO_LOG_LEVEL);
    tracedOperation(false);
    EXPECT_TRUE(capture.lines().empty());
}

TEST(Tracer, AtInfoAFailingOperationLogsOneBareLeavingLineAtError)
{
    LogCapture capture("Orvex", log4cplus::INFO_LOG_LEVEL);
    EXPECT_THROW(tracedOperation(true), std::runtime_error);
    ASSERT_EQ(capture.lines().size(), 1u);
    EXPECT_EQ(capture.lines()[0].level, orvex::kLevelError);
    EXPECT_EQ(capture.lines()[0].message, "Leaving  because of exception.");
}

TEST(Tracer, AtTraceLogsEntryAndExitWithTicksAndThreeDurations)
{
    LogCapture capture("Orvex", log4cplus::TRACE_LOG_LEVEL);
    tracedOperation(false);
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].message, "Entering Camera::op(); (portId=3).");
    EXPECT_EQ(lines[0].level, orvex::kLevelTrace);
    EXPECT_EQ(lines[1].level, orvex::kLevelTrace);
    const std::regex exitLine("Leaving Camera::op\\(\\); \\(portId=3\\)\\. entered at = (\\d+) ms; left at = (\\d+) "
                              "ms; absolute duration = (\\d+) ms; kernel mode duration = \\d+ ms; user mode "
                              "duration = \\d+ ms");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[1].message, match, exitLine)) << lines[1].message;
    const uint32_t entered = static_cast<uint32_t>(std::stoul(match[1]));
    const uint32_t left = static_cast<uint32_t>(std::stoul(match[2]));
    EXPECT_EQ(static_cast<uint32_t>(left - entered), std::stoul(match[3]));
}

TEST(Tracer, AtTraceAFailingOperationLeavesAtErrorWithTimings)
{
    LogCapture capture("Orvex", log4cplus::TRACE_LOG_LEVEL);
    EXPECT_THROW(tracedOperation(true), std::runtime_error);
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].level, orvex::kLevelError);
    EXPECT_EQ(lines[1].message.rfind("Leaving Camera::op(); (portId=3) because of exception. entered at = ", 0),
              0u)
        << lines[1].message;
}

TEST(Tracer, ATracerBuiltDuringUnwindingIsNotBlamedForTheOtherException)
{
    LogCapture capture("Orvex", log4cplus::INFO_LOG_LEVEL);
    struct TracesInDestructor {
        ~TracesInDestructor() { tracedOperation(false); }
    };
    try {
        TracesInDestructor guard;
        throw std::runtime_error("outer");
    } catch (const std::runtime_error&) {
    }
    EXPECT_TRUE(capture.lines().empty());
}
