// The images buffer between an acquisition thread adding at full speed and a
// host that locks, captures the newest image, releases it and unlocks, in a
// loop. Run under ThreadSanitizer: a race here is a bug.
#include <orvex/ImagesBuffer.h>

#include "images/LostLineRecorder.h"
#include "images/TestWindow.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <ostream>
#include <thread>
#include <vector>

using orvex::images::test::LostLineRecorder;
using orvex::images::test::TestWindow;

namespace {

using SamplePtr = boost::shared_ptr<ImageSample>;

SamplePtr sampleOf(unsigned long idx)
{
    auto sample = boost::make_shared<ImageSample>();
    sample->setIdx(idx);
    sample->setSWDate(static_cast<double>(idx));
    sample->setParam(reinterpret_cast<void*>(static_cast<uintptr_t>(idx)));
    return sample;
}

unsigned long paramIdx(void* param)
{
    return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(param));
}

// How often each index appears across the given lists.
std::map<unsigned long, int> occurrences(std::initializer_list<const std::vector<unsigned long>*> lists)
{
    std::map<unsigned long, int> counts;
    for (const auto* list : lists) {
        for (unsigned long idx : *list)
            ++counts[idx];
    }
    return counts;
}

// Every index from 1 to `last` exactly once, and nothing else.
::testing::AssertionResult eachIndexOnce(const std::map<unsigned long, int>& counts, unsigned long last)
{
    if (counts.size() != last)
        return ::testing::AssertionFailure() << counts.size() << " distinct indexes instead of " << last;
    for (unsigned long idx = 1; idx <= last; ++idx) {
        auto found = counts.find(idx);
        if (found == counts.end() || found->second != 1) {
            return ::testing::AssertionFailure()
                   << "index " << idx << " seen " << (found == counts.end() ? 0 : found->second) << " times";
        }
    }
    return ::testing::AssertionSuccess();
}

struct StressSetting {
    unsigned long bufferMaxSize;
    unsigned int transitQueueMaxSize;
    int hostWorkWhileLocked; // reads of the captured image per capture
};

std::ostream& operator<<(std::ostream& out, const StressSetting& setting)
{
    return out << "max " << setting.bufferMaxSize << ", transit " << setting.transitQueueMaxSize << ", work "
               << setting.hostWorkWhileLocked;
}

class ImagesBufferStress : public ::testing::TestWithParam<StressSetting> {};

} // namespace

TEST_P(ImagesBufferStress, EveryImageIsCapturedDroppedOrStillBufferedExactlyOnce)
{
    constexpr unsigned long kImages = 20000;
    const StressSetting setting = GetParam();
    LostLineRecorder lost;
    ImagesBuffer buffer(true);
    buffer.setBufferMaxSize(setting.bufferMaxSize);
    buffer.setTransitQueueMaxSize(setting.transitQueueMaxSize);

    // The acquisition thread recycles obsolete parameters as it goes, as a
    // back end that lends its own buffers does.
    std::vector<unsigned long> recycled;
    std::atomic<bool> producing{true};
    std::thread acquisition([&] {
        for (unsigned long idx = 1; idx <= kImages; ++idx) {
            while (buffer.isObsoleteParamAvailable())
                recycled.push_back(paramIdx(buffer.getObsoleteParam()));
            buffer.addImage(sampleOf(idx));
        }
        producing.store(false);
    });

    std::vector<unsigned long> captured;
    double checksum = 0.0;
    while (producing.load()) {
        buffer.lockBuffer();
        if (buffer.getBufferSize() > 0) {
            const unsigned long newest = buffer.getBufferContent(0)->getIdx();
            SamplePtr image = buffer.captureImage(newest);
            captured.push_back(image->getIdx());
            for (int read = 0; read < setting.hostWorkWhileLocked; ++read)
                checksum += image->getSWDate();
            buffer.releaseImage();
        }
        buffer.unlockBuffer();
    }
    acquisition.join();
    EXPECT_GE(checksum, 0.0);

    // With the acquisition thread gone this thread may add: one last image
    // moves whatever still waits in transit into the buffer.
    buffer.addImage(sampleOf(kImages + 1));
    buffer.lockBuffer();
    std::vector<unsigned long> buffered;
    for (unsigned long pos = 0; pos < buffer.getBufferSize(); ++pos)
        buffered.push_back(paramIdx(buffer.getBufferContent(pos)->getParam()));
    while (buffer.isObsoleteParamAvailable())
        recycled.push_back(paramIdx(buffer.getObsoleteParam()));

    EXPECT_TRUE(std::is_sorted(captured.begin(), captured.end()) &&
                std::adjacent_find(captured.begin(), captured.end()) == captured.end())
        << "captured indexes must strictly increase";
    const std::vector<unsigned long> lostIds = lost.lostIds();
    EXPECT_TRUE(eachIndexOnce(occurrences({&captured, &lostIds, &buffered}), kImages + 1))
        << "every image is captured, reported lost or still buffered, once";
    EXPECT_TRUE(eachIndexOnce(occurrences({&recycled, &buffered}), kImages + 1))
        << "every parameter comes back once, unless its image is still buffered";
    RecordProperty("captured", static_cast<int>(captured.size()));
    RecordProperty("lost", static_cast<int>(lostIds.size()));
}

INSTANTIATE_TEST_SUITE_P(Settings, ImagesBufferStress,
                         ::testing::Values(StressSetting{3, 2, 0}, StressSetting{1, 0, 200},
                                           StressSetting{10, 4, 2000}));

// Samples that notify a window die on both threads (dropped on the
// acquisition thread, released on the host's); the window's owner gets one
// message per sample and frees each buffer once, which AddressSanitizer checks.
TEST(ImagesBufferThreaded, EverySampleNotifiesItsWindowOnceWhicheverThreadItDiesOn)
{
    constexpr unsigned long kImages = 5000; // below the window queue's quota
    constexpr UINT kSampleDiedMsg = WM_APP + 18;
    LostLineRecorder quiet(log4cplus::OFF_LOG_LEVEL);
    TestWindow window;
    ASSERT_NE(window.handle(), nullptr);
    ImagesBuffer buffer(false);

    std::atomic<bool> producing{true};
    std::thread acquisition([&] {
        for (unsigned long idx = 1; idx <= kImages; ++idx) {
            auto* pixels = new unsigned char[16]();
            auto sample = boost::make_shared<ImageSample>();
            sample->setIdx(idx);
            sample->setImage(new IImage(pixels, ISize(4, 4), idt_uint8));
            sample->setNotifiedWndOnDelete(window.handle(), kSampleDiedMsg, pixels);
            buffer.addImage(std::move(sample));
        }
        producing.store(false);
    });

    unsigned long notices = 0;
    auto freeNotified = [&] {
        for (const MSG& msg : window.take(kSampleDiedMsg)) {
            delete[] reinterpret_cast<unsigned char*>(msg.lParam);
            ++notices;
        }
    };
    while (producing.load()) {
        buffer.lockBuffer();
        if (buffer.getBufferSize() > 0) {
            buffer.captureImage(buffer.getBufferContent(0)->getIdx());
            buffer.releaseImage();
        }
        buffer.unlockBuffer();
        freeNotified();
    }
    acquisition.join();
    buffer.reset();
    freeNotified();
    EXPECT_EQ(notices, kImages);
}
