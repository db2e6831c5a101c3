// The preview slot between the viewer's main thread and its HTTP threads:
// the main thread spends an encoding on an image only once the page took
// the last one (a camera faster than the page costs no encoding nobody
// sees); an encoding always belongs to the image it comes with; a failing
// encoder costs the image nothing; an image that is its own preview is
// encoded where it lies, without a copy; readers on other threads see whole
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

using orvex::cli::GreyImage;
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

// The pixels of image `index`, as frameNumber holds them.
struct PixelsOf {
    explicit PixelsOf(uint32_t index) : bytes{static_cast<uint8_t>(index), static_cast<uint8_t>(index >> 8)}
    {
    }
    GreyImage image() const { return {bytes, 2, 1, 1}; }
    uint8_t bytes[2];
};

std::string encodingOf(uint32_t index)
{
    return "encoded " + std::to_string(index);
}

// What the test's encoder makes of the pixels of image `index`.
std::string encode(const GreyImage& image)
{
    return encodingOf(image.pixels[0] + 256u * image.pixels[1]);
}

// An encoder that counts its calls and keeps where the last pixels lay.
struct CountingEncoder {
    std::shared_ptr<std::atomic<int>> calls = std::make_shared<std::atomic<int>>(0);
    std::shared_ptr<const uint8_t*> lastPixels = std::make_shared<const uint8_t*>(nullptr);
    PreviewSlot::LiveEncoder encoder()
    {
        return [calls = calls, lastPixels = lastPixels](const GreyImage& image) {
            ++*calls;
            *lastPixels = image.pixels;
            return encode(image);
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
    failing.setLiveEncoder([](const GreyImage&) -> std::string { throw std::runtime_error("no encoding"); });
    failing.liveSent();
    EXPECT_NO_THROW(failing.publish(frameNumber(8)));
    EXPECT_EQ(failing.latest().frame->index, 8u);
    EXPECT_EQ(failing.latest().live, nullptr);
    // The failure does not stop the encoding of later images once asked.
    failing.setLiveEncoder(&encode);
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
    slot.setLiveEncoder(&encode);
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
                // Published encoded without its pixels, or with them.
                if (preview.frame->pixels.empty()
                        ? preview.live == nullptr
                        : preview.frame->pixels[0] != static_cast<uint8_t>(preview.frame->index))
                    ++mismatches;
                if (preview.live != nullptr) {
                    ++encodedSeen;
                    if (*preview.live != encodingOf(preview.frame->index))
                        ++mismatches;
                }
                slot.liveSent();
                ++reads;
            }
        });
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (uint32_t i = 1; i <= kImages; ++i) {
        // Every other image is its own preview, as a VGA camera's is.
        const PixelsOf pixels(i);
        if (i % 2 == 0 || !slot.publishEncoded(pixels.image(), i))
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

TEST(ViewPreviewSlot, AnImageThatIsItsOwnPreviewIsEncodedWhereItLiesOnlyWhenDue)
{
    PreviewSlot slot;
    CountingEncoder counting;
    slot.setLiveEncoder(counting.encoder());
    const PixelsOf first(1), second(2), third(3);

    // Nobody took an answer yet: not encoded, nothing published; the
    // caller copies the image and publishes that.
    EXPECT_FALSE(slot.publishEncoded(first.image(), 1));
    EXPECT_EQ(slot.latest().frame, nullptr);
    EXPECT_EQ(*counting.calls, 0);

    // Due: encoded from the caller's pixels themselves, which are not kept.
    slot.liveSent();
    EXPECT_TRUE(slot.publishEncoded(second.image(), 2));
    EXPECT_EQ(*counting.lastPixels, second.bytes);
    const Preview preview = slot.latest();
    ASSERT_NE(preview.frame, nullptr);
    EXPECT_EQ(preview.frame->index, 2u);
    EXPECT_EQ(preview.frame->width, 2u);
    EXPECT_EQ(preview.frame->height, 1u);
    EXPECT_TRUE(preview.frame->pixels.empty());
    ASSERT_NE(preview.live, nullptr);
    EXPECT_EQ(*preview.live, "encoded 2");

    // That encoding answered nobody yet: the next image is not encoded.
    EXPECT_FALSE(slot.publishEncoded(third.image(), 3));
    EXPECT_EQ(slot.latest().frame->index, 2u);
    EXPECT_EQ(*counting.calls, 1);

    // A stop empties the slot and the page asks anew.
    slot.liveSent();
    slot.clear();
    EXPECT_FALSE(slot.publishEncoded(third.image(), 3));
    EXPECT_EQ(slot.latest().frame, nullptr);

    PreviewSlot plain; // no encoder: always copied
    plain.liveSent();
    EXPECT_FALSE(plain.publishEncoded(first.image(), 1));
    EXPECT_EQ(plain.latest().frame, nullptr);
}

TEST(ViewPreviewSlot, AFailedEncodingWhereTheImageLiesLeavesTheCopyToTheRequest)
{
    PreviewSlot slot;
    int calls = 0;
    slot.setLiveEncoder([&calls](const GreyImage&) -> std::string {
        ++calls;
        throw std::runtime_error("no encoding");
    });
    slot.liveSent();
    const PixelsOf pixels(4);
    EXPECT_FALSE(slot.publishEncoded(pixels.image(), 4));
    EXPECT_EQ(slot.latest().frame, nullptr);
    // The copy the caller then publishes keeps its pixels and is not
    // encoded again: the request encodes it and answers with the error.
    slot.publish(frameNumber(4));
    EXPECT_EQ(calls, 1);
    const Preview preview = slot.latest();
    ASSERT_NE(preview.frame, nullptr);
    EXPECT_EQ(preview.frame->pixels.size(), 2u);
    EXPECT_EQ(preview.live, nullptr);
}

} // namespace
