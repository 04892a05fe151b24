#include "frame_pipeline.h"

#include "platform/sample_picture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
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
        EXPECT_THROW(
            ConvertFrame(context, TvcModeOf(16), method, &host, working), std::out_of_range);
        for (uint32_t p : working.Image().pixels)
            ASSERT_EQ(p, 0x654321u);
    }
    EXPECT_TRUE(context.palette.empty());
    EXPECT_THROW(TvcModeOf(8), std::out_of_range);
}

namespace {

// Frame f of a still scene filmed with a noisy sensor: the sample picture with every channel
// moved by up to `spread` / 2 steps either way, differently in every frame.
platform::Surface NoisyFrame(int f, int spread)
{
    platform::Surface host = platform::MakeSamplePicture(kHostWidth, kHostHeight);
    uint32_t state = 0x9E3779B9u * uint32_t(f + 1);
    for (uint32_t& p : host.pixels) {
        uint32_t out = 0;
        for (int shift = 0; shift < 24; shift += 8) {
            state = state * 1664525u + 1013904223u;
            const int v
                = int((p >> shift) & 0xFF) + int((state >> 16) % uint32_t(spread + 1)) - spread / 2;
            out |= uint32_t(std::clamp(v, 0, 255)) << shift;
        }
        p = out;
    }
    return host;
}

// With `steady`, steady dithering on that history; null: plain.
platform::Surface Convert(ConversionContext& context, int mode, int method, int frame,
    SteadyHistory* steady, int spread = 8,
    std::optional<ExactDiffusionSettings> exact = std::nullopt)
{
    static std::map<int, std::vector<platform::Surface>> takes;
    std::vector<platform::Surface>& frames = takes[spread];
    while (int(frames.size()) <= frame)
        frames.push_back(NoisyFrame(int(frames.size()), spread));
    PictureBox host(kHostWidth, kHostHeight);
    host.Image() = frames[size_t(frame)];
    PictureBox working(TvcModeOf(mode).workingWidth, TvcModeOf(mode).workingHeight);
    FrameOptions options;
    options.steady = steady;
    options.frame = frame;
    options.exact = exact;
    ConvertFrame(context, TvcModeOf(mode), method, &host, working, nullptr, options);
    return working.Image();
}

} // namespace

TEST(FramePipeline, SteadyStartsAndRestartsExactlyAsThePlainConversion)
{
    // (mode, method offset, frame); a row that does not follow on from the one before (first,
    // same frame again, a jump, another method, another mode) must give the plain bytes.
    struct Step {
        int mode, methodShift, frame;
        bool follows;
    };
    const Step steps[] = { { 4, 0, 0, false }, { 4, 0, 1, true }, { 4, 0, 1, false },
        { 4, 0, 3, false }, { 4, 0, 4, true }, { 4, 1, 5, false }, { 16, 1, 6, false },
        { 16, 1, 7, true }, { 2, 1, 8, false } };
    for (const Method& method : Methods()) {
        ConversionContext plain, steady;
        SteadyHistory history;
        for (const Step& step : steps) {
            const int index = (method.index - 1 + step.methodShift) % kMethodCount + 1;
            const platform::Surface expected
                = Convert(plain, step.mode, index, step.frame, nullptr);
            const platform::Surface got = Convert(steady, step.mode, index, step.frame, &history);
            if (!step.follows) {
                ASSERT_TRUE(got == expected)
                    << method.caption << " then method " << index << " in mode " << step.mode
                    << ", frame " << step.frame;
            }
        }
        // The generator of "Treshold+Noise" stands where the plain conversions left it.
        EXPECT_EQ(steady.noiseState, plain.noiseState) << method.caption;
    }
}

TEST(FramePipeline, SteadyKeepsAStillPictureStill)
{
    PictureBox host(kHostWidth, kHostHeight);
    host.Image() = platform::MakeSamplePicture(kHostWidth, kHostHeight);
    for (const TvcMode& mode : TvcModes())
        for (const Method& method : Methods()) {
            ConversionContext context;
            SteadyHistory history;
            PictureBox first(mode.workingWidth, mode.workingHeight),
                next(mode.workingWidth, mode.workingHeight);
            ConvertFrame(context, mode, method.index, &host, first, nullptr, { &history, 10 });
            for (int frame = 11; frame < 13; ++frame) {
                ConvertFrame(
                    context, mode, method.index, &host, next, nullptr, { &history, frame });
                ASSERT_TRUE(next.Image() == first.Image())
                    << method.caption << " in " << mode.caption << ", frame " << frame;
            }
        }
}

TEST(FramePipeline, SteadyLessensTheChangesOfANoisyStillScene)
{
    // The rules themselves: on sensor noise over a still picture, light and heavy, each steady
    // method changes far fewer pixels from frame to frame than the plain one (static pictures
    // of the others are covered above).
    for (int spread : { 8, 56 })
        for (int method : { 2, 4, 10, 13 })
            for (int mode : { 4, 16 }) {
                int64_t changed[2] = { 0, 0 };
                for (int steady = 0; steady < 2; ++steady) {
                    ConversionContext context;
                    SteadyHistory history;
                    SteadyHistory* const kept = steady ? &history : nullptr;
                    platform::Surface before = Convert(context, mode, method, 0, kept, spread);
                    for (int frame = 1; frame < 4; ++frame) {
                        const platform::Surface now
                            = Convert(context, mode, method, frame, kept, spread);
                        for (size_t i = 0; i < now.pixels.size(); ++i)
                            changed[steady] += now.pixels[i] != before.pixels[i];
                        before = now;
                    }
                }
                EXPECT_LT(changed[1] * 3, changed[0])
                    << "method " << method << " in mode " << mode << ", noise " << spread;
            }
}

TEST(FramePipeline, ExactDiffusionChangesOnlyTheErrorDiffusionMethods)
{
    for (const Method& method : Methods()) {
        ConversionContext integer, exact;
        const platform::Surface plain = Convert(integer, 16, method.index, 0, nullptr);
        const platform::Surface got
            = Convert(exact, 16, method.index, 0, nullptr, 8, ExactDiffusionSettings {});
        if (method.family == MethodFamily::ErrorDiffusion)
            EXPECT_FALSE(got == plain) << method.caption;
        else
            EXPECT_TRUE(got == plain) << method.caption;
    }
}

TEST(FramePipeline, ExactSteadyStartsAsPlainAndLessensTheChangesOfANoisyStillScene)
{
    const ExactDiffusionSettings settings;
    for (int spread : { 8, 56 })
        for (int method : { 2, 13 })
            for (int mode : { 4, 16 }) {
                int64_t changed[2] = { 0, 0 };
                for (int steady = 0; steady < 2; ++steady) {
                    ConversionContext context;
                    SteadyHistory history;
                    SteadyHistory* const kept = steady ? &history : nullptr;
                    // Frame 0 by the integer engine is no pattern for the exact one: frame 1
                    // starts afresh.
                    if (steady)
                        Convert(context, mode, method, 0, kept, spread);
                    platform::Surface before
                        = Convert(context, mode, method, 1, kept, spread, settings);
                    if (steady) {
                        ConversionContext fresh;
                        EXPECT_TRUE(before
                            == Convert(fresh, mode, method, 1, nullptr, spread, settings));
                    }
                    for (int frame = 2; frame < 5; ++frame) {
                        const platform::Surface now
                            = Convert(context, mode, method, frame, kept, spread, settings);
                        for (size_t i = 0; i < now.pixels.size(); ++i)
                            changed[steady] += now.pixels[i] != before.pixels[i];
                        before = now;
                    }
                }
                EXPECT_LT(changed[1] * 3, changed[0])
                    << "method " << method << " in mode " << mode << ", noise " << spread;
            }
}
