#include "sample_picture.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace platform {

namespace {
    uint8_t Clamp(double v) { return uint8_t(std::lround(std::clamp(v, 0.0, 255.0))); }

    // Fully saturated hue h in [0, 1).
    void Hue(double h, double& r, double& g, double& b)
    {
        const double k = h * 6.0;
        r = std::clamp(std::fabs(k - 3.0) - 1.0, 0.0, 1.0);
        g = std::clamp(2.0 - std::fabs(k - 2.0), 0.0, 1.0);
        b = std::clamp(2.0 - std::fabs(k - 4.0), 0.0, 1.0);
    }
} // namespace

Surface MakeSamplePicture(int width, int height, int phase)
{
    Surface s(width, height);
    uint32_t noise = 0x12345678u;
    for (int y = 0; y < height; ++y) {
        const double v = height > 1 ? double(y) / (height - 1) : 0.0;
        for (int x = 0; x < width; ++x) {
            const double u = width > 1 ? double(x) / (width - 1) : 0.0;
            double r, g, b;
            if (v < 0.18) {
                // Hue sweep across the top.
                Hue(std::fmod(u + phase * 0.004, 1.0), r, g, b);
                r *= 255, g *= 255, b *= 255;
            } else if (v < 0.26) {
                // Grey ramp.
                r = g = b = u * 255.0;
            } else {
                // Sky to ground, with a sun, a dark hill and a striped fence.
                r = 40 + 150 * v + 40 * u;
                g = 90 + 120 * (1 - v) * (0.6 + 0.4 * u);
                b = 200 - 140 * v;
                const double cx = 0.3 + 0.1 * std::sin(phase * 0.05), cy = 0.45;
                const double d = std::hypot((u - cx) * width / height, v - cy);
                if (d < 0.12) {
                    const double t = 1 - d / 0.12;
                    r += 200 * t, g += 160 * t, b -= 80 * t;
                }
                const double hill = 0.72 + 0.08 * std::sin(u * 9.0 + phase * 0.03);
                if (v > hill) {
                    r *= 0.25, g *= 0.45, b *= 0.2;
                    if (((x / 2) % 2 == 0) && v > hill + 0.1)
                        r += 30, g += 20; // fine vertical fence lines
                }
                if (u > 0.75 && u < 0.95 && v > 0.35 && v < 0.6) {
                    // Saturated patches: red, green, blue, magenta.
                    const int patch = int((u - 0.75) / 0.05);
                    const double pr[4] = { 230, 20, 30, 220 }, pg[4] = { 20, 210, 40, 30 },
                                 pb[4] = { 25, 30, 220, 210 };
                    r = pr[patch], g = pg[patch], b = pb[patch];
                }
                if (u > 0.55 && u < 0.7 && v > 0.3 && v < 0.7) {
                    // Fine diagonal detail.
                    const bool on = ((x + y + phase) % 5) < 2;
                    r = g = b = on ? 235 : 25;
                }
            }
            noise = noise * 1664525u + 1013904223u;
            const double grain = double(noise >> 24) / 255.0 * 8.0 - 4.0;
            s.At(x, y) = Rgb(Clamp(r + grain), Clamp(g + grain), Clamp(b + grain));
        }
    }
    return s;
}

} // namespace platform
