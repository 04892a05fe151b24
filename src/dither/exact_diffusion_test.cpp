// The exact error-diffusion engine against a plain double-precision reference written out below
// pixel after pixel, and its behaviour on small pictures worked out by hand.
#include "convert/tvc_colours.h"
#include "exact_diffusion.h"
#include "platform/picture_box.h"
#include "platform/sample_picture.h"
#include "routines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

using namespace pelorin;
using namespace platform;

namespace {

constexpr DiffusionMethod kAllMethods[] = { DiffusionMethod::Atkinson, DiffusionMethod::Floyd,
    DiffusionMethod::Sierra, DiffusionMethod::Burkes, DiffusionMethod::Stucki,
    DiffusionMethod::Jarvis, DiffusionMethod::SierraLite, DiffusionMethod::Sierra2Row };

// ---- The reference: whole-picture error planes in double, every step spelled out ----------

double ToLinear(double byteValue)
{
    const double v = byteValue / 255.0;
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

void ReferenceOklab(double r, double g, double b, double out[3])
{
    const double l = std::cbrt(0.4122214708 * r + 0.5363325363 * g + 0.0514459929 * b);
    const double m = std::cbrt(0.2119034982 * r + 0.6806995451 * g + 0.1073969566 * b);
    const double s = std::cbrt(0.0883024619 * r + 0.2817188376 * g + 0.6299787005 * b);
    out[0] = 255 * (0.2104542553 * l + 0.7936177850 * m - 0.0040720468 * s);
    out[1] = 255 * (1.9779984951 * l - 2.4285922050 * m + 0.4505937099 * s);
    out[2] = 255 * (0.0259040371 * l + 0.7827717662 * m - 0.8086757660 * s);
}

struct Reference {
    std::vector<uint8_t> indices; // row after row
    // For each pixel, the smallest and the second smallest distance: how close the choice was.
    std::vector<double> best, second;
    int followed = 0; // near ties where the reference took the engine's choice
};

// Whether distance `d` is as near as `best` up to what float and double may part by.
bool NearTie(double d, double best) { return d - best <= 1e-3 * std::max(1.0, best); }

// With `follow` (the engine's indices), the reference takes the engine's choice wherever that
// is a near tie with its own, so that the two go on along the same path, and counts how often.
Reference ReferenceDither(const ExactDiffusionSettings& settings, const Surface& picture,
    std::span<const PaletteEntry> palette, const std::vector<uint8_t>* follow = nullptr)
{
    const int W = picture.width, H = picture.height;
    const DiffusionKernel& kernel = KernelOf(settings.method);
    // Working colour of a byte: itself, or its linear light scaled to 0 ... 255.
    auto working = [&](int byteValue) {
        return settings.linearLight ? 255.0 * ToLinear(byteValue) : double(byteValue);
    };
    // The colour in the distance's space, from a working colour.
    auto toDistanceSpace = [&](const double c[3], double out[3]) {
        if (settings.distance == ColourDistance::Rgb) {
            std::copy(c, c + 3, out);
            return;
        }
        double lin[3]; // of the colour as the screen shows it
        for (int k = 0; k < 3; ++k) {
            const double shown = std::clamp(c[k], 0.0, 255.0);
            lin[k] = settings.linearLight ? shown / 255.0 : ToLinear(shown);
        }
        ReferenceOklab(lin[0], lin[1], lin[2], out);
    };

    std::vector<double> error(size_t(W) * size_t(H) * 3, 0.0);
    Reference result;
    result.indices.assign(size_t(W) * size_t(H), 0);
    result.best.assign(result.indices.size(), 0.0);
    result.second.assign(result.indices.size(), 0.0);
    for (int y = 0; y < H; ++y) {
        const bool leftToRight = y % 2 == 0;
        for (int i = 0; i < W; ++i) {
            const int x = leftToRight ? i : W - 1 - i;
            const uint32_t v = picture.At(x, y);
            double* err = &error[3 * (size_t(y) * size_t(W) + size_t(x))];
            double c[3] = { working(int(v >> 16 & 255)) + err[0],
                working(int(v >> 8 & 255)) + err[1], working(int(v & 255)) + err[2] };
            // Each channel limited to the screen's range widened by the margin.
            for (int k = 0; k < 3; ++k)
                c[k] = std::clamp(c[k], -double(kExactCarryMargin), 255.0 + kExactCarryMargin);

            double here[3];
            toDistanceSpace(c, here);
            double best = 1e300, second = 1e300;
            size_t chosen = 0;
            std::vector<double> distances(palette.size());
            for (size_t p = 0; p < palette.size(); ++p) {
                const double entry[3] = { working(palette[p].Red), working(palette[p].Green),
                    working(palette[p].Blue) };
                double there[3];
                toDistanceSpace(entry, there);
                double d = 0;
                for (int k = 0; k < 3; ++k)
                    d += (here[k] - there[k]) * (here[k] - there[k]);
                distances[p] = d;
                if (d < best) {
                    second = best;
                    best = d;
                    chosen = p;
                } else if (d < second) {
                    second = d;
                }
            }
            const size_t at = size_t(y) * size_t(W) + size_t(x);
            if (follow != nullptr && (*follow)[at] != chosen && (*follow)[at] < palette.size()
                && NearTie(distances[(*follow)[at]], best)) {
                chosen = (*follow)[at];
                ++result.followed;
            }
            result.indices[at] = uint8_t(chosen);
            result.best[at] = best;
            result.second[at] = second;

            const double q[3] = { working(palette[chosen].Red), working(palette[chosen].Green),
                working(palette[chosen].Blue) };
            // Neighbours beyond the left or right edge give their weight to the others in
            // proportion; rows below the picture simply take theirs away.
            auto column = [&](const KernelEntry& entry) {
                return x + (leftToRight ? entry.dx : -entry.dx);
            };
            double all = 0, inside = 0;
            for (int e = 0; e < kernel.entryCount; ++e) {
                const KernelEntry& entry = kernel.entries[size_t(e)];
                all += entry.weight;
                if (column(entry) >= 0 && column(entry) < W)
                    inside += entry.weight;
            }
            for (int e = 0; e < kernel.entryCount; ++e) {
                const KernelEntry& entry = kernel.entries[size_t(e)];
                const int nx = column(entry), ny = y + entry.dy;
                if (nx < 0 || nx >= W || ny >= H)
                    continue;
                const double share
                    = settings.damping * entry.weight / kernel.divisor * all / inside;
                double* to = &error[3 * (size_t(ny) * size_t(W) + size_t(nx))];
                for (int k = 0; k < 3; ++k)
                    to[k] += share * (c[k] - q[k]);
            }
        }
    }
    return result;
}

// ---- The engine, row by row ------------------------------------------------------------

std::vector<uint8_t> EngineIndices(const ExactDiffusionSettings& settings, const Surface& picture,
    std::span<const PaletteEntry> palette)
{
    ExactDiffusion scan(settings, picture.width);
    std::vector<uint8_t> indices(size_t(picture.width) * size_t(picture.height));
    for (int y = 0; y < picture.height; ++y)
        scan.Row(picture.Row(y), palette, indices.data() + size_t(y) * size_t(picture.width));
    return indices;
}

Surface Ramp(int width, int height)
{
    Surface ramp(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint32_t v = uint32_t((x * 255 + (width - 1) / 2) / (width - 1));
            ramp.At(x, y) = v << 16 | v << 8 | v;
        }
    return ramp;
}

// Float and double may part at a near tie, and then each would go its own way; the reference
// follows the engine there. Every other choice must agree, and near ties must stay rare.
void ExpectMatchesReference(const ExactDiffusionSettings& settings, const Surface& picture,
    std::span<const PaletteEntry> palette)
{
    const std::vector<uint8_t> engine = EngineIndices(settings, picture, palette);
    const Reference reference = ReferenceDither(settings, picture, palette, &engine);
    const auto [first, ignored]
        = std::mismatch(engine.begin(), engine.end(), reference.indices.begin());
    if (first != engine.end()) {
        const size_t at = size_t(first - engine.begin());
        ADD_FAILURE() << "method " << KernelOf(settings.method).routineName << ", pixel ("
                      << at % size_t(picture.width) << ", " << at / size_t(picture.width)
                      << "): engine chose " << int(*first) << ", reference "
                      << int(reference.indices[at]) << " at distances " << reference.best[at]
                      << " and " << reference.second[at];
    }
    EXPECT_LE(reference.followed * 100, int(engine.size()))
        << KernelOf(settings.method).routineName << ": near ties at more than 1 % of pixels";
}

TEST(ExactDiffusion, EveryKernelMatchesTheDoubleReference)
{
    const Surface picture = MakeSamplePicture(61, 23);
    for (DiffusionMethod method : kAllMethods)
        ExpectMatchesReference(
            { method, kExactDamping, false, ColourDistance::Rgb }, picture, kTvcPalette16);
}

TEST(ExactDiffusion, LinearLightAndPerceptualMatchTheDoubleReference)
{
    const Surface picture = MakeSamplePicture(61, 23, 3);
    for (const bool linearLight : { false, true })
        for (const ColourDistance distance : { ColourDistance::Rgb, ColourDistance::Perceptual })
            for (const auto& palette : { std::span<const PaletteEntry>(kTvcPalette16),
                     std::span<const PaletteEntry>(kTvcPalette4) }) {
                SCOPED_TRACE(testing::Message() << "linear " << linearLight << ", perceptual "
                                                << (distance == ColourDistance::Perceptual) << ", "
                                                << palette.size() << " colours");
                ExpectMatchesReference(
                    { DiffusionMethod::Floyd, 0.9f, linearLight, distance }, picture, palette);
            }
}

TEST(ExactDiffusion, OddRowsRunRightToLeft)
{
    // Black and white, a flat grey of 100 after nothing (row 0) or after a black row that sends
    // nothing (row 1). The first pixel scanned turns black (100 < 127.5) and hands 7/16 of 100
    // to the next, which, at 143.75, turns white: on row 0 that pair sits at the left-hand end,
    // on row 1 at the right-hand end.
    const PaletteEntry blackWhite[] = { { 0, 0, 0, 0 }, { 255, 255, 255, 0 } };
    Surface picture(5, 2, 0x646464u);
    ExactDiffusion scan({ DiffusionMethod::Floyd, 1.0f, false, ColourDistance::Rgb }, 5);
    uint8_t indices[5];
    scan.Row(picture.Row(0), blackWhite, indices);
    EXPECT_EQ(indices[0], 0);
    EXPECT_EQ(indices[1], 1);

    ExactDiffusion odd({ DiffusionMethod::Floyd, 1.0f, false, ColourDistance::Rgb }, 5);
    odd.Row(Surface(5, 1, 0).Row(0), blackWhite, indices);
    odd.Row(picture.Row(1), blackWhite, indices);
    EXPECT_EQ(indices[4], 0);
    EXPECT_EQ(indices[3], 1);
}

TEST(ExactDiffusion, PaletteColoursPassUnchanged)
{
    Surface picture(13, 5);
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            picture.At(x, y) = PackEntry(kTvcPalette16[size_t(x + y) % kTvcPalette16.size()]);
    const Surface before = picture;
    for (DiffusionMethod method : kAllMethods)
        for (const ColourDistance distance : { ColourDistance::Rgb, ColourDistance::Perceptual }) {
            Surface converted = before;
            DitherExact({ method, kExactDamping, true, distance }, converted, kTvcPalette16);
            EXPECT_EQ(converted, before) << KernelOf(method).routineName;
        }
}

TEST(ExactDiffusion, TrialCostsWhatTheRowCostsAndChangesNothing)
{
    const Surface picture = MakeSamplePicture(37, 6, 1);
    for (const ColourDistance distance : { ColourDistance::Rgb, ColourDistance::Perceptual }) {
        ExactDiffusion scan({ DiffusionMethod::Stucki, kExactDamping, false, distance }, 37);
        ExactDiffusion untried({ DiffusionMethod::Stucki, kExactDamping, false, distance }, 37);
        std::vector<uint8_t> indices(37), untriedIndices(37);
        for (int y = 0; y < picture.height; ++y) {
            // A trial with another palette must leave no trace on what follows.
            scan.TrialRow(picture.Row(y), kTvcPalette4);
            const double trial = scan.TrialRow(picture.Row(y), kTvcPalette16);
            const double cost = scan.Row(picture.Row(y), kTvcPalette16, indices.data());
            untried.Row(picture.Row(y), kTvcPalette16, untriedIndices.data());
            EXPECT_EQ(trial, cost) << "row " << y;
            EXPECT_GT(cost, 0.0);
            EXPECT_EQ(indices, untriedIndices) << "row " << y;
        }
    }
}

// How many columns at each end of a dithered ramp are one colour from top to bottom.
std::pair<int, int> SolidEndColumns(const Surface& dithered)
{
    auto solid = [&](int x) {
        for (int y = 1; y < dithered.height; ++y)
            if (dithered.At(x, y) != dithered.At(x, 0))
                return false;
        return true;
    };
    int left = 0, right = 0;
    while (left < dithered.width && solid(left))
        ++left;
    while (right < dithered.width && solid(dithered.width - 1 - right))
        ++right;
    return { left, right };
}

TEST(ExactDiffusion, RampEndsKeepFewerSolidColumnsThanTheIntegerEngine)
{
    // A ramp 0 ... 255 over the 128 columns of "Graphics 16". The integer engine truncates every
    // share of a small error to nothing, so the faint greys next to black and white come out
    // solid; the exact engine dithers them, down to the very end columns.
    const Surface ramp = Ramp(128, 240);
    Surface exact = ramp;
    DitherExact({}, exact, kTvcPalette16);

    ConversionContext context;
    context.palette.assign(kTvcPalette16.begin(), kTvcPalette16.end());
    PictureBox box(ramp.width, ramp.height);
    box.Image() = ramp;
    DiffuseRoutine(context, DiffusionMethod::Floyd, box, box);

    const auto [exactLeft, exactRight] = SolidEndColumns(exact);
    const auto [integerLeft, integerRight] = SolidEndColumns(box.Image());
    EXPECT_LT(exactLeft, integerLeft);
    EXPECT_LT(exactRight, integerRight);
    std::printf("solid end columns: integer %d, %d; exact %d, %d\n", integerLeft, integerRight,
        exactLeft, exactRight);
}

} // namespace

TEST(ExactDiffusion, FastScanMatchesTheGeneralScanToTheBit)
{
    // Palettes of the modes' sizes (2, 4, 16 colours) and of sizes searched without unrolling,
    // ones with colours twice (ties go to the lower index); widths down to where every column
    // is an edge column; rows and trials alike, with and without indices.
    const PaletteEntry two[] = { { 0, 0, 0, 0 }, { 255, 255, 255, 0 } };
    const PaletteEntry three[] = { { 255, 0, 0, 0 }, { 0, 85, 170, 0 }, { 255, 0, 0, 0 } };
    const PaletteEntry fourWithTwins[]
        = { { 0, 85, 170, 0 }, { 255, 255, 0, 0 }, { 0, 85, 170, 0 }, { 255, 255, 0, 0 } };
    const std::vector<PaletteEntry> seven(kTvcPalette16.begin() + 3, kTvcPalette16.begin() + 10);
    const std::span<const PaletteEntry> palettes[]
        = { two, kTvcPalette4, kTvcPalette16, three, seven, fourWithTwins };
    for (const int width : { 1, 2, 3, 4, 5, 6, 57 }) {
        const Surface picture = MakeSamplePicture(width, 7, width % 4);
        for (DiffusionMethod method : kAllMethods)
            for (const bool linearLight : { false, true })
                for (const auto& palette : palettes) {
                    const ExactDiffusionSettings settings { method, kExactDamping, linearLight,
                        ColourDistance::Rgb };
                    ExactDiffusion fast(settings, width), general(settings, width);
                    general.UseScan(ExactDiffusion::ScanPath::General);
                    // Both vector scans, where the processor has the wider one.
                    fast.UseScan(width % 2 ? ExactDiffusion::ScanPath::Best
                                           : ExactDiffusion::ScanPath::Vector);
                    std::vector<uint8_t> fastIndices(static_cast<size_t>(width)),
                        generalIndices(static_cast<size_t>(width));
                    for (int y = 0; y < picture.height; ++y) {
                        const uint32_t* row = picture.Row(y);
                        const auto& trialPalette = palettes[size_t(y) % std::size(palettes)];
                        EXPECT_EQ(
                            fast.TrialRow(row, trialPalette), general.TrialRow(row, trialPalette));
                        EXPECT_EQ(fast.TrialRow(row, palette, fastIndices.data()),
                            general.TrialRow(row, palette, generalIndices.data()));
                        EXPECT_EQ(fastIndices, generalIndices);
                        EXPECT_EQ(fast.Row(row, palette, fastIndices.data()),
                            general.Row(row, palette, generalIndices.data()))
                            << KernelOf(method).routineName << ", width " << width << ", row " << y;
                        ASSERT_EQ(fastIndices, generalIndices)
                            << KernelOf(method).routineName << ", width " << width << ", row " << y
                            << ", " << palette.size() << " colours";
                    }
                }
    }
}
