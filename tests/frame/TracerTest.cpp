// The scoped tracer: what reaches "Orvex" at each level, for operations
// that return and operations that throw.
#include <orvex/OrvexError.h>
#include <orvex/Tracer.h>

#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <cstdio>
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
    unsigned entered = 0, left = 0, absolute = 0, kernel = 0, user = 0;
    char tail = 0;
    const int fields =
        std::sscanf(lines[1].message.c_str(),
                    "Leaving Camera::op(); (portId=3). entered at = %u ms; left at = %u ms; absolute "
                    "duration = %u ms; kernel mode duration = %u ms; user mode duration = %u ms%c",
                    &entered, &left, &absolute, &kernel, &user, &tail);
    ASSERT_EQ(fields, 5) << lines[1].message;
    EXPECT_EQ(static_cast<uint32_t>(left - entered), absolute);
}

TEST(Tracer, AtTraceAFailingOperationLeavesAtErrorWithTimings)
{
    LogCapture capture("Orvex", log4cplus::TRACE_LOG_LEVEL);
    EXPECT_THROW(tracedOperation(true), std::runtime_error);
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].level, orvex::kLevelError);
    EXPECT_EQ(
        lines[1].message.rfind("Leaving Camera::op(); (portId=3) because of exception. entered at = ", 0), 0u)
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
