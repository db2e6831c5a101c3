// The images buffer on one thread: which images it keeps, drops and reports,
// capture and release, obsolete parameters, and the lost-image line.
#include <orvex/ImagesBuffer.h>
#include <orvex/OrvexError.h>

#include "images/ImagesTexts.h"
#include "images/LostLineRecorder.h"

#include "support/ErrorOf.h"
#include <gmock/gmock.h>

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <boost/weak_ptr.hpp>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

using namespace orvex::images;
using orvex::images::test::LostLineRecorder;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

using orvex::test::errorOf;

namespace {

using SamplePtr = boost::shared_ptr<ImageSample>;

// A sample without pixels, tagged with its own index as parameter.
SamplePtr sampleOf(unsigned long idx)
{
    auto sample = boost::make_shared<ImageSample>();
    sample->setIdx(idx);
    sample->setParam(reinterpret_cast<void*>(static_cast<uintptr_t>(idx)));
    return sample;
}

unsigned long paramIdx(void* param)
{
    return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(param));
}

class ImagesBufferTest : public ::testing::Test {
protected:
    void add(std::initializer_list<unsigned long> indexes)
    {
        for (unsigned long idx : indexes)
            buffer.addImage(sampleOf(idx));
    }

    // The buffered indexes, lowest first. Locks and unlocks around the reads.
    std::vector<unsigned long> contents()
    {
        buffer.lockBuffer();
        std::vector<unsigned long> indexes;
        for (unsigned long pos = buffer.getBufferSize(); pos-- > 0;)
            indexes.push_back(buffer.getBufferContent(pos)->getIdx());
        buffer.unlockBuffer();
        return indexes;
    }

    std::vector<unsigned long> obsoleteParams()
    {
        std::vector<unsigned long> params;
        while (buffer.isObsoleteParamAvailable())
            params.push_back(paramIdx(buffer.getObsoleteParam()));
        return params;
    }

    LostLineRecorder lost;
    ImagesBuffer buffer{false};
};

} // namespace

TEST_F(ImagesBufferTest, KeepsTheNewestImagesWithinItsReach)
{
    add({10, 11, 12, 13});
    EXPECT_THAT(contents(), ElementsAre(11, 12, 13));
    EXPECT_THAT(lost.lostIds(), ElementsAre(10));
}

TEST_F(ImagesBufferTest, AgesImagesByIndexNotByCount)
{
    add({10, 13});
    EXPECT_THAT(contents(), ElementsAre(10, 13)) << "13 - 10 is not greater than 3";
    add({20});
    EXPECT_THAT(contents(), ElementsAre(20));
    EXPECT_THAT(lost.lostIds(), ElementsAre(10, 13));
}

TEST_F(ImagesBufferTest, ARestartedCounterMakesHigherIndexesObsolete)
{
    add({11, 12, 5});
    EXPECT_THAT(contents(), ElementsAre(5));
    EXPECT_THAT(lost.lostIds(), ElementsAre(11, 12));

    ImagesBuffer full(false);
    LostLineRecorder fullLost;
    for (unsigned long idx : {11, 12, 13, 5})
        full.addImage(sampleOf(idx));
    full.lockBuffer();
    EXPECT_EQ(full.getBufferSize(), 0ul);
    // The count rule removes the newcomer, the lowest index, before the age rule runs.
    EXPECT_THAT(fullLost.lostIds(), ElementsAre(5, 11, 12, 13));
}

TEST_F(ImagesBufferTest, AgesAreComputedModulo2To32AcrossACounterWrap)
{
    add({0xFFFFFFFEul, 0xFFFFFFFFul, 0});
    // 0 - 0xFFFFFFFE is 2 in 32 bits, so nothing is obsolete yet; the buffer
    // orders by index, so the wrapped image is the lowest.
    EXPECT_THAT(contents(), ElementsAre(0, 0xFFFFFFFEul, 0xFFFFFFFFul));
    EXPECT_THAT(lost.lostIds(), IsEmpty());
    add({1});
    EXPECT_THAT(contents(), ElementsAre(1, 0xFFFFFFFEul, 0xFFFFFFFFul));
    add({2, 3});
    EXPECT_THAT(contents(), ElementsAre(2, 3));
    EXPECT_THAT(lost.lostIds(), ElementsAre(0, 1, 0xFFFFFFFEul, 0xFFFFFFFFul));
}

TEST_F(ImagesBufferTest, IndexesAreComparedByTheirLow32Bits)
{
    if (sizeof(unsigned long) < 8)
        GTEST_SKIP() << "unsigned long is 32 bits here";
    const auto beyond32Bits = static_cast<unsigned long>(0x100000000ull); // compiles where it is 32 bits
    add({0xFFFFFFFFul, beyond32Bits}); // the second reads as 0, one frame later
    EXPECT_THAT(contents(), ElementsAre(beyond32Bits, 0xFFFFFFFFul));
    buffer.lockBuffer();
    EXPECT_EQ(buffer.captureImage(0)->getIdx(), beyond32Bits);
}

TEST_F(ImagesBufferTest, AnIndexAlreadyBufferedIsLetGoSilently)
{
    buffer.keepObsoleteParams(true);
    add({10, 11});
    auto duplicate = sampleOf(11);
    duplicate->setParam(nullptr);
    boost::weak_ptr<ImageSample> watch = duplicate;
    buffer.addImage(std::move(duplicate));
    EXPECT_TRUE(watch.expired());
    buffer.lockBuffer();
    EXPECT_EQ(buffer.getBufferContent(0)->getParam(), reinterpret_cast<void*>(11));
    buffer.unlockBuffer();
    EXPECT_THAT(lost.lostIds(), IsEmpty());
    EXPECT_THAT(obsoleteParams(), IsEmpty());
}

TEST_F(ImagesBufferTest, ALoweredMaximumIsReachedThroughTheAgeRule)
{
    buffer.setBufferMaxSize(10);
    add({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    buffer.setBufferMaxSize(3);
    EXPECT_EQ(buffer.getBufferMaxSize(), 3);
    add({11});
    EXPECT_THAT(contents(), ElementsAre(8, 9, 10, 11));
    add({12});
    EXPECT_THAT(contents(), ElementsAre(9, 10, 11, 12));
    add({13});
    EXPECT_THAT(contents(), ElementsAre(10, 11, 12, 13));
    EXPECT_EQ(errorOf([&] { buffer.setBufferMaxSize(0); }), kBufferMaxSizeZero);
    EXPECT_EQ(buffer.getBufferMaxSize(), 3);
}

TEST_F(ImagesBufferTest, WhileLockedOnlyTheNewestImagesWaitInTransit)
{
    buffer.lockBuffer();
    add({1, 2, 3, 4});
    EXPECT_THAT(lost.lostIds(), ElementsAre(1, 2));
    EXPECT_EQ(buffer.getBufferSize(), 0ul);
    buffer.unlockBuffer();
    EXPECT_THAT(contents(), IsEmpty()) << "unlocking alone moves nothing";
    add({5});
    EXPECT_THAT(contents(), ElementsAre(3, 4, 5));
    EXPECT_THAT(lost.lostIds(), ElementsAre(1, 2));
}

TEST_F(ImagesBufferTest, AnEmptyTransitQueueDropsEverythingAddedWhileLocked)
{
    buffer.setTransitQueueMaxSize(0);
    add({1});
    buffer.lockBuffer();
    add({2, 3});
    EXPECT_EQ(buffer.getBufferSize(), 1ul);
    EXPECT_THAT(lost.lostIds(), ElementsAre(2, 3));
}

TEST_F(ImagesBufferTest, ReadingNeedsTheLockAndAValidPosition)
{
    add({11, 12, 13});
    EXPECT_EQ(errorOf([&] { buffer.getBufferSize(); }), kMustLockBuffer);
    EXPECT_EQ(errorOf([&] { buffer.getBufferContent(0); }), kMustLockBuffer);
    EXPECT_EQ(errorOf([&] { buffer.captureImage(11); }), kMustLockBuffer);
    buffer.lockBuffer();
    EXPECT_EQ(buffer.getBufferContent(0)->getIdx(), 13ul);
    EXPECT_EQ(buffer.getBufferContent(2)->getIdx(), 11ul);
    EXPECT_EQ(errorOf([&] { buffer.getBufferContent(3); }), "invalid buffer position idx (3 greater than 3");
    EXPECT_EQ(buffer.getBufferSize(), 3ul);
}

TEST_F(ImagesBufferTest, CapturingConsumesTheImageAndEverythingOlder)
{
    add({11, 12, 13});
    buffer.lockBuffer();
    SamplePtr captured = buffer.captureImage(12);
    EXPECT_EQ(captured->getIdx(), 12ul);
    EXPECT_TRUE(buffer.isImageCaptured());
    EXPECT_EQ(buffer.getCapturedImage(), captured);
    EXPECT_EQ(buffer.getBufferSize(), 1ul);
    EXPECT_EQ(buffer.getBufferContent(0)->getIdx(), 13ul);
    EXPECT_THAT(lost.lostIds(), ElementsAre(11));

    EXPECT_EQ(errorOf([&] { buffer.captureImage(13); }), kAlreadyCaptured);
    EXPECT_EQ(buffer.getBufferSize(), 1ul);
    buffer.releaseImage();
    EXPECT_FALSE(buffer.isImageCaptured());
    EXPECT_EQ(errorOf([&] { buffer.captureImage(12); }), kInvalidImageIdx);
    EXPECT_EQ(buffer.captureImage(13)->getIdx(), 13ul);
    EXPECT_THAT(lost.lostIds(), ElementsAre(11)) << "captured images are not reported lost";
}

TEST_F(ImagesBufferTest, ReleasingOrReadingWithoutACaptureIsRefused)
{
    EXPECT_FALSE(buffer.isImageCaptured());
    EXPECT_EQ(errorOf([&] { buffer.releaseImage(); }), kNoImageCaptured);
    EXPECT_EQ(errorOf([&] { buffer.getCapturedImage(); }), kNoImageCaptured);
}

TEST_F(ImagesBufferTest, ObsoleteParamsComeBackInTheOrderImagesLeft)
{
    EXPECT_EQ(errorOf([&] { buffer.isObsoleteParamAvailable(); }), kObsoleteParamsNotKept);
    EXPECT_EQ(errorOf([&] { buffer.getObsoleteParam(); }), kObsoleteParamsNotKept);
    add({1, 2, 3, 4}); // 1 is dropped while not keeping: its parameter is not kept
    buffer.keepObsoleteParams(true);
    EXPECT_TRUE(buffer.areObsoleteParamsKept());
    EXPECT_EQ(errorOf([&] { buffer.getObsoleteParam(); }), kNoObsoleteParam);

    add({5}); // count rule drops 2
    buffer.lockBuffer();
    add({6, 7, 8});         // 6 dropped from transit
    buffer.captureImage(4); // drops 3
    buffer.releaseImage();  // 4 released
    buffer.unlockBuffer();
    add({9}); // moves 7, 8, 9 in: count rule drops 5
    EXPECT_THAT(obsoleteParams(), ElementsAre(2, 6, 3, 4, 5));
    EXPECT_THAT(lost.lostIds(), ElementsAre(1, 2, 6, 3, 5));

    add({10});
    buffer.keepObsoleteParams(false);
    buffer.keepObsoleteParams(true);
    EXPECT_FALSE(buffer.isObsoleteParamAvailable()) << "switching keeping off forgets what was kept";
}

TEST_F(ImagesBufferTest, DroppedAndReleasedSamplesDieWithTheirLastReference)
{
    auto first = sampleOf(1);
    boost::weak_ptr<ImageSample> watchFirst = first;
    buffer.addImage(std::move(first));
    add({2, 3, 4});
    EXPECT_TRUE(watchFirst.expired());

    buffer.lockBuffer();
    boost::weak_ptr<ImageSample> watchCaptured = buffer.captureImage(3);
    EXPECT_FALSE(watchCaptured.expired());
    buffer.releaseImage();
    EXPECT_TRUE(watchCaptured.expired());
}

TEST_F(ImagesBufferTest, ResetLetsGoOfEverything)
{
    buffer.keepObsoleteParams(true);
    add({1, 2, 3});
    buffer.lockBuffer();
    boost::weak_ptr<ImageSample> captured = buffer.captureImage(2);
    add({4}); // waits in transit
    boost::weak_ptr<ImageSample> waiting;
    {
        auto fifth = sampleOf(5);
        waiting = fifth;
        buffer.addImage(std::move(fifth));
    }
    buffer.reset();
    EXPECT_FALSE(buffer.isImageCaptured());
    EXPECT_TRUE(captured.expired());
    EXPECT_TRUE(waiting.expired());
    EXPECT_EQ(buffer.getBufferSize(), 0ul);
    EXPECT_FALSE(buffer.isObsoleteParamAvailable());
    buffer.unlockBuffer();
    add({6});
    EXPECT_THAT(contents(), ElementsAre(6));
}

TEST_F(ImagesBufferTest, BuildsSamplesFromRawFrames)
{
    std::vector<unsigned char> frame(8, 42);
    buffer.addImage(7, 1.0, 2.0, frame.data(), 8, 4, 2, imgv_valid, 100, 5, true, nullptr, 0, nullptr);
    EXPECT_EQ(errorOf([&] {
                  buffer.addImage(8, 1.0, 2.0, frame.data(), 8, 2, 1, imgv_valid, 100, 5, true, nullptr, 0,
                                  nullptr);
              }),
              kUnknownPixelFormat);
    EXPECT_EQ(errorOf([&] { buffer.addImage(SamplePtr()); }), kNullSample);
    buffer.lockBuffer();
    ASSERT_EQ(buffer.getBufferSize(), 1ul);
    SamplePtr sample = buffer.getBufferContent(0);
    EXPECT_EQ(sample->getIdx(), 7ul);
    ASSERT_NE(sample->getImage(), nullptr);
    EXPECT_EQ(sample->getImage()->dataType(), idt_uint8);
}

TEST_F(ImagesBufferTest, ACopyIsIndependentAndHasItsOwnLocks)
{
    buffer.keepObsoleteParams(true);
    buffer.setBufferMaxSize(5);
    add({1, 2, 3});
    buffer.lockBuffer();
    buffer.captureImage(1);
    add({4});
    ImagesBuffer copy(buffer);
    EXPECT_TRUE(copy.isImageCaptured());
    EXPECT_EQ(copy.getBufferMaxSize(), 5);
    EXPECT_TRUE(copy.areObsoleteParamsKept());
    EXPECT_EQ(copy.getBufferSize(), 2ul) << "the copy is locked too";

    copy.unlockBuffer();
    copy.addImage(sampleOf(5)); // moves 4 and 5 into the copy only
    copy.lockBuffer();
    EXPECT_EQ(copy.getBufferSize(), 4ul);
    EXPECT_EQ(buffer.getBufferSize(), 2ul);

    ImagesBuffer assigned(false);
    assigned = copy;
    EXPECT_EQ(assigned.getBufferSize(), 4ul);
    assigned.releaseImage();
    EXPECT_TRUE(copy.isImageCaptured());
}

// The lost-image line names the buffer, and gives the index, the hardware
// date with three decimals and the shutter and gain as signed numbers.
TEST(ImagesBufferLostLine, ReportsEachDroppedImageAtInfo)
{
    LostLineRecorder lost(log4cplus::INFO_LOG_LEVEL);
    ImagesBuffer buffer(false);
    auto known = boost::make_shared<ImageSample>();
    known->setIdx(4000000000ul);
    known->setHWDate(12.3456);
    known->setShutter(1500);
    known->setGain(-25);
    buffer.logLostImage(*known);
    auto unknown = boost::make_shared<ImageSample>();
    unknown->setIdx(7);
    buffer.logLostImage(*unknown);

    std::ostringstream address;
    address << std::hex << reinterpret_cast<uintptr_t>(&buffer);
    const auto lines = lost.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].level, log4cplus::INFO_LOG_LEVEL);
    EXPECT_EQ(lines[0].text,
              "image suppressed from imageBuffer 0x" + address.str() +
                  " (became obsolete): (id:4000000000, hwDate:12.346, shutter:1500, gain:-25)");
    EXPECT_EQ(lines[1].text, "image suppressed from imageBuffer 0x" + address.str() +
                                 " (became obsolete): (id:7, hwDate:-1.000, shutter:-10000, gain:-10000)");
}

TEST(ImagesBufferLostLine, NothingIsWrittenBelowInfo)
{
    LostLineRecorder lost(log4cplus::WARN_LOG_LEVEL);
    ImagesBuffer buffer(false);
    for (unsigned long idx = 1; idx <= 10; ++idx)
        buffer.addImage(sampleOf(idx));
    EXPECT_THAT(lost.lines(), IsEmpty());
}

TEST(ImagesBufferLostLine, HugeDatesAreWrittenInFull)
{
    LostLineRecorder lost;
    ImagesBuffer buffer(false);
    ImageSample sample;
    sample.setHWDate(1e300);
    buffer.logLostImage(sample);
    const auto lines = lost.lines();
    ASSERT_EQ(lines.size(), 1u);
    const std::string& text = lines[0].text;
    const size_t date = text.find("hwDate:1");
    ASSERT_NE(date, std::string::npos);
    EXPECT_EQ(text.find(".000, shutter:"), date + 7 + 301) << text;
}
