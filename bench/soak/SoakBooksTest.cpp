// The soak's books: frame indexes across the 32-bit wrap, the fate of each
// image of a run, and the log lines that feed them.
#include "FrameIndexes.h"
#include "LogWatch.h"
#include "RunLedger.h"

#include <log4cplus/logger.h>
#include <log4cplus/loggingmacros.h>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

using orvex::bench::IndexTally;
using orvex::soak::LogWatch;
using orvex::soak::RunLedger;
using orvex::soak::RunOutcome;

namespace {

TEST(IndexTallyTest, CountsSkippedIndexesAcrossTheWrapAndRefusesRepeatsAndOlderOnes)
{
    IndexTally tally;
    EXPECT_TRUE(tally.take(0xFFFFFFFDu));
    EXPECT_TRUE(tally.take(0xFFFFFFFFu)); // 0xFFFFFFFE skipped
    EXPECT_FALSE(tally.take(0xFFFFFFFFu));
    EXPECT_FALSE(tally.take(0xFFFFFFFEu));
    EXPECT_TRUE(tally.take(1u));           // 0 skipped, across the wrap
    EXPECT_FALSE(tally.take(0x80000001u)); // half the counter away: behind, not ahead
    EXPECT_EQ(3u, tally.count());
    EXPECT_EQ(2u, tally.skipped());
    EXPECT_EQ(1u, tally.last());
}

RunOutcome ledgerOf(std::initializer_list<uint32_t> announced, std::initializer_list<uint32_t> dropped,
                    std::initializer_list<uint32_t> seen)
{
    RunLedger ledger;
    for (const uint32_t idx : announced)
        ledger.announced(idx);
    for (const uint32_t idx : dropped)
        ledger.dropped(idx);
    for (const uint32_t idx : seen)
        ledger.seen(idx);
    return ledger.close();
}

TEST(RunLedgerTest, EveryUnreadImageIsDroppedDiscardedAtTheStopOrALostNotification)
{
    const RunOutcome out = ledgerOf({1, 2, 3, 4, 5, 6, 7}, {3, 2}, {1, 2, 4, 5});
    EXPECT_EQ(7u, out.announced);
    EXPECT_EQ(4u, out.seen);
    EXPECT_EQ(1u, out.droppedUnseen) << "3; 2 was read before it aged out";
    EXPECT_EQ(2u, out.discardedAtStop) << "6 and 7 came after the last look";
    EXPECT_EQ(0u, out.lostNotifications);
    EXPECT_EQ(0u, out.unannounced);
    EXPECT_EQ(0u, out.skippedBySdk);

    const RunOutcome lost = ledgerOf({10, 11, 12, 13}, {}, {10, 12});
    EXPECT_EQ(1u, lost.lostNotifications) << "11: neither read nor dropped, and 12 reached the host";
    EXPECT_EQ(1u, lost.discardedAtStop);

    const RunOutcome nothingRead = ledgerOf({1, 2}, {}, {});
    EXPECT_EQ(2u, nothingRead.discardedAtStop);
    EXPECT_EQ(0u, nothingRead.lostNotifications);
}

TEST(RunLedgerTest, OrdersByTheFrameCounterModulo2To32)
{
    // 0 was announced before 1, which the host read: a lost notification,
    // not one discarded at the stop.
    const RunOutcome out = ledgerOf({0xFFFFFFFFu, 0, 1, 2}, {}, {0xFFFFFFFFu, 1});
    EXPECT_EQ(1u, out.lostNotifications);
    EXPECT_EQ(1u, out.discardedAtStop);
    EXPECT_EQ(0u, out.skippedBySdk);
}

TEST(RunLedgerTest, CountsGapsBetweenAnnouncedImagesAndImagesNobodyAnnounced)
{
    const RunOutcome out = ledgerOf({1, 2, 5, 6}, {}, {1, 2, 5, 6, 9});
    EXPECT_EQ(2u, out.skippedBySdk);
    EXPECT_EQ(1u, out.unannounced);
}

// --- the log lines --------------------------------------------------------------------

void streamLine(unsigned port, unsigned long idx)
{
    LOG4CPLUS_INFO(log4cplus::Logger::getInstance("Orvex.stream"),
                   "acquiFunction; new image grabbed; portId = " << port << ";\timgId = " << idx
                                                                 << ";\tframeCounter = " << idx
                                                                 << ";\tsw date = 12.500000");
}

void lostLine(unsigned long idx)
{
    LOG4CPLUS_INFO(log4cplus::Logger::getInstance("Orvex.lostStream"),
                   "image suppressed from imageBuffer 0x7f00 (became obsolete): (id:"
                       << idx << ", hwDate:-1.000, shutter:-10000, gain:-10000)");
}

TEST(LogWatchTest, StreamLinesFeedThePortsRunAndLostLinesTheRunOfTheThreadThatWroteThem)
{
    LogWatch watch;
    auto ledger = std::make_shared<RunLedger>();
    watch.openRun(3, ledger);
    std::thread acquisition([] {
        streamLine(3, 40);
        streamLine(3, 41);
        lostLine(40);
    });
    acquisition.join();
    streamLine(2, 99); // no run open for port 2
    lostLine(41);      // this thread never announced an image: a host-side drop
    ledger->seen(41);
    watch.closeRun(3);
    streamLine(3, 42); // after the run

    const RunOutcome out = ledger->close();
    EXPECT_EQ(2u, out.announced);
    EXPECT_EQ(1u, out.droppedUnseen);
    EXPECT_EQ(0u, out.lostNotifications);
}

TEST(LogWatchTest, AClosedRunHearsNothingMoreFromItsThreadNorFromLinesWithoutItsFields)
{
    const log4cplus::Logger stream = log4cplus::Logger::getInstance("Orvex.stream");
    const log4cplus::LogLevel before = stream.getLogLevel();
    auto ledger = std::make_shared<RunLedger>();
    {
        LogWatch watch;
        watch.openRun(0, ledger);
        LOG4CPLUS_INFO(stream, "acquiFunction; something else");
        streamLine(0, 7);
        watch.closeRun(0);
        lostLine(7); // this thread's run is over
    }
    EXPECT_EQ(before, stream.getLogLevel()) << "the watch puts the level back";
    const RunOutcome out = ledger->close();
    EXPECT_EQ(1u, out.announced);
    EXPECT_EQ(0u, out.droppedUnseen);
    EXPECT_EQ(1u, out.discardedAtStop);
}

TEST(LogWatchTest, CountsErrorsApartInsideExpectedTroubleAndLockFailuresAlone)
{
    LogWatch watch;
    const log4cplus::Logger orvex = log4cplus::Logger::getInstance("Orvex");
    LOG4CPLUS_ERROR(orvex, "something failed");
    LOG4CPLUS_ERROR(orvex, "something else failed");
    watch.expectTrouble(true);
    LOG4CPLUS_ERROR(orvex, "flycaptureLockLatest(...) returned an error: The camera has been removed");
    watch.expectTrouble(false);
    LOG4CPLUS_WARN(orvex, "not an error");
    streamLine(0, 1); // a child's INFO line reaches the parent's appenders too

    const LogWatch::Errors errors = watch.errors();
    EXPECT_EQ(2u, errors.unexpected);
    EXPECT_EQ(1u, errors.expected);
    EXPECT_EQ(1u, watch.lockFailures());
    EXPECT_EQ(3u, errors.byText.size());
}

} // namespace
