#include "frame_pipeline.h"

#include "platform/sample_picture.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace pelorin;
using platform::PictureBox;

namespace {

// Every method in every mode, twice in a row (the noise generator and the kept storage carry
// over), on one context; the display pictures in order.
std::vector<platform::Surface> ConvertAll(ConversionContext& context, const PictureBox& host)
{
    std::vector<platform::Surface> out;
    PictureBox source(kHostWidth, kHostHeight);
    source.Image() = host.Image();
    for (const TvcMode& mode : TvcModes())
        for (int round = 0; round < 2; ++round)
            for (const Method& method : Methods()) {
                PictureBox working(mode.workingWidth, mode.workingHeight);
                PictureBox display(kDisplayWidth, kDisplayHeight);
                ConvertFrame(context, mode, method.index, &source, working, &display);
                out.push_back(display.Image());
            }
    return out;
}

} // namespace

TEST(FramePipeline, TwoContextsOnTwoThreadsGiveTheSerialBytes)
{
    PictureBox host(kHostWidth, kHostHeight);
    host.Image() = platform::MakeSamplePicture(kHostWidth, kHostHeight);

    ConversionContext serial;
    const std::vector<platform::Surface> expected = ConvertAll(serial, host);

    ConversionContext first, second;
    std::vector<platform::Surface> a, b;
    std::thread one([&] { a = ConvertAll(first, host); });
    std::thread two([&] { b = ConvertAll(second, host); });
    one.join();
    two.join();
    ASSERT_EQ(a.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_TRUE(a[i] == expected[i]) << "conversion " << i << " on the first thread";
        EXPECT_TRUE(b[i] == expected[i]) << "conversion " << i << " on the second thread";
    }
}

TEST(FramePipeline, ContextsKeepTheirOwnPaletteAndNoise)
{
    PictureBox host(kHostWidth, kHostHeight);
    host.Image() = platform::MakeSamplePicture(kHostWidth, kHostHeight);
    ConversionContext a, b;
    PictureBox working(128, 240), again(128, 240), fresh(128, 240);
    // "Treshold+Noise" on a, then a "Graphics 2" load on b: a's palette and sequence go on.
    ConvertFrame(a, TvcModeOf(16), 4, &host, working);
    ConvertFrame(b, TvcModeOf(2), 4, &host, fresh);
    EXPECT_EQ(a.palette.size(), 16u);
    ConvertFrame(a, TvcModeOf(16), 4, &host, again);
    EXPECT_FALSE(again.Image() == working.Image()) << "the second frame draws new noise";
    ConversionContext c;
    ConvertFrame(c, TvcModeOf(16), 4, &host, fresh);
    EXPECT_TRUE(fresh.Image() == working.Image()) << "a new context starts the sequence afresh";
}

TEST(FramePipeline, WithoutAMethodTheSmoothedFrameStaysUnreduced)
{
    // Columns alternating black and white average to grey at a quarter of the width: a colour
    // of no palette, which only survives because nothing reduces it.
    PictureBox host(kHostWidth, kHostHeight), working(128, kWorkingHeight);
    for (int y = 0; y < kHostHeight; ++y)
        for (int x = 0; x < kHostWidth; ++x)
            host.Image().At(x, y) = (x % 2) ? 0xFFFFFFu : 0u;
    ConversionContext context;
    ConvertFrame(context, TvcModeOf(16), kNoMethod, &host, working);
    for (uint32_t p : working.Image().pixels)
        ASSERT_EQ(p, platform::Rgb(128, 128, 128));
}

TEST(FramePipeline, RefusesAnUnknownMethodOrModeBeforeTouchingAnything)
{
    PictureBox host(kHostWidth, kHostHeight, 0x123456), working(128, kWorkingHeight, 0x654321);
    ConversionContext context;
    for (int method : { -1, 17, 1000 }) {
        EXPECT_THROW(ConvertFrame(context, TvcModeOf(16), method, &host, working), std::out_of_range);
        for (uint32_t p : working.Image().pixels)
            ASSERT_EQ(p, 0x654321u);
    }
    EXPECT_TRUE(context.palette.empty());
    EXPECT_THROW(TvcModeOf(8), std::out_of_range);
}
