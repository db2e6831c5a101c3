// The exported vocabulary: texts, errors and version exports that hosts
// compare against.
#include <orvex/orvex.h>

#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>

using orvex::test::LogCapture;

TEST(Vocabulary, TriggerModeTextsAndUnknownValues)
{
    EXPECT_EQ(to_string(camtm_exposureTimed), "camtm_exposureTimed");
    EXPECT_EQ(to_string(camtm_triggerWidth), "camtm_triggerWidth");
    EXPECT_EQ(to_string(static_cast<CameraTriggerMode>(2)), "unknown");
    EXPECT_EQ(to_string(static_cast<CameraTriggerMode>(-1)), "unknown");
}

TEST(Vocabulary, SmartFeatureLoggedNames)
{
    EXPECT_EQ(smartFeatureLoggedName(sf_extendedDataStream), "ExtendedDataStream");
    EXPECT_EQ(smartFeatureLoggedName(sf_gpioStatus), "GPIOStatus");
    EXPECT_EQ(smartFeatureLoggedName(static_cast<SmartFeatureEnum>(3)), "");
    EXPECT_EQ(smartFeatureLoggedName(static_cast<SmartFeatureEnum>(10)), "");
    EXPECT_EQ(smartFeatureLoggedName(static_cast<SmartFeatureEnum>(-1)), "");
}

TEST(OrvexErrors, RecoverableErrorsReachOrvexAtErrorAndKeepTheirMessage)
{
    LogCapture capture("Orvex");
    try {
        ORVEX_THROW("VocabularyTest", "something was refused");
        FAIL() << "no throw";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "something was refused");
        EXPECT_NE(dynamic_cast<const OrvexError*>(&e), nullptr);
    }
    ASSERT_EQ(capture.lines().size(), 1u);
    EXPECT_EQ(capture.lines()[0].level, orvex::kLevelError);
    EXPECT_EQ(capture.lines()[0].message, "something was refused");
}

TEST(OrvexErrors, FatalErrorsCarryNoLoggerAndAreNotRecoverableErrors)
{
    LogCapture capture("Orvex");
    try {
        ORVEX_THROW_FATAL("VocabularyTest", "class lookup failed");
        FAIL() << "no throw";
    } catch (const Error&) {
        FAIL() << "a fatal error must not be caught as a recoverable one";
    } catch (const OrvexFatalError& e) {
        EXPECT_STREQ(e.what(), "class lookup failed");
    }
    EXPECT_TRUE(capture.lines().empty());
}

TEST(Version, TextsNumbersAndAStableBuffer)
{
    const char* text = GetDllVersion();
    EXPECT_STREQ(text, "32-bit Edition Version 1.1 Build 1112 2010-02-08 ");
    EXPECT_EQ(GetDllVersion(), text);
    const wchar_t* wide = GetDllVersionUnicode();
    EXPECT_EQ(std::wcscmp(wide, L"32-bit Edition Version 1.1 Build 1112 2010-02-08 "), 0);
    // The numbers are the text's.
    const std::string numbers = "Version " + std::to_string(GetDllVersionMajor()) + "." +
                                std::to_string(GetDllVersionMinor()) + " Build " +
                                std::to_string(GetDllBuildNumber());
    EXPECT_NE(std::string(text).find(numbers), std::string::npos) << numbers;
}

TEST(Loggers, ExistByNameAsSoonAsTheLibraryIsLoaded)
{
    for (const char* name : {"Orvex", "Orvex.config", "Orvex.stream", "Orvex.lostStream"})
        EXPECT_TRUE(log4cplus::Logger::exists(name)) << name;
    EXPECT_EQ(g_OrvexLostStreamLogger.getName(), "Orvex.lostStream");
}
