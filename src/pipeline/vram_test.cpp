#include "vram.h"

#include <gtest/gtest.h>

#include <map>

using namespace pelorin;
using platform::Rgb;

namespace {

struct Dot {
    int x, y;
    uint32_t colour;
};
struct Case {
    int mode;
    std::vector<Dot> dots; // on a black picture
    std::map<size_t, uint8_t> bytes; // every byte not listed is 0
};

// Expected bytes worked out by hand from the layout:
//  - 2 colours: bit 7 − n is pixel n of the byte;
//  - 4 colours (0 black, 1 white, 2 blue, 3 red): low index bit in 7 − n, high in 3 − n;
//  - 16 colours: the left pixel's I, G, R, B in bits 7, 5, 3, 1, the right pixel's in 6, 4, 2, 0.
const Case kCases[] = {
    { 2,
        { { 0, 0, Rgb(255, 255, 255) }, { 9, 0, Rgb(255, 255, 255) },
            { 511, 0, Rgb(255, 255, 255) }, { 7, 239, Rgb(255, 255, 255) } },
        { { 0, 0x80 }, { 1, 0x40 }, { 63, 0x01 }, { 64 * 239, 0x01 } } },
    { 4,
        { { 0, 0, Rgb(255, 0, 0) }, { 1, 0, Rgb(255, 255, 255) }, { 2, 0, Rgb(0, 0, 255) },
            { 255, 5, Rgb(0, 0, 255) }, { 4, 1, Rgb(255, 0, 0) } },
        // red (3) at n = 0: bits 7 and 3; white (1) at n = 1: bit 6; blue (2) at n = 2: bit 1.
        { { 0, 0xCA }, { 64 * 5 + 63, 0x01 }, { 64 + 1, 0x88 } } },
    { 16,
        { { 0, 0, Rgb(0, 0, 255) }, { 1, 0, Rgb(145, 145, 0) }, { 127, 239, Rgb(255, 255, 255) },
            { 2, 3, Rgb(145, 0, 0) }, { 5, 3, Rgb(0, 255, 0) } },
        // bright blue = index 9 (I, B) on the left: 0x82; dim yellow = 6 (G, R) on the right: 0x14.
        // white = 15 on the right: 0x55. dim red = 2 on the left: 0x08. bright green = 12 on the
        // right: 0x50.
        { { 0, 0x96 }, { 64 * 239 + 63, 0x55 }, { 64 * 3 + 1, 0x08 }, { 64 * 3 + 2, 0x50 } } },
};

} // namespace

TEST(Vram, HandMadePictureInEveryMode)
{
    for (const Case& c : kCases) {
        platform::Surface picture(TvcModeOf(c.mode).workingWidth, 240, 0);
        for (const Dot& d : c.dots)
            picture.At(d.x, d.y) = d.colour;
        std::vector<uint8_t> out = { 0xAB }; // packing appends
        PackVram(picture, TvcModeOf(c.mode), out);
        ASSERT_EQ(out.size(), 1 + kVramFrameBytes);
        EXPECT_EQ(out[0], 0xAB);
        for (size_t i = 0; i < kVramFrameBytes; ++i) {
            const auto it = c.bytes.find(i);
            const uint8_t expected = it == c.bytes.end() ? 0 : it->second;
            ASSERT_EQ(out[1 + i], expected) << "mode " << c.mode << ", byte " << i;
        }
    }
}

TEST(Vram, EveryIndexOfTheSixteenRoundsThroughItsBits)
{
    // Pixel pair (2k, 2k + 1) of line 0 holds indices (k, 15 − k); both decode back from the byte.
    platform::Surface picture(128, 240, 0);
    for (int k = 0; k < 16; ++k) {
        const auto colourOf = [](int index) {
            const uint8_t level = (index & 8) ? 255 : 145;
            return Rgb((index & 2) ? level : 0, (index & 4) ? level : 0, (index & 1) ? level : 0);
        };
        picture.At(2 * k, 0) = colourOf(k);
        picture.At(2 * k + 1, 0) = colourOf(15 - k);
    }
    std::vector<uint8_t> out;
    PackVram(picture, TvcModeOf(16), out);
    for (int k = 0; k < 16; ++k) {
        int left = 0, right = 0;
        for (int bit = 0; bit < 4; ++bit) {
            left |= ((out[size_t(k)] >> (2 * bit + 1)) & 1) << bit;
            right |= ((out[size_t(k)] >> (2 * bit)) & 1) << bit;
        }
        // Black is index 0 and index 8 alike; it packs as 0.
        EXPECT_EQ(left, k == 8 ? 0 : k) << k;
        EXPECT_EQ(right, 15 - k == 8 ? 0 : 15 - k) << k;
    }
}

TEST(Vram, RefusesWhatItCannotHold)
{
    platform::Surface wrongSize(256, 240, 0);
    std::vector<uint8_t> out;
    try {
        PackVram(wrongSize, TvcModeOf(16), out);
        FAIL();
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find("128 x 240"), std::string::npos) << e.what();
    }
    platform::Surface offPalette(512, 240, 0);
    offPalette.At(3, 2) = Rgb(128, 128, 128);
    try {
        PackVram(offPalette, TvcModeOf(2), out);
        FAIL();
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find("pixel (3, 2) is #808080"), std::string::npos)
            << e.what();
    }
    EXPECT_TRUE(out.empty()) << "nothing is appended for a refused picture";
}
