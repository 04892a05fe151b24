#include "tvc_mode.h"

#include "convert/tvc_colours.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace pelorin {

namespace {

    // clang-format off
    constexpr std::array<TvcMode, kTvcModeCount> kModes { {
        { 2, "Graphics 2", 512, kWorkingHeight, kTvcPalette2,
            // Bit 7 is the leftmost pixel.
            8, 1, { { { 7 }, { 6 }, { 5 }, { 4 }, { 3 }, { 2 }, { 1 }, { 0 } } } },
        { 4, "Graphics 4", 256, kWorkingHeight, kTvcPalette4,
            // Pixel n: the index's low bit in bit 7 − n, its high bit in bit 3 − n.
            4, 2, { { { 7, 3 }, { 6, 2 }, { 5, 1 }, { 4, 0 } } } },
        { 16, "Graphics 16", 128, kWorkingHeight, kTvcPalette16,
            // Index bits B R G I (0 ... 3): the left pixel's in bits 1 3 5 7, the right's in 0 2 4 6.
            2, 4, { { { 1, 3, 5, 7 }, { 0, 2, 4, 6 } } } },
    } };
    // clang-format on

    // Every row fills a line of video memory exactly, and no two of a byte's bits collide.
    constexpr bool PackingIsWhole()
    {
        for (const TvcMode& m : kModes) {
            if (m.pixelsPerByte * m.bitsPerPixel != 8
                || m.workingWidth != kVramBytesPerLine * m.pixelsPerByte
                || (1u << m.bitsPerPixel) < m.palette.size())
                return false;
            unsigned used = 0;
            for (int n = 0; n < m.pixelsPerByte; ++n)
                for (int k = 0; k < m.bitsPerPixel; ++k)
                    used |= 1u << m.vramBit[size_t(n)][size_t(k)];
            if (used != 0xFFu)
                return false;
        }
        return true;
    }
    static_assert(PackingIsWhole(), "a mode's video-memory packing does not fill its bytes");

    // A palette register holds a colour as the right-hand pixel of a "Graphics 16" byte does.
    constexpr bool RegistersHoldColoursAsGraphics16Pixels()
    {
        for (const TvcMode& m : kModes)
            if (m.number == 16)
                return std::equal(kRegisterBits.begin(), kRegisterBits.end(), m.vramBit[1].begin());
        return false;
    }
    static_assert(RegistersHoldColoursAsGraphics16Pixels(),
        "the palette register bits are not those of a \"Graphics 16\" pixel");

} // namespace

std::string TvcMode::QuotedCaption() const { return "\"" + std::string(caption) + "\""; }

std::span<const TvcMode> TvcModes() { return kModes; }

const TvcMode* FindTvcMode(int number)
{
    for (const TvcMode& mode : kModes)
        if (mode.number == number)
            return &mode;
    return nullptr;
}

const TvcMode& TvcModeOf(int number)
{
    if (const TvcMode* mode = FindTvcMode(number))
        return *mode;
    throw std::out_of_range("TVC mode " + std::to_string(number) + " is not 2, 4 or 16");
}

std::vector<int> DefaultColours(const TvcMode& mode)
{
    std::vector<int> colours;
    for (const PaletteEntry& e : mode.palette)
        colours.push_back(ColourOfEntry(e).value());
    return colours;
}

void LoadPalette(ConversionContext& context, const TvcMode& mode)
{
    context.palette.assign(mode.palette.begin(), mode.palette.end());
}

} // namespace pelorin
