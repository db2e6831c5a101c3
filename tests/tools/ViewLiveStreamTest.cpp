// A camera's live stream over its preview slot, without the HTTP server:
// each part is the newest image not sent yet, framed for a multipart
// answer; streams on one camera share one encoding per image; a stream
// keeps the camera watched and is woken by each new image while it
// listens; it ends at the camera's stop, restart or removal.
#include "view/LiveStream.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>

using orvex::cli::HttpPartSource;
using orvex::cli::LiveStream;
using orvex::cli::PreviewSlot;
using orvex::cli::ViewFrame;

namespace {

using Turn = HttpPartSource::Turn;
using Part = HttpPartSource::Part;

std::shared_ptr<const ViewFrame> frameNumber(uint32_t index)
{
    auto frame = std::make_shared<ViewFrame>();
    frame->width = 1;
    frame->height = 1;
    frame->index = index;
    frame->pixels = {static_cast<uint8_t>(index)};
    return frame;
}

// The encodings made on demand, one per image as the routes keep them,
// with the number made.
struct OnDemand {
    std::map<uint32_t, std::shared_ptr<const std::string>> made;
    int calls = 0;
    LiveStream::Encode encode()
    {
        return [this](const ViewFrame& frame) {
            auto& kept = made[frame.index];
            if (kept == nullptr) {
                ++calls;
                kept = std::make_shared<const std::string>("jpeg " + std::to_string(frame.index));
            }
            return kept;
        };
    }
};

struct Fixture : ::testing::Test {
    Fixture()
    {
        slot.setLiveEncoder([this](const orvex::cli::GreyImage& image) {
            ++mainThreadEncodings;
            return "live " + std::to_string(image.pixels[0]);
        });
    }
    std::unique_ptr<LiveStream> open()
    {
        auto stream = std::make_unique<LiveStream>(slot, slot.clears(), "image/jpeg", onDemand.encode());
        stream->start([this] { ++wakes; });
        return stream;
    }
    PreviewSlot slot;
    OnDemand onDemand;
    int mainThreadEncodings = 0;
    int wakes = 0;
};

using ViewLiveStream = Fixture;

TEST_F(ViewLiveStream, SendsTheNewestImageNotSentYetFramedForAMultipartAnswer)
{
    auto stream = open();
    Part part;
    EXPECT_EQ(stream->next(part), Turn::wait); // nothing yet

    slot.publish(frameNumber(7));
    ASSERT_EQ(stream->next(part), Turn::part);
    EXPECT_EQ(part.head, "--orvex-frame\r\nContent-Type: image/jpeg\r\nContent-Length: 6\r\n"
                         "X-Orvex-Index: 7\r\n\r\n");
    EXPECT_EQ(*part.body, "jpeg 7");
    EXPECT_EQ(part.tail, "\r\n--orvex-frame\r\n");
    EXPECT_EQ(stream->next(part), Turn::wait) << "an image sent twice";

    // Two images while the client was busy: only the newer goes, and the
    // boundary before it went out with the last part.
    slot.publish(frameNumber(8));
    slot.publish(frameNumber(9));
    ASSERT_EQ(stream->next(part), Turn::part);
    EXPECT_EQ(part.head, "Content-Type: image/jpeg\r\nContent-Length: 6\r\nX-Orvex-Index: 9\r\n\r\n");
    EXPECT_EQ(*part.body, "jpeg 9"); // the main thread encoded 8, which nobody took
}

TEST_F(ViewLiveStream, StreamsOnOneCameraShareOneEncodingPerImage)
{
    auto first = open();
    auto second = open();
    Part a, b;
    // Left unencoded by the main thread: the first stream encodes it, the
    // second sends the same bytes.
    slot.publish(frameNumber(1));
    ASSERT_EQ(first->next(a), Turn::part);
    ASSERT_EQ(second->next(b), Turn::part);
    EXPECT_EQ(a.body, b.body);
    EXPECT_EQ(onDemand.calls, 1);
    // A part went out: the main thread encodes the next image as it comes,
    // once for both.
    slot.publish(frameNumber(2));
    EXPECT_EQ(mainThreadEncodings, 1);
    ASSERT_EQ(first->next(a), Turn::part);
    ASSERT_EQ(second->next(b), Turn::part);
    EXPECT_EQ(a.body, b.body);
    EXPECT_EQ(*a.body, "live 2");
    EXPECT_EQ(onDemand.calls, 1);
}

TEST_F(ViewLiveStream, KeepsTheCameraWatchedAndIsWokenByEachImageWhileItListens)
{
    EXPECT_FALSE(slot.watched());
    auto stream = open();
    EXPECT_TRUE(slot.watched());
    slot.publish(frameNumber(1));
    slot.publish(frameNumber(2));
    EXPECT_EQ(wakes, 2);
    stream->stop();
    EXPECT_FALSE(slot.watched());
    slot.publish(frameNumber(3));
    EXPECT_EQ(wakes, 2);
    // Stopping twice (the server's end, then the stream's destruction) is
    // harmless, and so is a stream that never started (a HEAD).
    stream->stop();
    LiveStream unstarted(slot, slot.clears(), "image/jpeg", onDemand.encode());
    unstarted.stop();
}

TEST_F(ViewLiveStream, EndsOnceTheCameraStoppedRestartedOrLeft)
{
    slot.publish(frameNumber(1));
    auto stream = open();
    Part part;
    ASSERT_EQ(stream->next(part), Turn::part);
    slot.clear(); // what a stop, a start and a removal do
    EXPECT_EQ(stream->next(part), Turn::end);
    // A new image after a restart does not revive it: the client asks anew.
    slot.publish(frameNumber(1));
    EXPECT_EQ(stream->next(part), Turn::end);

    // Seen acquiring, then stopped before the stream listened: ends at once.
    LiveStream late(slot, slot.clears() - 1, "image/jpeg", onDemand.encode());
    EXPECT_EQ(late.next(part), Turn::end);
}

TEST_F(ViewLiveStream, EndsWhenAnImageCannotBeEncoded)
{
    LiveStream stream(slot, slot.clears(), "image/jpeg",
                      [](const ViewFrame&) -> std::shared_ptr<const std::string> {
                          throw std::runtime_error("JPEG encoding failed");
                      });
    slot.publish(frameNumber(1));
    Part part;
    EXPECT_EQ(stream.next(part), Turn::end);
}

} // namespace
