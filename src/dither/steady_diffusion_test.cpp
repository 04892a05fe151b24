#include "error_diffusion_engine.h"

#include "cpu_dispatch.h"

#include "convert/nearest_color.h"
#include "convert/palette.h"
#include "convert/working_bitmap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

using namespace pelorin;

namespace {

std::vector<PaletteEntry> PaletteOf(int colours)
{
    // Black and white, "Graphics 4"'s colours, or the corners of the colour cube at half and
    // full strength.
    if (colours == 4)
        return { kTvcPalette4.begin(), kTvcPalette4.end() };
    std::vector<PaletteEntry> palette;
    for (int i = 0; i < colours; ++i) {
        const uint8_t on = colours == 2 || i >= 8 ? 255 : 128;
        const int bits = colours == 2 ? 7 * i : i;
        palette.push_back(
            { uint8_t(bits & 1 ? on : 0), uint8_t(bits & 2 ? on : 0), uint8_t(bits & 4 ? on : 0) });
    }
    return palette;
}

std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(size);
    for (uint8_t& b : bytes)
        b = uint8_t(random());
    return bytes;
}

} // namespace

TEST(SteadyDiffusion, WithoutAPreviousFrameOrOnAStillOneItIsThePlainScan)
{
    for (int colours : { 2, 4, 16 }) {
        const std::vector<PaletteEntry> palette = PaletteOf(colours);
        const NearestColorTable table(palette);
        for (auto [w, h] : { std::pair { 128, 40 }, { 37, 11 }, { 1, 1 } }) {
            const BufferGeometry g = ComputeGeometry(w, h, kDiffusionBorder);
            const std::vector<uint8_t> input
                = RandomBytes(g.SizeBytes(), uint32_t(w * h + colours));
            for (int m = 0; m < kDiffusionMethodCount; ++m) {
                const auto method = DiffusionMethod(m);
                std::vector<uint8_t> plain = input, steady = input, still = input;
                DiffuseErrors(method, plain.data(), g, table);
                DiffuseErrors(
                    method, steady.data(), g, table, nullptr, SteadyToleranceFor(table, method));
                ASSERT_EQ(steady, plain) << KernelOf(method).routineName << ", " << colours;
                // The frame before was this very picture: every pixel keeps its colour.
                const SteadyPrevious before { plain.data(), nullptr };
                DiffuseErrors(
                    method, still.data(), g, table, &before, SteadyToleranceFor(table, method));
                ASSERT_EQ(still, plain) << KernelOf(method).routineName << ", " << colours;
            }
        }
    }
}

TEST(SteadyDiffusion, KeepsPreviousColoursAsThePixelByPixelRuleDoes)
{
    // The scans for two and four colours work the rule out as moved thresholds; ties, both
    // tolerances and moved and still pixels side by side. A two-colour palette off the cube's
    // corners takes the plane's scan.
    for (const std::vector<PaletteEntry>& palette : { PaletteOf(2), PaletteOf(4), PaletteOf(16),
             std::vector<PaletteEntry> { { 0, 0, 0 }, { 96, 160, 255 } } }) {
        const int colours = int(palette.size());
        const NearestColorTable table(palette);
        for (auto [w, h] : { std::pair { 61, 13 }, { 6, 3 } }) {
            const BufferGeometry g = ComputeGeometry(w, h, kDiffusionBorder);
            const size_t size = g.SizeBytes();
            const std::vector<uint8_t> input = RandomBytes(size, uint32_t(w + colours));
            // A previous frame of palette colours (another picture's plain scan), and which
            // bytes moved: a picture near this one's in some places and far in others.
            std::vector<uint8_t> previous = RandomBytes(size, 7);
            DiffuseErrors(DiffusionMethod::Floyd, previous.data(), g, table);
            std::vector<uint8_t> inputBefore = input, moved(MovedBitsBytes(size), 0xA5);
            for (size_t i = 0; i < size; ++i)
                inputBefore[i] = uint8_t(inputBefore[i] + (i % 29 == 0 ? 40 : i % 14));
            const std::vector<uint8_t> kept = inputBefore;
            MarkMovedBits(input.data(), inputBefore.data(), moved.data(), size, 12);
            for (size_t i = 0; i < size; ++i)
                ASSERT_EQ(
                    (moved[i / 8] >> (i % 8)) & 1, std::abs(int(input[i]) - int(kept[i])) > 12)
                    << i;
            ASSERT_EQ(inputBefore, input);
            const SteadyPrevious before { previous.data(), moved.data() };
            // Every path the machine runs against the plain reference scan.
            for (const CpuPath path : RunnableCpuPaths())
            for (int m = 0; m < kDiffusionMethodCount; ++m)
                for (const auto method = DiffusionMethod(m); const SteadyTolerance tolerance :
                     { SteadyToleranceFor(table, method), SteadyTolerance { 40, 9, 0 } }) {
                    std::vector<uint8_t> expected = input, got = input, plain = input;
                    PlainDiffuseErrors(method, expected.data(), g, table, &before, tolerance);
                    std::vector<uint8_t> plainExpected = input;
                    PlainDiffuseErrors(method, plainExpected.data(), g, table);
                    {
                        const ScopedCpuPath forced(path);
                        DiffuseErrors(method, got.data(), g, table, &before, tolerance);
                        DiffuseErrors(method, plain.data(), g, table);
                    }
                    ASSERT_EQ(got, expected) << KernelOf(method).routineName << ", " << colours
                                             << ", " << CpuPathName(path);
                    ASSERT_EQ(plain, plainExpected)
                        << KernelOf(method).routineName << ", " << colours << ", "
                        << CpuPathName(path);
                    if (w > 16) {
                        EXPECT_TRUE(got != plain)
                            << "the previous frame was not used: " << KernelOf(method).routineName
                            << ", " << colours << ", " << tolerance.still;
                    }
                }
        }
    }
}
