// The error-diffusion engine on tiny hand-built buffers (every expected byte worked out by hand),
// and the eight routines against a slow, straightforward reference on a photograph-like picture.
#include "convert/nearest_color.h"
#include "cpu_dispatch.h"
#include "convert/working_bitmap.h"
#include "error_diffusion.h"
#include "error_diffusion_engine.h"
#include "platform/sample_picture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <vector>

using namespace pelorin;
using namespace platform;

namespace {

constexpr DiffusionMethod kAllMethods[] = { DiffusionMethod::Atkinson, DiffusionMethod::Floyd,
    DiffusionMethod::Sierra, DiffusionMethod::Burkes, DiffusionMethod::Stucki,
    DiffusionMethod::Jarvis, DiffusionMethod::SierraLite, DiffusionMethod::Sierra2Row };

// A bordered (b = 4) buffer for a SW × SH picture, filled with one byte value.
struct HandBuffer {
    BufferGeometry g;
    std::vector<uint8_t> bytes;

    HandBuffer(int SW, int SH, uint8_t fill = 0)
        : g(ComputeGeometry(SW, SH, 4))
        , bytes(g.SizeBytes(), fill)
    {
    }
    uint8_t* Pixel(int x, int y)
    {
        return bytes.data() + 3 * (size_t(y) * size_t(g.W) + size_t(x));
    }
    void Set(int x, int y, uint8_t blue, uint8_t green, uint8_t red)
    {
        uint8_t* p = Pixel(x, y);
        p[0] = blue;
        p[1] = green;
        p[2] = red;
    }
    void Run(DiffusionMethod method, const NearestColorTable& table)
    {
        DiffuseErrors(method, bytes.data(), g, table);
    }
};

NearestColorTable BlackAndWhite()
{
    SetPalette2();
    return NearestColorTable(Palette);
}

// Picture 4 × 2: W = 12, H = 10. Under G = 2 the last scanned pixel is (11, 7); every pixel it
// sends error to lies in rows 8 and 9, which are never scanned, so what they receive stays
// visible. Everything else is black, a palette colour, and passes nothing on.
constexpr int kLastX = 11, kLastY = 7;

} // namespace

TEST(ErrorDiffusion, FloydPassesMinus55AsMinus3PerWeight)
{
    const NearestColorTable table = BlackAndWhite();
    HandBuffer buf(4, 2);
    buf.Set(kLastX, kLastY, 200, 200, 200); // nearest is white: e = −55, q = −3
    // Its (1, 0) and (1, 1) neighbours wrap over the row end into the first column.
    for (auto [x, y] : { std::pair { 0, 8 }, { 10, 8 }, { 11, 8 }, { 0, 9 } })
        buf.Set(x, y, 100, 100, 100);
    buf.Run(DiffusionMethod::Floyd, table);

    EXPECT_EQ(buf.Pixel(kLastX, kLastY)[0], 255);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(buf.Pixel(0, 8)[k], 100 - 21) << "right, over the row end";
        EXPECT_EQ(buf.Pixel(10, 8)[k], 100 - 9) << "below left";
        EXPECT_EQ(buf.Pixel(11, 8)[k], 100 - 15) << "below";
        EXPECT_EQ(buf.Pixel(0, 9)[k], 100 - 3) << "below right, over the row end";
    }
    EXPECT_EQ(buf.Pixel(1, 8)[0], 0) << "Floyd has no (2, 0) entry";
}

TEST(ErrorDiffusion, QuotientTruncatesTowardZero)
{
    const NearestColorTable table = BlackAndWhite();
    // Blue, green, red errors of 17, 15, 16 (towards black) and −17, −15, −16 (towards white):
    // q = 1, 0, 1 and −1, 0, −1 with D = 16; −17 must not become −2.
    struct Case {
        uint8_t blue, green, red;
        int expected[3];
    };
    for (const Case& c :
        { Case { 17, 15, 16, { 107, 100, 107 } }, Case { 238, 240, 239, { 93, 100, 93 } } }) {
        HandBuffer buf(4, 2);
        buf.Set(kLastX, kLastY, c.blue, c.green, c.red);
        buf.Set(0, 8, 100, 100, 100);
        buf.Run(DiffusionMethod::Floyd, table);
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(buf.Pixel(0, 8)[k], c.expected[k])
                << "channel " << k << " of " << int(c.blue);
    }
}

TEST(ErrorDiffusion, ErrorsBelowTheDivisorPassNothing)
{
    const NearestColorTable table = BlackAndWhite();
    for (DiffusionMethod method : kAllMethods) {
        const int D = KernelOf(method).divisor;
        for (int e : { D - 1, -(D - 1) }) {
            HandBuffer buf(4, 2, 100);
            // Everything scanned is black except the last pixel, whose error is e in blue only.
            for (int y = KernelOf(method).guardRows; y <= 9 - KernelOf(method).guardRows; ++y)
                for (int x = 0; x < 12; ++x)
                    buf.Set(x, y, 0, 0, 0);
            if (e > 0)
                buf.Set(kLastX, 9 - KernelOf(method).guardRows, uint8_t(e), 0, 0);
            else
                buf.Set(kLastX, 9 - KernelOf(method).guardRows, uint8_t(255 + e), 255, 255);
            const std::vector<uint8_t> before = buf.bytes;
            buf.Run(method, table);
            // Only the scanned rows may change, and only to exact black or white.
            const size_t scannedEnd = 3 * size_t(12) * size_t(10 - KernelOf(method).guardRows);
            for (size_t i = scannedEnd; i < buf.bytes.size(); ++i)
                ASSERT_EQ(buf.bytes[i], before[i])
                    << KernelOf(method).routineName << " e = " << e << " byte " << i;
        }
    }
}

TEST(ErrorDiffusion, AtkinsonPassesSixEighthsAs31Each)
{
    const NearestColorTable table = BlackAndWhite();
    const std::pair<int, int> neighbours[] = { { 0, 8 }, { 1, 8 }, { 10, 8 }, { 11, 8 }, { 0, 9 },
        { 11, 9 } }; // (0, 2) of the last scanned pixel is the buffer's very last pixel
    // Pure blue is nearest to black (blue error +255), yellow-ish (0, 255, 255) nearest to white
    // (blue error −255).
    for (auto [blue, other, expected] : { std::tuple { 255, 0, 131 }, { 0, 255, 69 } }) {
        HandBuffer buf(4, 2);
        buf.Set(kLastX, kLastY, uint8_t(blue), uint8_t(other), uint8_t(other));
        for (auto [x, y] : neighbours)
            buf.Set(x, y, 100, 100, 100);
        buf.Run(DiffusionMethod::Atkinson, table);
        int total = 0;
        for (auto [x, y] : neighbours) {
            EXPECT_EQ(buf.Pixel(x, y)[0], expected) << x << "," << y;
            EXPECT_EQ(buf.Pixel(x, y)[1], 100);
            total += buf.Pixel(x, y)[0] - 100;
        }
        EXPECT_EQ(total, blue ? 186 : -186);
        EXPECT_EQ(buf.Pixel(kLastX, kLastY)[0], blue ? 0 : 255);
    }
}

TEST(ErrorDiffusion, EachUpdateSaturatesAndTheExcessIsLost)
{
    const NearestColorTable table = BlackAndWhite();
    HandBuffer buf(4, 2);
    // (10, 7) is black with a blue error of 50 (q = 3): its right neighbour (11, 7), white but
    // for a blue of 250, receives +21 and must store 255, not 271. Being exact white then, it
    // passes nothing on; unclamped it would pass q = 1 to its own neighbours.
    buf.Set(10, 7, 50, 0, 0);
    buf.Set(11, 7, 250, 255, 255);
    for (auto [x, y] : { std::pair { 0, 8 }, { 9, 8 }, { 10, 8 }, { 11, 8 }, { 0, 9 } })
        buf.Set(x, y, 100, 100, 100);
    buf.Run(DiffusionMethod::Floyd, table);
    EXPECT_EQ(buf.Pixel(11, 7)[0], 255);
    EXPECT_EQ(buf.Pixel(9, 8)[0], 100 + 9);
    EXPECT_EQ(buf.Pixel(10, 8)[0], 100 + 15);
    EXPECT_EQ(buf.Pixel(11, 8)[0], 100 + 3);
    EXPECT_EQ(buf.Pixel(0, 8)[0], 100);
    EXPECT_EQ(buf.Pixel(0, 9)[0], 100);

    // A neighbour at 5 that receives −9 stores 0.
    HandBuffer low(4, 2);
    low.Set(kLastX, kLastY, 200, 200, 200);
    low.Set(10, 8, 5, 5, 5);
    low.Set(11, 8, 5, 5, 5);
    low.Run(DiffusionMethod::Floyd, table);
    EXPECT_EQ(low.Pixel(10, 8)[0], 0);
    EXPECT_EQ(low.Pixel(11, 8)[0], 0);
}

TEST(ErrorDiffusion, FirstPixelFeedsTheLastPixelOfItsOwnRow)
{
    const NearestColorTable table = BlackAndWhite();
    HandBuffer buf(4, 2);
    // (0, 7) goes to white with q = −3; its (−1, 1) neighbour is (11, 7), the last pixel of the
    // same row, which drops from 130 (white) to 121 and so turns black, passing q = 121 / 16 = 7
    // on to the right, over the row end, to (0, 8). That pixel is also (0, 7)'s (0, 1)
    // neighbour and has already lost 15.
    buf.Set(0, 7, 200, 200, 200);
    buf.Set(11, 7, 130, 130, 130);
    buf.Set(0, 8, 100, 100, 100);
    buf.Run(DiffusionMethod::Floyd, table);
    EXPECT_EQ(buf.Pixel(11, 7)[0], 0);
    EXPECT_EQ(buf.Pixel(0, 8)[0], 100 - 15 + 7 * 7);
}

TEST(ErrorDiffusion, GuardRowsSetTheScannedRows)
{
    const NearestColorTable table = BlackAndWhite();
    for (DiffusionMethod method : kAllMethods) {
        // SH = 1: H = 9. A value of 3 is nearer black and too small to pass anything on, so a
        // scanned pixel becomes 0 and every other pixel keeps 3.
        HandBuffer buf(1, 1, 3);
        buf.Run(method, table);
        const int G = KernelOf(method).guardRows;
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < buf.g.W; ++x)
                ASSERT_EQ(buf.Pixel(x, y)[1], (y >= G && y <= 8 - G) ? 0 : 3)
                    << KernelOf(method).routineName << " at " << x << "," << y;
    }
    EXPECT_EQ(KernelOf(DiffusionMethod::Atkinson).guardRows, 2)
        << "although it reaches 2 rows down";
}

TEST(ErrorDiffusion, TopPictureRowHearsTheBorderAboveOnlyUnderTwoGuardRows)
{
    const NearestColorTable table = BlackAndWhite();
    for (DiffusionMethod method : kAllMethods) {
        // All black but for a grey 100 in border row 3 and a grey 127 right below it, in the
        // top picture row. Scanned, the border pixel turns black and sends at least 2 (its q) down
        // through the (0, 1) entry every kernel has, lifting 127 to white. Unscanned, it sends
        // nothing, and 127 turns black.
        HandBuffer buf(8, 4);
        buf.Set(5, 3, 100, 100, 100);
        buf.Set(5, 4, 127, 127, 127);
        buf.Run(method, table);
        const bool scannedAbove = KernelOf(method).guardRows == 2;
        EXPECT_EQ(buf.Pixel(5, 3)[0], scannedAbove ? 0 : 100) << KernelOf(method).routineName;
        EXPECT_EQ(buf.Pixel(5, 4)[0], scannedAbove ? 255 : 0) << KernelOf(method).routineName;
    }
}

TEST(ErrorDiffusion, ExactPaletteColoursPassNoError)
{
    SetPalette16();
    const NearestColorTable table(Palette);
    for (DiffusionMethod method : kAllMethods) {
        HandBuffer buf(13, 5);
        for (size_t i = 0; i < buf.bytes.size() / 3; ++i) {
            const PaletteEntry& e = Palette[(i * 7 + i / 5) % 16];
            buf.bytes[3 * i] = e.Blue;
            buf.bytes[3 * i + 1] = e.Green;
            buf.bytes[3 * i + 2] = e.Red;
        }
        const std::vector<uint8_t> before = buf.bytes;
        buf.Run(method, table);
        EXPECT_EQ(buf.bytes, before) << KernelOf(method).routineName;
    }
}

// ---- The routines against a slow reference --------------------------------------------------

namespace {

// The published kernels, written out independently of the engine's table as weight grids:
// row dy = 0 ... 2, column dx = −2 ... 2.
struct ReferenceMethod {
    const char* name;
    DiffusionMethod method;
    void (*routine)(PictureBox&, PictureBox&);
    int divisor;
    int weights[3][5];
    int guardRows;
    bool filledBorder;
};

// clang-format off
const ReferenceMethod kReferenceMethods[] = {
    { "Atkinson", DiffusionMethod::Atkinson, DitherAtkinson, 8,
        { { 0, 0, 0, 1, 1 }, { 0, 1, 1, 1, 0 }, { 0, 0, 1, 0, 0 } }, 2, false },
    { "Floyd", DiffusionMethod::Floyd, DitherFloyd, 16,
        { { 0, 0, 0, 7, 0 }, { 0, 3, 5, 1, 0 }, { 0, 0, 0, 0, 0 } }, 2, true },
    { "Sierra", DiffusionMethod::Sierra, DitherSierra, 32,
        { { 0, 0, 0, 5, 3 }, { 2, 4, 5, 4, 2 }, { 0, 2, 3, 2, 0 } }, 4, true },
    { "Burkes", DiffusionMethod::Burkes, DitherBurkes, 32,
        { { 0, 0, 0, 8, 4 }, { 2, 4, 8, 4, 2 }, { 0, 0, 0, 0, 0 } }, 2, true },
    { "Stucki", DiffusionMethod::Stucki, DitherStucki, 42,
        { { 0, 0, 0, 8, 4 }, { 2, 4, 8, 4, 2 }, { 1, 2, 4, 2, 1 } }, 4, true },
    { "Jarvis", DiffusionMethod::Jarvis, DitherJarvis, 48,
        { { 0, 0, 0, 7, 5 }, { 3, 5, 7, 5, 3 }, { 1, 3, 5, 3, 1 } }, 4, true },
    { "SierraLite", DiffusionMethod::SierraLite, DitherSierraLite, 4,
        { { 0, 0, 0, 2, 0 }, { 0, 1, 1, 0, 0 }, { 0, 0, 0, 0, 0 } }, 2, true },
    { "Sierra2Row", DiffusionMethod::Sierra2Row, DitherSierra2Row, 16,
        { { 0, 0, 0, 4, 3 }, { 1, 2, 3, 2, 1 }, { 0, 0, 0, 0, 0 } }, 2, true },
};
// clang-format on

// Builds the bordered buffer by hand (border filled from the picture's edges, or left black),
// runs the plain reference scan on it and crops the picture out. The kernel it runs is the
// table's, checked against the published weights above (KernelTableHoldsThePublishedWeights).
Surface ReferenceDither(const ReferenceMethod& m, const Surface& picture)
{
    const int SW = picture.width, SH = picture.height;
    const BufferGeometry g = ComputeGeometry(SW, SH, kDiffusionBorder);
    const int W = g.W;
    std::vector<uint8_t> buf(g.SizeBytes(), 0);
    auto put = [&](int x, int y, uint32_t c) {
        const size_t p = 3 * (size_t(y) * size_t(W) + size_t(x));
        buf[p] = BlueOf(c);
        buf[p + 1] = GreenOf(c);
        buf[p + 2] = RedOf(c);
    };
    for (int y = 0; y < SH; ++y)
        for (int x = 0; x < SW; ++x)
            put(x + 4, y + 4, picture.At(x, y));
    if (m.filledBorder) {
        for (int i = 0; i < 4; ++i) {
            for (int x = 0; x < SW; ++x) {
                put(x + 4, i, picture.At(x, 0));
                put(x + 4, SH + 4 + i, picture.At(x, SH - 1));
            }
            for (int y = 0; y < SH; ++y) {
                put(i, y + 4, picture.At(0, y));
                put(SW + 4 + i, y + 4, picture.At(SW - 1, y));
            }
        }
    }
    PlainDiffuseErrors(m.method, buf.data(), g, NearestColorTable(Palette));
    Surface out(SW, SH);
    for (int y = 0; y < SH; ++y)
        for (int x = 0; x < SW; ++x) {
            const size_t p = 3 * (size_t(y + 4) * size_t(W) + size_t(x + 4));
            out.At(x, y) = Rgb(buf[p + 2], buf[p + 1], buf[p]);
        }
    return out;
}

} // namespace

TEST(ErrorDiffusion, KernelTableHoldsThePublishedWeights)
{
    for (const ReferenceMethod& m : kReferenceMethods) {
        const DiffusionKernel& k = KernelOf(m.method);
        int weights[3][5] = {};
        for (int i = 0; i < k.entryCount; ++i) {
            const KernelEntry& e = k.entries[size_t(i)];
            ASSERT_TRUE(e.dy >= 0 && e.dy < 3 && e.dx >= -2 && e.dx <= 2) << m.name;
            weights[e.dy][e.dx + 2] = e.weight;
        }
        for (int dy = 0; dy < 3; ++dy)
            for (int dx = 0; dx < 5; ++dx)
                EXPECT_EQ(weights[dy][dx], m.weights[dy][dx])
                    << m.name << " at dx " << dx - 2 << ", dy " << dy;
        EXPECT_EQ(k.divisor, m.divisor) << m.name;
        EXPECT_EQ(k.guardRows, m.guardRows) << m.name;
        EXPECT_EQ(k.padBorders, m.filledBorder) << m.name;
    }
}

TEST(ErrorDiffusion, RoutinesMatchTheSlowReference)
{
    struct Mode {
        void (*setPalette)();
        int width;
    };
    const Mode modes[] = { { SetPalette2, 512 }, { SetPalette4, 256 }, { SetPalette16, 128 } };
    // Every path the machine can run.
    for (const CpuPath path : RunnableCpuPaths())
    for (const Mode& mode : modes) {
        const ScopedCpuPath forced(path);
        mode.setPalette();
        // The working size, and odd sizes whose pad columns and short rows reach the buffer's
        // edges (where the fast engine falls back to byte-by-byte updates).
        for (auto [w, h] : { std::pair { mode.width, 240 }, { 37, 11 }, { 5, 3 }, { 1, 1 } }) {
            const Surface picture = MakeSamplePicture(w, h, w + h);
            for (const ReferenceMethod& m : kReferenceMethods) {
                PictureBox box(w, h);
                box.Image() = picture;
                m.routine(box, box);
                const Surface expected = ReferenceDither(m, picture);
                ASSERT_EQ(box.Image(), expected) << m.name << " on " << w << " x " << h << " with "
                                                 << Palette.size() << " colours, path "
                                                 << CpuPathName(path);
            }
        }
    }
}

TEST(ErrorDiffusion, AtkinsonSeesABlackBorderTheOthersAFilledOne)
{
    // A light grey picture: with the border filled, the rows above the picture are grey and
    // under G = 2 send their error down; left black, they are exact palette colours and send
    // nothing. The reference builds the two borders by hand, so swapping the flag must disagree.
    SetPalette2();
    Surface picture(9, 6, Rgb(90, 90, 90));
    for (const ReferenceMethod& m : kReferenceMethods) {
        PictureBox box(9, 6);
        box.Image() = picture;
        m.routine(box, box);
        ReferenceMethod swapped = m;
        swapped.filledBorder = !m.filledBorder;
        EXPECT_EQ(box.Image(), ReferenceDither(m, picture)) << m.name;
        EXPECT_NE(box.Image(), ReferenceDither(swapped, picture)) << m.name;
    }
}

TEST(ErrorDiffusion, TwoAndFourColourPalettesMatchTheReferenceOnNoise)
{
    // "Graphics 2" and "Graphics 4" run on a channel-by-channel scan with the palette's choice
    // worked out in closed form; random colours put many pixels right on its ties (b = r,
    // g + r = 255, b + g + r = 383, ...), where the lower palette index must win.
    Surface picture(173, 61);
    uint32_t seed = 99;
    for (uint32_t& p : picture.pixels) {
        seed = seed * 1664525u + 1013904223u;
        p = seed >> 8;
    }
    for (auto fill : { SetPalette2, SetPalette4 }) {
        fill();
        for (const ReferenceMethod& m : kReferenceMethods) {
            PictureBox box(picture.width, picture.height);
            box.Image() = picture;
            m.routine(box, box);
            ASSERT_EQ(box.Image(), ReferenceDither(m, picture))
                << m.name << " with " << Palette.size() << " colours";
        }
    }
}

TEST(ErrorDiffusion, AStopRequestBreaksTheScanOffAndAClearFlagChangesNothing)
{
    const NearestColorTable table = BlackAndWhite();
    for (const CpuPath path : { CpuPath::Plain, CpuPath::Baseline, CpuPath::Avx2 }) {
        if (!CanRun(path))
            continue;
        ScopedCpuPath forced(path);
        // A grey ramp, so that every pixel carries error.
        const BufferGeometry g = ComputeGeometry(37, 23, 4);
        std::vector<uint8_t> plain(g.SizeBytes());
        for (size_t i = 0; i < plain.size(); ++i)
            plain[i] = uint8_t(i * 7 % 251);
        std::vector<uint8_t> watched = plain;
        const std::vector<uint8_t> untouched = plain;
        std::atomic<bool> stop { false };
        DiffuseErrors(DiffusionMethod::Floyd, plain.data(), g, table);
        DiffuseErrors(DiffusionMethod::Floyd, watched.data(), g, table, nullptr, {}, &stop);
        EXPECT_EQ(watched, plain) << CpuPathName(path);
        stop = true;
        std::vector<uint8_t> stopped = untouched;
        EXPECT_THROW(
            DiffuseErrors(DiffusionMethod::Floyd, stopped.data(), g, table, nullptr, {}, &stop),
            ConversionStopped)
            << CpuPathName(path);
        // Set before the scan: not a row was scanned.
        EXPECT_EQ(stopped, untouched) << CpuPathName(path);
    }
}
