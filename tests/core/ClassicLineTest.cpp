// The per-image log lines are built without a stream: what they write must
// be what a stream set to std::fixed writes in the classic locale.
#include "base/ClassicLine.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <limits>
#include <locale>
#include <random>
#include <sstream>

namespace {

template <class Value> void expectAsStream(Value value)
{
    std::ostringstream stream;
    stream.imbue(std::locale::classic());
    stream << std::fixed << "x = " << value << ";";
    orvex::ClassicLine line;
    line << "x = " << value << ";";
    EXPECT_EQ(stream.str(), line.str());
}

TEST(ClassicLine, WritesNumbersAsAFixedStreamInTheClassicLocale)
{
    for (const double d :
         {0.0, -0.0, 1.0, -1.5, 0.1, 0.0000004, 0.0000005, 0.0000015, 2.5e-7, 123456.789012345, -98765.4321,
          1e15, 1.7976931348623157e308, -DBL_MAX, DBL_MIN, 4.9e-324, std::numeric_limits<double>::infinity(),
          -std::numeric_limits<double>::infinity()})
        expectAsStream(d);
    std::mt19937_64 random(29);
    std::uniform_real_distribution<double> dates(0.0, 1e9);
    for (int i = 0; i < 2000; ++i)
        expectAsStream(dates(random));
    expectAsStream(static_cast<unsigned short>(65535));
    expectAsStream(0UL);
    expectAsStream(ULONG_MAX);
    expectAsStream(LONG_MIN);
    expectAsStream(-1L);
    expectAsStream(static_cast<uint32_t>(4294967295u));
}

TEST(ClassicLine, KnowsWhenTheGlobalLocaleWouldChangeAStream)
{
    EXPECT_TRUE(orvex::ClassicLine::matchesStreams());
    struct CommaPoint : std::numpunct<char> {
        char do_decimal_point() const override { return ','; }
    };
    const std::locale previous = std::locale::global(std::locale(std::locale::classic(), new CommaPoint));
    EXPECT_FALSE(orvex::ClassicLine::matchesStreams());
    std::locale::global(previous);
    EXPECT_TRUE(orvex::ClassicLine::matchesStreams());
}

} // namespace
