// The companion libraries, as the camera library relies on them.
#include <orvex/companions/CamGUID.h>
#include <orvex/companions/Error.h>
#include <orvex/companions/Image.h>
#include <orvex/companions/WinChrono.h>

#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <stdexcept>
#include <vector>

using orvex::test::LogCapture;

TEST(CamGUID, OrdersByHighWordThenLowWordUnsigned)
{
    std::set<CamGUID> ids{CamGUID(5, 1), CamGUID(0xFFFFFFFF, 0), CamGUID(1, 1), CamGUID(0, 0x80000000)};
    std::vector<CamGUID> sorted(ids.begin(), ids.end());
    ASSERT_EQ(sorted.size(), 4u);
    EXPECT_EQ(sorted[0], CamGUID(0xFFFFFFFF, 0));
    EXPECT_EQ(sorted[1], CamGUID(1, 1));
    EXPECT_EQ(sorted[2], CamGUID(5, 1));
    EXPECT_EQ(sorted[3], CamGUID(0, 0x80000000));
    EXPECT_FALSE(CamGUID(3, 4) < CamGUID(3, 4));
    EXPECT_NE(CamGUID(3, 4), CamGUID(4, 3));
}

TEST(CamGUID, TextRoundTripsAndReadsAsHexadecimal)
{
    for (const CamGUID& id : {CamGUID(), CamGUID(0x12D687, 0), CamGUID(0xFFFFFFFF, 0xFFFFFFFF),
                              CamGUID(0x00000001, 0x80000000)}) {
        CamGUID back(7, 7);
        back.from_string(id.to_string());
        EXPECT_EQ(back, id) << id.to_string();
        CamGUID prefixed;
        prefixed.from_string("0x" + id.to_string());
        EXPECT_EQ(prefixed, id);
    }
    EXPECT_EQ(CamGUID(0x12D687, 0).to_string(), "000000000012D687");
    CamGUID shortForm;
    shortForm.from_string("abc");
    EXPECT_EQ(shortForm, CamGUID(0xABC, 0));
}

TEST(CamGUID, RejectsMalformedTextAndKeepsItsValue)
{
    CamGUID id(1, 2);
    for (const char* bad : {"", "0x", "12G4", "11112222333344445", " 12", "-1"})
        EXPECT_THROW(id.from_string(bad), std::invalid_argument) << bad;
    EXPECT_EQ(id, CamGUID(1, 2));
}

// How long anything takes is for benchmarks; here only what the laps mean.
TEST(WinChrono, LapsAreTakenFromTheLastLapAndOnlyWhileRunning)
{
    WinChrono chrono;
    EXPECT_EQ(chrono.lap(), 0.0f) << "a stopped stopwatch has no laps";
    chrono.start();
    EXPECT_TRUE(chrono.isRunning());
    double total = 0.0;
    for (int i = 0; i < 5; ++i) {
        const float lap = chrono.lap();
        EXPECT_GE(lap, 0.0f);
        total += lap;
    }
    const float sinceStart = chrono.stop();
    EXPECT_GE(sinceStart, total) << "laps count from the previous lap, not from the start";
    EXPECT_FALSE(chrono.isRunning());
    EXPECT_EQ(chrono.lap(), 0.0f);
}

TEST(Error, LogsItselfOnTheGivenLoggerAtTheGivenLevel)
{
    LogCapture capture("ErrorTest");
    log4cplus::Logger logger = log4cplus::Logger::getInstance("ErrorTest");
    Error error(42, "Unit", "it broke", &logger, log4cplus::ERROR_LOG_LEVEL);
    EXPECT_STREQ(error.what(), "it broke");
    EXPECT_EQ(error.line(), 42);
    ASSERT_EQ(capture.lines().size(), 1u);
    EXPECT_EQ(capture.lines()[0].level, log4cplus::ERROR_LOG_LEVEL);
    EXPECT_EQ(capture.lines()[0].message, "it broke");

    Error copy(error);
    EXPECT_STREQ(copy.what(), "it broke");
    EXPECT_EQ(capture.lines().size(), 1u) << "copies do not report again";
}

TEST(Error, AcceptsANullLoggerAndRespectsTheLoggerLevel)
{
    LogCapture capture("ErrorTest", log4cplus::FATAL_LOG_LEVEL);
    log4cplus::Logger logger = log4cplus::Logger::getInstance("ErrorTest");
    FatalError fatal(1, "Unit", "no logger", nullptr, log4cplus::FATAL_LOG_LEVEL);
    EXPECT_STREQ(fatal.what(), "no logger");
    Error quiet(2, nullptr, "below the level", &logger, log4cplus::ERROR_LOG_LEVEL);
    EXPECT_TRUE(capture.lines().empty());
}

TEST(IImage, WrapsWithoutOwningAndGivesThePointerBack)
{
    std::vector<unsigned char> pixels(16, 0xAB);
    {
        auto* image = new IImage(pixels.data(), ISize(4, 2), idt_uint16);
        IObject* asObject = image;
        asObject->resetCheck();
        EXPECT_EQ(image->data(), pixels.data());
        EXPECT_EQ(image->size().width, 4);
        EXPECT_EQ(image->bytesPerPixel(), 2);
        delete asObject;
    }
    EXPECT_TRUE(std::all_of(pixels.begin(), pixels.end(), [](unsigned char b) { return b == 0xAB; }));
}
