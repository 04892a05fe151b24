#include "palette.h"

namespace pelorin {

std::vector<PaletteEntry> Palette;

namespace {
    void Fill(size_t count) { Palette.assign(count, PaletteEntry {}); }
    void Set(size_t i, uint8_t red, uint8_t green, uint8_t blue)
    {
        Palette[i].Red = red;
        Palette[i].Green = green;
        Palette[i].Blue = blue;
    }
} // namespace

void SetPalette2()
{
    Fill(2);
    for (size_t i = 0; i < 2; ++i) {
        const auto level = uint8_t(255 * i);
        Set(i, level, level, level);
    }
}

void SetPalette4()
{
    // (red, green, blue) on/off flags per entry: black, white, blue, red.
    constexpr bool kFlags[4][3] = { { 0, 0, 0 }, { 1, 1, 1 }, { 0, 0, 1 }, { 1, 0, 0 } };
    Fill(4);
    for (size_t i = 0; i < 4; ++i)
        Set(i, uint8_t(kFlags[i][0] * 255), uint8_t(kFlags[i][1] * 255), uint8_t(kFlags[i][2] * 255));
}

void SetPalette16()
{
    Fill(16);
    for (size_t i = 0; i < 16; ++i) {
        // The TVC's dim level is 145, not half of 255.
        const uint8_t level = (i & 8) ? 255 : 145;
        Set(i, (i & 2) ? level : 0, (i & 4) ? level : 0, (i & 1) ? level : 0);
    }
}

} // namespace pelorin
