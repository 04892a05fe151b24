#pragma once
// A surface is a block of width × height pixels of 32 bits each, row 0 at the top, rows packed
// with no padding (stride = width pixels). In memory a pixel's bytes are blue, green, red,
// unused — the layout of QImage::Format_RGB32 — so read as a little-endian 32-bit value a pixel
// is 0x00RRGGBB. The unused byte is kept 0 by everything that writes a surface.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {
using std::size_t;

constexpr uint32_t Rgb(uint8_t red, uint8_t green, uint8_t blue)
{
    return (uint32_t(red) << 16) | (uint32_t(green) << 8) | uint32_t(blue);
}
constexpr uint8_t RedOf(uint32_t c) { return uint8_t(c >> 16); }
constexpr uint8_t GreenOf(uint32_t c) { return uint8_t(c >> 8); }
constexpr uint8_t BlueOf(uint32_t c) { return uint8_t(c); }

// Largest side accepted for any surface; keeps width × height × 4 far inside size_t and int.
constexpr int kMaxSurfaceSide = 32768;

struct Surface {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;

    Surface() = default;
    // Throws std::invalid_argument for negative or oversized sides.
    Surface(int width, int height, uint32_t fill = 0);

    uint32_t& At(int x, int y) { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
    uint32_t At(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
    uint32_t* Row(int y) { return pixels.data() + size_t(y) * size_t(width); }
    const uint32_t* Row(int y) const { return pixels.data() + size_t(y) * size_t(width); }
    bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
    void Fill(uint32_t colour);
    bool operator==(const Surface&) const = default;
};

} // namespace platform
