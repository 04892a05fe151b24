#include "vram.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace pelorin {

namespace {

    // The palette index of every pixel, line by line, each line by its own palette (`lines`) or
    // all by `palette`; throws for a colour outside the palette.
    std::vector<uint8_t> PaletteIndices(const platform::Surface& picture, const TvcMode& mode,
        std::span<const PaletteEntry> palette, std::span<const std::vector<PaletteEntry>> lines)
    {
        std::vector<uint8_t> indices(picture.pixels.size());
        // Frames hold long runs of one colour: remember the last lookup.
        uint32_t lastColour = PackEntry(palette[0]);
        uint8_t lastIndex = 0;
        for (size_t i = 0; i < picture.pixels.size(); ++i) {
            const uint32_t colour = picture.pixels[i] & 0x00FFFFFFu;
            if (!lines.empty() && i % size_t(picture.width) == 0) {
                palette = lines[i / size_t(picture.width)];
                lastColour = PackEntry(palette[0]);
                lastIndex = 0;
            }
            if (colour != lastColour) {
                const auto it = std::find_if(palette.begin(), palette.end(),
                    [&](const PaletteEntry& e) { return PackEntry(e) == colour; });
                if (it == palette.end()) {
                    char text[160];
                    std::snprintf(text, sizeof text,
                        "pixel (%zu, %zu) is #%06X, which is not a colour of the %s palette",
                        i % size_t(picture.width), i / size_t(picture.width), unsigned(colour),
                        mode.QuotedCaption().c_str());
                    throw std::invalid_argument(text);
                }
                lastColour = colour;
                lastIndex = uint8_t(it - palette.begin());
            }
            indices[i] = lastIndex;
        }
        return indices;
    }

} // namespace

namespace {

    void CheckPaletteSize(const TvcMode& mode, std::span<const PaletteEntry> palette)
    {
        if (palette.size() != mode.palette.size())
            throw std::invalid_argument(mode.QuotedCaption() + " has "
                + std::to_string(mode.palette.size()) + " palette registers, not "
                + std::to_string(palette.size()));
    }

    void Pack(const platform::Surface& picture, const TvcMode& mode, std::vector<uint8_t>& out,
        std::span<const PaletteEntry> palette, std::span<const std::vector<PaletteEntry>> lines)
    {
        const int width = mode.workingWidth;
        if (picture.width != width || picture.height != int(kVramLines))
            throw std::invalid_argument("the TVC video memory of " + mode.QuotedCaption()
                + " holds " + std::to_string(width) + " x " + std::to_string(kVramLines)
                + " pixels, not " + std::to_string(picture.width) + " x "
                + std::to_string(picture.height));
        const std::vector<uint8_t> indices = PaletteIndices(picture, mode, palette, lines);
        const size_t start = out.size();
        out.resize(start + kVramFrameBytes, 0);
        uint8_t* frame = out.data() + start;
        for (size_t y = 0; y < kVramLines; ++y) {
            const uint8_t* line = indices.data() + y * size_t(width);
            uint8_t* bytes = frame + y * size_t(kVramBytesPerLine);
            for (size_t b = 0; b < size_t(kVramBytesPerLine); ++b) {
                const uint8_t* p = line + b * size_t(mode.pixelsPerByte);
                unsigned v = 0;
                for (int n = 0; n < mode.pixelsPerByte; ++n)
                    for (int k = 0; k < mode.bitsPerPixel; ++k)
                        v |= ((p[n] >> k) & 1u) << mode.vramBit[size_t(n)][size_t(k)];
                bytes[b] = uint8_t(v);
            }
        }
    }

} // namespace

void PackVram(const platform::Surface& picture, const TvcMode& mode, std::vector<uint8_t>& out,
    std::span<const PaletteEntry> palette)
{
    if (palette.empty())
        palette = mode.palette;
    CheckPaletteSize(mode, palette);
    Pack(picture, mode, out, palette, {});
}

void PackVramLines(const platform::Surface& picture, const TvcMode& mode, std::vector<uint8_t>& out,
    std::span<const std::vector<PaletteEntry>> lines)
{
    if (lines.size() != kVramLines)
        throw std::invalid_argument("a palette for each of the " + std::to_string(kVramLines)
            + " lines is needed, not " + std::to_string(lines.size()));
    for (const std::vector<PaletteEntry>& palette : lines)
        CheckPaletteSize(mode, palette);
    Pack(picture, mode, out, lines.front(), lines);
}

} // namespace pelorin
