// The preview slot between the viewer's main thread and its HTTP threads:
// the main thread spends an encoding on an image only once the page took
// the last one (a camera faster than the page costs no encoding nobody
// sees); an encoding always belongs to the image it comes with; a failing
// encoder costs the image nothing; readers on other threads see whole
// previews while the main thread publishes.
#include "view/Previews.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using orvex::cli::Preview;
using orvex::cli::PreviewSlot;
using orvex::cli::ViewFrame;

namespace {

std::shared_ptr<const ViewFrame> frameNumber(uint32_t index)
{
    auto frame = std::make_shared<ViewFrame>();
    frame->width = 2;
    frame->height = 1;
    frame->index = index;
    frame->pixels = {static_cast<uint8_t>(index), static_cast<uint8_t>(index >> 8)};
    return frame;
}

std::string encodingOf(const ViewFrame& frame)
{
    return "encoded " + std::to_string(frame.index);
}

// An encoder that counts its calls.
struct CountingEncoder {
    std::shared_ptr<std::atomic<int>> calls = std::make_shared<std::atomic<int>>(0);
    PreviewSlot::LiveEncoder encoder()
    {
        return [calls = calls](const ViewFrame& frame) {
            ++*calls;
            return encodingOf(frame);
        };
    }
};

TEST(ViewPreviewSlot, EncodesAnImageAsItComesOnlyOnceTheLastAnswerWentOut)
{
    PreviewSlot slot;
    CountingEncoder counting;
    slot.setLiveEncoder(counting.encoder());

    // Nobody asked yet: the first image is left to the request.
    slot.publish(frameNumber(1));
    EXPECT_EQ(slot.latest().frame->index, 1u);
    EXPECT_EQ(slot.latest().live, nullptr);
    EXPECT_EQ(*counting.calls, 0);

    // An answer went out: the next image comes encoded, with its own bytes.
    slot.liveSent();
    slot.publish(frameNumber(2));
    Preview preview = slot.latest();
    ASSERT_NE(preview.live, nullptr);
    EXPECT_EQ(preview.frame->index, 2u);
    EXPECT_EQ(*preview.live, "encoded 2");

    // The camera is faster than the page: the image that follows an
    // unanswered one is not encoded.
    slot.publish(frameNumber(3));
    EXPECT_EQ(slot.latest().live, nullptr);
    EXPECT_EQ(slot.latest().frame->index, 3u);
    EXPECT_EQ(*counting.calls, 1);

    // Several answers of one image ask for one encoding of the next.
    slot.liveSent();
    slot.liveSent();
    slot.publish(frameNumber(4));
    slot.publish(frameNumber(5));
    EXPECT_EQ(*counting.calls, 2);
    EXPECT_EQ(slot.latest().live, nullptr);

    // Emptied (stop, start, removal): nothing, and the page asks anew
    // before the next image is encoded.
    slot.liveSent();
    slot.clear();
    EXPECT_EQ(slot.latest().frame, nullptr);
    EXPECT_EQ(slot.latest().live, nullptr);
    slot.publish(frameNumber(6));
    EXPECT_EQ(slot.latest().live, nullptr);
    EXPECT_EQ(*counting.calls, 2);
}

TEST(ViewPreviewSlot, WithoutAnEncoderOrWhenItFailsTheImageIsStillPublished)
{
    PreviewSlot plain;
    plain.liveSent();
    plain.publish(frameNumber(7));
    EXPECT_EQ(plain.latest().frame->index, 7u);
    EXPECT_EQ(plain.latest().live, nullptr);

    PreviewSlot failing;
    failing.setLiveEncoder([](const ViewFrame&) -> std::string { throw std::runtime_error("no encoding"); });
    failing.liveSent();
    EXPECT_NO_THROW(failing.publish(frameNumber(8)));
    EXPECT_EQ(failing.latest().frame->index, 8u);
    EXPECT_EQ(failing.latest().live, nullptr);
    // The failure does not stop the encoding of later images once asked.
    failing.setLiveEncoder(&encodingOf);
    failing.liveSent();
    failing.publish(frameNumber(9));
    ASSERT_NE(failing.latest().live, nullptr);
    EXPECT_EQ(*failing.latest().live, "encoded 9");
}

// One publisher (the main thread), readers that answer and mark their
// answers sent (the HTTP threads): every preview read is whole, its
// encoding that of its own image, and images never go back.
TEST(ViewPreviewSlot, ReadersOnOtherThreadsSeeWholePreviewsInOrder)
{
    PreviewSlot slot;
    slot.setLiveEncoder(&encodingOf);
    constexpr uint32_t kImages = 400;
    std::atomic<bool> done{false};
    std::atomic<int> mismatches{0}, backwards{0}, encodedSeen{0}, reads{0};
    constexpr int kReaders = 2;
    std::vector<std::thread> readers;
    readers.reserve(kReaders);
    for (int r = 0; r < kReaders; ++r) {
        readers.emplace_back([&] {
            uint32_t last = 0;
            while (!done.load()) {
                const Preview preview = slot.latest();
                slot.watch();
                if (preview.frame == nullptr)
                    continue;
                if (preview.frame->index < last)
                    ++backwards;
                last = preview.frame->index;
                if (preview.frame->pixels[0] != static_cast<uint8_t>(preview.frame->index))
                    ++mismatches;
                if (preview.live != nullptr) {
                    ++encodedSeen;
                    if (*preview.live != encodingOf(*preview.frame))
                        ++mismatches;
                }
                slot.liveSent();
                ++reads;
            }
        });
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (uint32_t i = 1; i <= kImages; ++i) {
        slot.publish(frameNumber(i));
        // Each image read at least once before the next, as a page would.
        const int before = reads.load();
        while (reads.load() == before && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
    }
    done.store(true);
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(backwards.load(), 0);
    EXPECT_GT(encodedSeen.load(), 0);
    EXPECT_EQ(slot.latest().frame->index, kImages);
}

} // namespace
