// Image-level stream faults: lost images leave a gap in the frame counter and
// are counted, a stall delays the stream without ending it, damaged frame
// information is stamped cut short or corrupt.
#include "sim/SimTestSupport.h"

#include <orvex/iidc/FrameInfo.h>
#include <orvex/iidc/Registers.h>
#include <orvex/sim/FramePattern.h>

#include <vector>

namespace orvex::sim::test {
namespace {

using namespace orvex::iidc;

class StreamFaultsTest : public FreshWorld {
protected:
    void SetUp() override
    {
        FreshWorld::SetUp();
        const int bus = world().addBus(busAt(0, 10.0));
        _camera = world().addCamera(bus, "Grasshopper GRAS-20S4M", 1001);
        _sink = std::make_shared<FrameCollector>();
        FrameGeometry g;
        g.width = 64;
        g.height = 32;
        g.bytesPerPixel = 1;
        g.bytesPerPacket = _camera->packetLimits(g.width, g.height, 1).maxBytes;
        ASSERT_EQ(_camera->configureFormat7(g), Status::ok);
        ASSERT_EQ(_camera->setPropertyAbsolute(kFeatureFrameRate, false, true, false, 100.0), Status::ok);
        ASSERT_EQ(_camera->setPropertyAbsolute(kFeatureShutter, false, true, false, 1.0), Status::ok);
    }
    std::shared_ptr<Camera> _camera;
    std::shared_ptr<FrameCollector> _sink;
};

TEST_F(StreamFaultsTest, LostImagesLeaveACountedGapWhetherPacedOrNot)
{
    ASSERT_EQ(_camera->startStream(_sink, Pacing::unpaced), Status::ok);
    const auto before = _camera->pullFrame();
    _camera->loseNextImages(3);
    const auto after = _camera->pullFrame();
    const auto next = _camera->pullFrame();
    ASSERT_TRUE(before && after && next);
    EXPECT_EQ(after->frameCounter - before->frameCounter, 4u) << "three images made and lost between";
    EXPECT_EQ(next->frameCounter, after->frameCounter + 1) << "the fault ends after its count";
    EXPECT_EQ(_camera->lostImages(), 3u);
    _camera->stopStream();

    ASSERT_EQ(_camera->startStream(_sink, Pacing::frameRate), Status::ok);
    ASSERT_TRUE(_sink->waitFor(1)); // the gap falls between received images
    _camera->loseNextImages(2);
    ASSERT_TRUE(_sink->waitFor(4));
    _camera->stopStream();
    const auto frames = _sink->frames();
    uint32_t gaps = 0;
    for (size_t i = 1; i < frames.size(); ++i)
        gaps += frames[i].frameCounter - frames[i - 1].frameCounter - 1;
    EXPECT_EQ(gaps, 2u);
    EXPECT_EQ(_camera->lostImages(), 5u);
}

TEST_F(StreamFaultsTest, AStallDelaysTheStreamWithoutLosingOrEndingIt)
{
    ASSERT_EQ(_camera->startStream(_sink, Pacing::frameRate), Status::ok);
    ASSERT_TRUE(_sink->waitFor(2));
    constexpr int64_t kStallNs = 150'000'000; // fifteen periods
    _camera->stallStream(kStallNs);
    const size_t atStall = _sink->frames().size();
    ASSERT_TRUE(_sink->waitFor(atStall + 3));
    EXPECT_TRUE(_camera->isStreaming());
    _camera->stopStream();
    const auto frames = _sink->frames();
    int64_t longest = 0;
    for (size_t i = 1; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].frameCounter, frames[i - 1].frameCounter + 1) << "a stall loses nothing";
        longest = std::max(longest, frames[i].exposureStartNs - frames[i - 1].exposureStartNs);
    }
    EXPECT_GE(longest, kStallNs);
    EXPECT_EQ(_camera->lostImages(), 0u);
}

TEST_F(StreamFaultsTest, DamagedFrameInformationIsStampedCutShortOrCorrupt)
{
    ASSERT_EQ(_camera->writeRegister(kFrameInfo, frameinfo::kAllItems), Status::ok);
    ASSERT_EQ(_camera->startStream(_sink, Pacing::unpaced), Status::ok);
    _camera->damageNextFrameInfo(FrameInfoDamage::corrupt);
    const auto corrupt = _camera->pullFrame();
    _camera->damageNextFrameInfo(FrameInfoDamage::cutShort, 2);
    const auto cut1 = _camera->pullFrame();
    const auto cut2 = _camera->pullFrame();
    const auto whole = _camera->pullFrame();
    _camera->stopStream();
    ASSERT_TRUE(corrupt && cut1 && cut2 && whole);
    EXPECT_EQ(cut2->frameInfoDamage, FrameInfoDamage::cutShort);
    EXPECT_EQ(whole->frameInfoDamage, FrameInfoDamage::none);

    const FrameGeometry g = corrupt->geometry;
    const auto stamped = [&](const Frame& frame) {
        std::vector<uint8_t> image(g.imageBytes());
        pattern::fill(image.data(), g);
        pattern::StampState state;
        pattern::stamp(image.data(), g, frame, state);
        return frameinfo::decode(image.data(), image.size(), frame.frameInfoRegister);
    };
    const frameinfo::Items bad = stamped(*corrupt);
    EXPECT_EQ(bad.cycleTime, 0xFFFFFFFFu);
    EXPECT_EQ(bad.rawShutter, 0xFFFu) << "a raw value no camera map holds";
    EXPECT_EQ(bad.frameCounter, 0xFFFFFFFFu);

    const frameinfo::Items shortened = stamped(*cut1);
    EXPECT_EQ(shortened.cycleTime, cut1->cycleTime) << "the first item still arrives";
    EXPECT_NE(shortened.frameCounter, cut1->frameCounter);

    const frameinfo::Items good = stamped(*whole);
    EXPECT_EQ(good.cycleTime, whole->cycleTime);
    EXPECT_EQ(good.frameCounter, whole->frameCounter);
    EXPECT_EQ(good.rawShutter, whole->shutterRegister & 0xFFF);
}

} // namespace
} // namespace orvex::sim::test
