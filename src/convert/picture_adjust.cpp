#include "picture_adjust.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace pelorin {

namespace {

    uint8_t Channel(double v) { return uint8_t(std::clamp(std::lround(v), 0L, 255L)); }

    // Contrast −100 ... 100 as a slope about mid-grey: 0 flat at −100, 1 at 0, 100 at 100.
    double ContrastSlope(int contrast)
    {
        return contrast <= 0 ? (100.0 + contrast) / 100.0 : 100.0 / (100.0 - 0.99 * contrast);
    }

} // namespace

std::string AdjustmentProblem(const PictureAdjustments& a, const std::string& prefix)
{
    const auto level = [&](const char* name, int value) -> std::string {
        if (value >= -100 && value <= 100)
            return {};
        return prefix + name + " takes -100 ... 100, got " + std::to_string(value);
    };
    for (const std::string& problem : { level("brightness", a.brightness),
             level("contrast", a.contrast), level("saturation", a.saturation) })
        if (!problem.empty())
            return problem;
    if (!(a.gamma >= 0.2 && a.gamma <= 5.0)) {
        char text[80];
        std::snprintf(text, sizeof text, "gamma takes 0.2 ... 5, got %g", a.gamma);
        return prefix + text;
    }
    return {};
}

void AdjustPicture(platform::Surface& picture, const PictureAdjustments& a)
{
    AdjustPicture(picture, a, 0, 0, picture.width, picture.height);
}

void AdjustPicture(platform::Surface& picture, const PictureAdjustments& a, int left, int top,
    int width, int height)
{
    if (a.IsNeutral())
        return;
    // Clipped to the picture: a filled frame's rectangle reaches past the host on both sides.
    const int x0 = std::clamp(left, 0, picture.width);
    const int y0 = std::clamp(top, 0, picture.height);
    const int x1 = int(std::clamp<int64_t>(int64_t(left) + std::max(width, 0), x0, picture.width));
    const int y1 = int(std::clamp<int64_t>(int64_t(top) + std::max(height, 0), y0, picture.height));
    std::array<uint8_t, 256> table {};
    const double slope = ContrastSlope(a.contrast);
    for (int v = 0; v < 256; ++v) {
        double x = v;
        if (a.gamma != 1.0)
            x = 255.0 * std::pow(x / 255.0, 1.0 / a.gamma);
        x = (x - 127.5) * slope + 127.5 + 1.28 * a.brightness;
        table[size_t(v)] = Channel(x);
    }
    const double colourScale = 1.0 + a.saturation / 100.0;
    for (int y = y0; y < y1; ++y) {
        uint32_t* row = picture.Row(y);
        for (int x = x0; x < x1; ++x) {
            uint32_t& pixel = row[x];
            const int r = table[platform::RedOf(pixel)];
            const int g = table[platform::GreenOf(pixel)];
            const int b = table[platform::BlueOf(pixel)];
            if (a.saturation == 0) {
                pixel = platform::Rgb(uint8_t(r), uint8_t(g), uint8_t(b));
                continue;
            }
            const double grey = 0.299 * r + 0.587 * g + 0.114 * b;
            pixel = platform::Rgb(Channel(grey + (r - grey) * colourScale),
                Channel(grey + (g - grey) * colourScale), Channel(grey + (b - grey) * colourScale));
        }
    }
}

} // namespace pelorin
