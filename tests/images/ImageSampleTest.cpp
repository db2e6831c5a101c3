// The image sample: optional items and their markers, the pixel formats it
// accepts, and who frees its pixel buffer. Buffer ownership mistakes show up
// as leaks or double frees under AddressSanitizer.
#include <orvex/ImageSample.h>
#include <orvex/OrvexError.h>

#include "images/ImagesTexts.h"
#include "images/TestWindow.h"

#include "support/ErrorOf.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

using namespace orvex::images;
using orvex::images::test::TestWindow;

using orvex::test::errorOf;

namespace {

constexpr UINT kSampleDiedMsg = WM_APP + 17;

// Reaches the constructor the images buffer uses.
class ConstructedSample : public ImageSample {
public:
    ConstructedSample(unsigned long idx, unsigned char* data, int bufferSize, int width, int height,
                      bool copy, HWND wnd = nullptr, void* param = nullptr)
        : ImageSample(idx, 1.5, 2.5, data, bufferSize, width, height, imgv_valid, 700, 30, copy, wnd,
                      kSampleDiedMsg, param)
    {
    }
};

unsigned char* newPixels(size_t size, unsigned char fill = 7)
{
    unsigned char* pixels = new unsigned char[size];
    std::memset(pixels, fill, size);
    return pixels;
}

} // namespace

TEST(ImageSampleItems, ADefaultSampleKnowsNothingAndLeavesOutParametersAlone)
{
    ImageSample sample;
    double hwDate = 99.0;
    EXPECT_FALSE(sample.getHWDate(hwDate));
    EXPECT_EQ(hwDate, -1.0); // always written
    unsigned long shutter = 5;
    long gain = 5;
    bool on = true;
    EXPECT_FALSE(sample.getShutter(shutter));
    EXPECT_FALSE(sample.getGain(gain));
    EXPECT_FALSE(sample.getStrobeOutStatus(1, on));
    EXPECT_EQ(shutter, 5ul);
    EXPECT_EQ(gain, 5);
    EXPECT_TRUE(on);
    EXPECT_EQ(sample.getValidity(), 2);
    EXPECT_EQ(errorOf([&] { sample.getTemperature(); }), kTemperatureNotAvailable);
}

TEST(ImageSampleItems, SentinelValuesReadAsUnknown)
{
    ImageSample sample;
    unsigned long shutter = 0;
    sample.setShutter(0);
    EXPECT_TRUE(sample.getShutter(shutter));
    EXPECT_EQ(shutter, 0ul);
    sample.setShutter(0xFFFFD8F0ul);
    EXPECT_FALSE(sample.getShutter(shutter));
    // -10000 converted where unsigned long is 64 bits has the same low word.
    sample.setShutter(static_cast<unsigned long>(-10000L));
    EXPECT_FALSE(sample.getShutter(shutter));

    long gain = 0;
    sample.setGain(-9999);
    EXPECT_TRUE(sample.getGain(gain));
    EXPECT_EQ(gain, -9999);
    sample.setGain(-10000);
    EXPECT_FALSE(sample.getGain(gain));

    double date = 0.0;
    sample.setHWDate(0.0);
    EXPECT_TRUE(sample.getHWDate(date));
    sample.setHWDate(-0.001);
    EXPECT_FALSE(sample.getHWDate(date));
    EXPECT_EQ(date, -0.001);
    sample.setHWDate(std::nan(""));
    EXPECT_TRUE(sample.getHWDate(date));
}

TEST(ImageSampleItems, StrobeIdsOtherThanZeroAndOneAreRefusedWithoutChange)
{
    ImageSample sample;
    sample.setStrobeOutStatus(0, true);
    bool on = false;
    EXPECT_EQ(errorOf([&] { sample.setStrobeOutStatus(2, false); }), kInvalidStrobeId);
    EXPECT_EQ(errorOf([&] { sample.resetStrobeOutStatus(2); }), kInvalidStrobeId);
    EXPECT_EQ(errorOf([&] { sample.getStrobeOutStatus(~0ul, on); }), kInvalidStrobeId);
    EXPECT_TRUE(sample.getStrobeOutStatus(0, on));
    EXPECT_TRUE(on);
    EXPECT_FALSE(sample.getStrobeOutStatus(1, on));
}

TEST(ImageSamplePixelFormat, BytesPerPixelPickTheDataType)
{
    std::vector<unsigned char> pixels(921600, 1);
    ConstructedSample mono16(1, pixels.data(), 614400, 640, 480, true);
    ConstructedSample mono8(2, pixels.data(), 307200, 640, 480, true);
    ASSERT_NE(mono16.getImage(), nullptr);
    EXPECT_EQ(mono16.getImage()->dataType(), idt_uint16);
    EXPECT_EQ(mono8.getImage()->dataType(), idt_uint8);
    EXPECT_EQ(mono8.getImage()->size().width, 640);
    EXPECT_EQ(mono8.getImage()->size().height, 480);
    // A few bytes of padding do not change the integer quotient.
    ConstructedSample padded(3, pixels.data(), 307200 + 64, 640, 480, true);
    EXPECT_EQ(padded.getImage()->dataType(), idt_uint8);
}

TEST(ImageSamplePixelFormat, OtherSizesAndEmptyGeometriesAreRefused)
{
    std::vector<unsigned char> pixels(921600, 1);
    for (bool copy : {true, false}) {
        EXPECT_EQ(errorOf([&] { ConstructedSample(1, pixels.data(), 921600, 640, 480, copy); }),
                  kUnknownPixelFormat);
        EXPECT_EQ(errorOf([&] { ConstructedSample(1, pixels.data(), 100, 640, 480, copy); }),
                  kUnknownPixelFormat);
        EXPECT_EQ(errorOf([&] { ConstructedSample(1, pixels.data(), 0, 0, 0, copy); }), kUnknownPixelFormat);
        EXPECT_EQ(errorOf([&] { ConstructedSample(1, pixels.data(), 4, -2, -2, copy); }),
                  kUnknownPixelFormat);
        EXPECT_EQ(errorOf([&] { ConstructedSample(1, pixels.data(), -4, 2, 2, copy); }), kUnknownPixelFormat);
    }
    EXPECT_EQ(errorOf([&] { ConstructedSample(1, nullptr, 4, 2, 2, true); }), kNoPixelDataToCopy);
}

TEST(ImageSamplePixelFormat, CopyOrAdoptTheCallersPixels)
{
    std::vector<unsigned char> pixels{1, 2, 3, 4};
    {
        ConstructedSample copied(1, pixels.data(), 4, 2, 2, true);
        IImage* image = copied.getImage();
        image->resetCheck();
        ASSERT_NE(image->data(), pixels.data());
        EXPECT_EQ(std::memcmp(image->data(), pixels.data(), 4), 0);
    } // frees its copy
    unsigned char* adopted = newPixels(4);
    ConstructedSample adopting(2, adopted, 4, 2, 2, false);
    adopting.getImage()->resetCheck();
    EXPECT_EQ(adopting.getImage()->data(), adopted);
    EXPECT_EQ(adopting.getSWDate(), 1.5);
    unsigned long shutter = 0;
    long gain = 0;
    EXPECT_TRUE(adopting.getShutter(shutter));
    EXPECT_TRUE(adopting.getGain(gain));
    EXPECT_EQ(shutter, 700ul);
    EXPECT_EQ(gain, 30);
    EXPECT_EQ(adopting.getValidity(), imgv_valid);
} // `adopting` frees `adopted`

TEST(ImageSamplePixelFormat, UnknownShutterAndGainPassedAsMinus10000StayUnknown)
{
    std::vector<unsigned char> pixels(4);
    class Unknowns : public ImageSample {
    public:
        explicit Unknowns(unsigned char* data)
            : ImageSample(1, 0.0, -1.0, data, 4, 2, 2, imgv_notChecked, -10000, -10000, true, nullptr, 0,
                          nullptr)
        {
        }
    } sample(pixels.data());
    unsigned long shutter = 0;
    long gain = 0;
    EXPECT_FALSE(sample.getShutter(shutter));
    EXPECT_FALSE(sample.getGain(gain));
}

// Exactly one party frees a pixel buffer: the sample, the window's owner, or
// nobody. The "nobody" cases free the buffer here, so that a sample which
// freed it too fails under AddressSanitizer.
TEST(ImageSampleOwnership, TheSampleFreesItsBufferByDefault)
{
    auto sample = std::make_unique<ImageSample>();
    sample->setImage(new IImage(newPixels(16), ISize(4, 4), idt_uint8));
    sample.reset();
}

TEST(ImageSampleOwnership, WithTheFlagClearedNobodyFreesTheBuffer)
{
    unsigned char* pixels = newPixels(16);
    auto sample = std::make_unique<ImageSample>();
    sample->setImage(new IImage(pixels, ISize(4, 4), idt_uint8));
    sample->deleteImgBufferOnDestruction(false);
    sample.reset();
    delete[] pixels;
}

TEST(ImageSampleOwnership, UnlockImgDataHandsTheBufferOver)
{
    unsigned char* pixels = newPixels(16);
    auto sample = std::make_unique<ImageSample>();
    sample->setImage(new IImage(pixels, ISize(4, 4), idt_uint8));
    EXPECT_EQ(sample->unlockImgData(), pixels);
    EXPECT_EQ(sample->getImage(), nullptr);
    EXPECT_EQ(errorOf([&] { sample->unlockImgData(); }), kSampleHasNoImage);
    sample.reset();
    delete[] pixels;
}

TEST(ImageSampleOwnership, SetImageFreesTheReplacedBufferOnlyWhenTheFlagSaysSo)
{
    ImageSample sample;
    sample.setImage(new IImage(newPixels(16), ISize(4, 4), idt_uint8));
    sample.setImage(new IImage(newPixels(16), ISize(4, 4), idt_uint8)); // the first buffer is freed
    IImage* current = sample.getImage();
    sample.setImage(current); // the same image again changes nothing
    EXPECT_EQ(sample.getImage(), current);

    unsigned char* kept = newPixels(16);
    ImageSample keeping;
    keeping.deleteImgBufferOnDestruction(false);
    keeping.setImage(new IImage(kept, ISize(4, 4), idt_uint8));
    keeping.setImage(nullptr);
    EXPECT_EQ(keeping.getImage(), nullptr);
    delete[] kept;
}

TEST(ImageSampleOwnership, ANotifiedWindowGetsOneMessageAndTheBuffer)
{
    TestWindow window;
    ASSERT_NE(window.handle(), nullptr);
    unsigned char* pixels = newPixels(16);
    auto sample = std::make_unique<ImageSample>();
    sample->setImage(new IImage(pixels, ISize(4, 4), idt_uint8));
    int tag = 0;
    sample->setParam(&tag);
    sample->setNotifiedWndOnDelete(window.handle(), kSampleDiedMsg, pixels);
    EXPECT_EQ(sample->getParam(), pixels) << "the notification parameter replaces the tag";
    sample.reset();

    const std::vector<MSG> notices = window.take(kSampleDiedMsg);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].wParam, 0u);
    EXPECT_EQ(reinterpret_cast<unsigned char*>(notices[0].lParam), pixels);
    delete[] reinterpret_cast<unsigned char*>(notices[0].lParam); // the window's owner frees it
}

TEST(ImageSampleOwnership, ASampleThatCopiedItsPixelsFreesTheCopyEvenWhenItNotifies)
{
    TestWindow window;
    unsigned char* lent = newPixels(4);
    {
        ConstructedSample sample(1, lent, 4, 2, 2, true, window.handle(), lent);
    }
    const std::vector<MSG> notices = window.take(kSampleDiedMsg);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(reinterpret_cast<unsigned char*>(notices[0].lParam), lent);
    delete[] lent;
}

TEST(ImageSampleOwnership, AGoneWindowLeavesTheBufferToItsOwner)
{
    TestWindow window;
    HWND gone = window.handle();
    window.destroy();
    unsigned char* pixels = newPixels(16);
    {
        ImageSample sample;
        sample.setImage(new IImage(pixels, ISize(4, 4), idt_uint8));
        sample.setNotifiedWndOnDelete(gone, kSampleDiedMsg, pixels);
    }
    delete[] pixels;
}
