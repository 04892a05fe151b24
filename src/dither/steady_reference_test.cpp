// Steady "Treshold+Noise", Bayer and the block screens against the rules of steady_history.h
// written out pixel by pixel, over a few frames of pictures that keep, nudge and move their
// pixels by every kind of distance the rules tell apart.
#include "cpu_dispatch.h"
#include "error_diffusion_engine.h"
#include "noise_generator.h"
#include "routines.h"
#include "steady_history.h"

#include "convert/nearest_color.h"
#include "convert/testing/nearest_color_reference.h"
#include "convert/palette.h"
#include "convert/working_bitmap.h"
#include "platform/sample_picture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

using namespace pelorin;
using namespace platform;

namespace {

// Frame 0 is a sample picture; each later frame moves every channel of the one before by a
// distance drawn from `distances`, either way, clamped.
std::vector<Surface> Frames(int w, int h, int count, std::initializer_list<int> distances)
{
    const std::vector<int> moves(distances);
    std::mt19937 random(uint32_t(w * 131 + h));
    std::vector<Surface> frames { MakeSamplePicture(w, h, 2) };
    while (int(frames.size()) < count) {
        Surface next = frames.back();
        for (uint32_t& p : next.pixels) {
            uint32_t out = 0;
            const int move = moves[random() % moves.size()];
            for (int shift = 0; shift < 24; shift += 8) {
                const int v = int(p >> shift & 0xFF) + (random() % 2 ? move : -move);
                out |= uint32_t(std::clamp(v, 0, 255)) << shift;
            }
            p = out;
        }
        frames.push_back(next);
    }
    return frames;
}

int Channel(uint32_t colour, int ch) { return int(colour >> (8 * ch) & 0xFF); } // 0 blue

// ---- "Treshold+Noise" --------------------------------------------------------------------------

// The rule, per pixel of the plain-layout buffer (the columns right of the picture included,
// bottom row first), as routines.h states it, with the linear palette search.
struct NoiseReference {
    std::vector<PaletteEntry> palette;
    int band = 0; // 255 · smallest step · kSteadyNoiseBandShare / 100
    std::vector<uint32_t> drawnFrom, output;
    std::vector<uint64_t> noiseAt;

    // One frame of `picture` from generator state `state`; gives the picture's pixels.
    Surface Convert(const Surface& picture, uint8_t amplitude, uint64_t& state, bool continues)
    {
        const BufferGeometry g = ComputeGeometry(picture.width, picture.height, 0);
        const size_t pixels = size_t(g.W) * size_t(g.H);
        if (!continues) {
            drawnFrom.assign(pixels, 0);
            output.assign(pixels, 0);
            noiseAt.assign(pixels, 0);
        }
        Surface out(picture.width, picture.height);
        for (size_t i = 0; i < pixels; ++i) {
            const int x = int(i % size_t(g.W)), y = g.H - 1 - int(i / size_t(g.W));
            const uint32_t c = x < picture.width ? picture.At(x, y) & 0xFFFFFF : 0;
            int reach = 0;
            for (int ch = 0; ch < 3; ++ch)
                reach = std::max(reach, std::abs(Channel(c, ch) - Channel(drawnFrom[i], ch)));
            const bool keep = continues && reach <= kSteadyNoiseReach;
            const bool again = continues && !keep && reach <= kSteadyNoiseRefresh;
            if (!keep) {
                if (!again)
                    noiseAt[i] = NoiseGenerator::Skip(state, 3 * i);
                // Red, green, blue draw in that order after the pixel's state.
                NoiseGenerator numbers(noiseAt[i]);
                const uint8_t r = AddNoiseBits(uint8_t(Channel(c, 2)), amplitude, numbers.Next());
                const uint8_t gr = AddNoiseBits(uint8_t(Channel(c, 1)), amplitude, numbers.Next());
                const uint8_t b = AddNoiseBits(uint8_t(Channel(c, 0)), amplitude, numbers.Next());
                const uint32_t noised = uint32_t(r) << 16 | uint32_t(gr) << 8 | b;
                const uint32_t n = NearestColorLinear(palette, r, gr, b);
                int dn = 0, dp = 0;
                for (int ch = 0; ch < 3; ++ch) {
                    const int v = Channel(noised, ch);
                    dn += (v - Channel(n, ch)) * (v - Channel(n, ch));
                    dp += (v - Channel(output[i], ch)) * (v - Channel(output[i], ch));
                }
                if (!(again && dp - dn < band))
                    output[i] = n;
                drawnFrom[i] = c;
            }
            if (x < picture.width)
                out.At(x, y) = output[i];
        }
        state = NoiseGenerator::Skip(state, 3 * pixels);
        return out;
    }
};

} // namespace

TEST(SteadyReference, ThresholdNoiseKeepsDrawsAgainAndDrawsAfreshAsThePixelByPixelRule)
{
    // Moves within the keep reach, between it and the refresh reach, and beyond; a frame that
    // does not follow (frame 3 is skipped) starts afresh.
    const std::vector<Surface> frames = Frames(37, 9, 6, { 0, 3, 24, 25, 40, 64, 65, 120 });
    const int frameNumbers[] = { 0, 1, 2, 4, 5, 6 };
    for (const std::vector<PaletteEntry>& palette :
        { std::vector<PaletteEntry>(kTvcPalette2.begin(), kTvcPalette2.end()),
            std::vector<PaletteEntry>(kTvcPalette4.begin(), kTvcPalette4.end()),
            std::vector<PaletteEntry>(kTvcPalette16.begin(), kTvcPalette16.end()),
            std::vector<PaletteEntry> { { 0, 0, 0 }, { 96, 160, 255 } } })
        for (const CpuPath path : RunnableCpuPaths()) {
            const ScopedCpuPath forced(path);
            ConversionContext context;
            context.palette = palette;
            SteadyHistory history;
            NoiseReference reference;
            reference.palette = palette;
            reference.band
                = 255 * SmallestStep(NearestColorTable(palette)) * kSteadyNoiseBandShare / 100;
            uint64_t state = context.noiseState;
            for (size_t f = 0; f < frames.size(); ++f) {
                PictureBox box(frames[f].width, frames[f].height);
                box.Image() = frames[f];
                const bool continues
                    = history.Begin({ 16, 4, box.Image().width, box.Image().height },
                        frameNumbers[f]);
                ThresholdNoiseRoutine(context, box, box, 128, 30, &history);
                history.Finish();
                const Surface expected = reference.Convert(frames[f], 30, state, continues);
                ASSERT_EQ(box.Image(), expected) << palette.size() << " colours, frame " << f
                                                 << ", path " << CpuPathName(path);
                ASSERT_EQ(context.noiseState, state);
            }
        }
}

// ---- The screens ------------------------------------------------------------------------------

namespace {

// The steady screens in terms of the plain one: a byte takes the frame before's value where it
// lies within the band around the threshold that decides it, else the plain method's.
using Screen = void (*)(ConversionContext&, int member, PictureBox&, PictureBox&, SteadyHistory*);

void Bayer(ConversionContext& c, int n, PictureBox& d, PictureBox& s, SteadyHistory* h)
{
    BayerRoutine(c, n, d, s, h);
}
void Blocks(ConversionContext& c, int screen, PictureBox& d, PictureBox& s, SteadyHistory* h)
{
    HalftoneRoutine(c, screen, d, s, h);
}

Surface Plain(Screen screen, int member, const Surface& picture)
{
    ConversionContext context;
    PictureBox box(picture.width, picture.height);
    box.Image() = picture;
    screen(context, member, box, box, nullptr);
    return box.Image();
}

// Runs the steady screen over `frames` (numbered 0, 1, ...) and checks each against
// `expected(frame, plain, before)`, `before` being the steady output of the frame before; with
// `someKept`, each later frame must also keep something the plain screen would change.
template <class Expected>
void CheckFrames(Screen screen, int member, const std::vector<Surface>& frames,
    const Expected& expected, const char* name, bool someKept = true)
{
    ConversionContext context;
    SteadyHistory history;
    Surface before;
    for (size_t f = 0; f < frames.size(); ++f) {
        PictureBox box(frames[f].width, frames[f].height);
        box.Image() = frames[f];
        history.Begin({ 4, member, frames[f].width, frames[f].height }, int64_t(f));
        screen(context, member, box, box, &history);
        history.Finish();
        const Surface plain = Plain(screen, member, frames[f]);
        const Surface want = f == 0 ? plain : expected(frames[f], plain, before);
        ASSERT_EQ(box.Image(), want) << name << " " << member << ", frame " << f;
        if (f > 0 && someKept) {
            EXPECT_NE(box.Image(), plain) << name << " " << member << ": nothing kept, frame " << f;
        }
        before = box.Image();
    }
}

} // namespace

TEST(SteadyReference, BayerKeepsBytesWithinTheBandOfTheirThreshold)
{
    // Each byte's threshold, by trying every uniform grey: the smallest value that lights it.
    const int w = 29, h = 11;
    const std::vector<Surface> frames = Frames(w, h, 4, { 0, 1, 2, 3, 4, 6 });
    for (int n : { 2, 4, 8 }) {
        std::vector<int> threshold(size_t(w) * size_t(h), 256);
        for (int v = 255; v >= 0; --v) {
            const Surface lit = Plain(Bayer, n, Surface(w, h, Rgb(uint8_t(v), uint8_t(v), uint8_t(v))));
            for (size_t i = 0; i < lit.pixels.size(); ++i)
                if (lit.pixels[i] & 0xFF)
                    threshold[i] = v;
        }
        const auto expected = [&](const Surface& picture, const Surface& plain,
                                  const Surface& before) {
            Surface out = plain;
            for (size_t i = 0; i < out.pixels.size(); ++i)
                for (int ch = 0; ch < 3; ++ch) {
                    const int v = Channel(picture.pixels[i], ch), t = threshold[i];
                    if (v >= t - kSteadyScreenBand && v < t + kSteadyScreenBand) {
                        const uint32_t mask = 0xFFu << (8 * ch);
                        out.pixels[i] = (out.pixels[i] & ~mask) | (before.pixels[i] & mask);
                    }
                }
            return out;
        };
        CheckFrames(Bayer, n, frames, expected, "Bayer");
    }
}

TEST(SteadyReference, BlockScreensKeepCellsWithinTheBandOfTheirLimit)
{
    // Sizes a multiple of every block (2, 3, 4), so each block lies in the picture. Each cell's
    // limit, by trying every block sum on a picture of one block: the largest that leaves it
    // dark. A sum within 4 per pixel of a cell's limit keeps the cell's value.
    const int w = 24, h = 12;
    const std::vector<Surface> frames = Frames(w, h, 4, { 0, 1, 2, 3, 5 });
    for (int screen : { 0, 1, 2 }) {
        const int N = screen == 0 ? 2 : screen == 1 ? 3 : 4;
        std::vector<int> limit(size_t(N * N), -1);
        for (int sum = 0; sum <= N * N * 255; ++sum) {
            Surface block(N, N);
            for (int k = 0; k < N * N; ++k) {
                const int v = sum / (N * N) + (k < sum % (N * N) ? 1 : 0);
                block.pixels[size_t(k)] = Rgb(uint8_t(v), uint8_t(v), uint8_t(v));
            }
            const Surface lit = Plain(Blocks, screen, block);
            for (int k = 0; k < N * N; ++k)
                if ((lit.pixels[size_t(k)] & 0xFF) == 0)
                    limit[size_t(k)] = sum;
        }
        const auto expected = [&](const Surface& picture, const Surface& plain,
                                  const Surface& before) {
            Surface out = plain;
            const int band = kSteadyScreenBand * N * N;
            for (int by = 0; by < h; by += N)
                for (int bx = 0; bx < w; bx += N)
                    for (int ch = 0; ch < 3; ++ch) {
                        int sum = 0;
                        for (int dy = 0; dy < N; ++dy)
                            for (int dx = 0; dx < N; ++dx)
                                sum += Channel(picture.At(bx + dx, by + dy), ch);
                        for (int dy = 0; dy < N; ++dy)
                            for (int dx = 0; dx < N; ++dx) {
                                const int l = limit[size_t(dy * N + dx)];
                                if (sum > l - band && sum <= l + band) {
                                    const uint32_t mask = 0xFFu << (8 * ch);
                                    uint32_t& p = out.At(bx + dx, by + dy);
                                    p = (p & ~mask) | (before.At(bx + dx, by + dy) & mask);
                                }
                            }
                    }
            return out;
        };
        CheckFrames(Blocks, screen, frames, expected, "block screen");

        // The band's edges: each block's channel sums step around one cell's limit, to just
        // outside the band on either side and just inside it.
        const int band = kSteadyScreenBand * N * N;
        std::vector<Surface> edges;
        int block = 0;
        for (int offset : { band + 1, -band, band, -band + 1, band + 1, -band }) {
            Surface picture(w, h);
            for (int by = 0; by < h; by += N)
                for (int bx = 0; bx < w; bx += N, ++block) {
                    int sums[3];
                    for (int ch = 0; ch < 3; ++ch)
                        sums[ch] = std::clamp(
                            limit[size_t((block + ch) % (N * N))] + offset, 0, N * N * 255);
                    for (int k = 0; k < N * N; ++k) {
                        uint8_t v[3];
                        for (int ch = 0; ch < 3; ++ch)
                            v[ch] = uint8_t(sums[ch] / (N * N) + (k < sums[ch] % (N * N) ? 1 : 0));
                        picture.At(bx + k % N, by + k / N) = Rgb(v[2], v[1], v[0]);
                    }
                }
            block = 0;
            edges.push_back(picture);
        }
        CheckFrames(Blocks, screen, edges, expected, "block screen at the band's edges", false);
    }
}

namespace {

// Where the unbroken sequence began: kept while frames follow each other under one key, moved by
// a jump or another key, gone once forgotten or while a frame is unfinished.
TEST(SteadyHistorySequence, StartIsWhereTheLastUnbrokenRunBegan)
{
    SteadyHistory history;
    EXPECT_FALSE(history.SequenceStart());
    const SteadyHistory::Key g4 { 4, 2, 256, 240 };
    const SteadyHistory::Key g16 { 16, 2, 128, 240 };
    const auto convert = [&](const SteadyHistory::Key& key, int64_t frame) {
        history.Begin(key, frame);
        history.Finish();
        return history.SequenceStart().value_or(-1);
    };
    EXPECT_EQ(convert(g4, 5), 5);
    EXPECT_EQ(convert(g4, 6), 5);
    EXPECT_EQ(convert(g4, 7), 5);
    EXPECT_EQ(convert(g4, 9), 9); // a jump
    EXPECT_EQ(convert(g16, 10), 10); // another mode
    EXPECT_EQ(convert(g16, 10), 10); // the same frame again is no continuation
    EXPECT_EQ(convert(g16, 11), 10);
    history.Forget();
    EXPECT_FALSE(history.SequenceStart());
    EXPECT_EQ(convert(g16, 12), 12);
    history.Begin(g16, 13); // unfinished: nothing kept to continue from
    EXPECT_FALSE(history.SequenceStart());
}

} // namespace
