#include "vram.h"

#include "convert/palette.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace pelorin::cli {

namespace {

    std::string ModeName(TvcMode mode) { return "\"Graphics " + std::to_string(int(mode)) + "\""; }

    // The palette index of every pixel, line by line; throws for a colour outside the palette.
    std::vector<uint8_t> PaletteIndices(const platform::Surface& picture, TvcMode mode)
    {
        // The mode's colours, leaving the palette table as the conversion left it.
        const std::vector<PaletteEntry> saved = Palette;
        LoadPalette(mode);
        const std::vector<PaletteEntry> palette = Palette;
        Palette = saved;
        std::vector<uint8_t> indices(picture.pixels.size());
        // Frames hold long runs of one colour: remember the last lookup.
        uint32_t lastColour = PackEntry(palette[0]);
        uint8_t lastIndex = 0;
        for (size_t i = 0; i < picture.pixels.size(); ++i) {
            const uint32_t colour = picture.pixels[i] & 0x00FFFFFFu;
            if (colour != lastColour) {
                const auto it = std::find_if(palette.begin(), palette.end(),
                    [&](const PaletteEntry& e) { return PackEntry(e) == colour; });
                if (it == palette.end()) {
                    char text[160];
                    std::snprintf(text, sizeof text,
                        "pixel (%zu, %zu) is #%06X, which is not a colour of the %s palette",
                        i % size_t(picture.width), i / size_t(picture.width), unsigned(colour),
                        ModeName(mode).c_str());
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

void PackVram(const platform::Surface& picture, TvcMode mode, std::vector<uint8_t>& out)
{
    const int width = WorkingWidth(mode);
    if (picture.width != width || picture.height != int(kVramLines))
        throw std::invalid_argument("the TVC video memory of " + ModeName(mode) + " holds "
            + std::to_string(width) + " x " + std::to_string(kVramLines) + " pixels, not "
            + std::to_string(picture.width) + " x " + std::to_string(picture.height));
    const std::vector<uint8_t> indices = PaletteIndices(picture, mode);
    const size_t start = out.size();
    out.resize(start + kVramFrameBytes, 0);
    uint8_t* frame = out.data() + start;
    const int pixelsPerByte = width / int(kVramBytesPerLine);
    for (size_t y = 0; y < kVramLines; ++y) {
        const uint8_t* line = indices.data() + y * size_t(width);
        uint8_t* bytes = frame + y * kVramBytesPerLine;
        for (size_t b = 0; b < kVramBytesPerLine; ++b) {
            const uint8_t* p = line + b * size_t(pixelsPerByte);
            uint8_t v = 0;
            switch (mode) {
            case TvcMode::Graphics2:
                for (int n = 0; n < 8; ++n)
                    v |= uint8_t((p[n] & 1) << (7 - n));
                break;
            case TvcMode::Graphics4:
                for (int n = 0; n < 4; ++n)
                    v |= uint8_t(((p[n] & 1) << (7 - n)) | (((p[n] >> 1) & 1) << (3 - n)));
                break;
            case TvcMode::Graphics16:
                // Each index bit k (B = 0, R = 1, G = 2, I = 3) lands in bit 2k + 1 for the left
                // pixel and bit 2k for the right one.
                for (int k = 0; k < 4; ++k)
                    v |= uint8_t(
                        (((p[0] >> k) & 1) << (2 * k + 1)) | (((p[1] >> k) & 1) << (2 * k)));
                break;
            }
            bytes[b] = v;
        }
    }
}

} // namespace pelorin::cli
