#include "window_icon.h"

#include "convert/tvc_colours.h"

#include <QPixmap>

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>

namespace pelorin::window {

namespace {
    struct Rgb {
        int red, green, blue;
    };

    // Where each part of the monitor lies, in icon pixels.
    enum class Part { Clear, Case, CaseShadow, Screen, Stand };

    Part PartAt(int x, int y)
    {
        if (x >= 4 && x <= 27 && y >= 5 && y <= 21)
            return Part::Screen;
        if (x >= 1 && x <= 30 && y >= 2 && y <= 24)
            return (x == 30 || y == 24) ? Part::CaseShadow : Part::Case;
        if ((x >= 13 && x <= 18 && y >= 25 && y <= 27) || (x >= 8 && x <= 23 && y >= 28 && y <= 29))
            return Part::Stand;
        return Part::Clear;
    }

    // The picture on the screen: a hue sweep from left to right, darkening towards the bottom.
    Rgb ScreenColour(int x, int y)
    {
        const double hue = double(x - 4) / 24.0 * 6.0;
        const double shade = 1.0 - double(y - 5) / 20.0;
        auto channel = [&](double centre) {
            double d = std::fabs(std::fmod(hue - centre + 9.0, 6.0) - 3.0);
            return int(std::lround(255.0 * shade * std::clamp(d - 1.0, 0.0, 1.0)));
        };
        return { channel(0.0), channel(2.0), channel(4.0) };
    }

    Rgb PartColour(Part part, int x, int y)
    {
        switch (part) {
        case Part::Case:
            return { 200, 200, 200 };
        case Part::CaseShadow:
        case Part::Stand:
            return { 110, 110, 110 };
        case Part::Screen:
            return ScreenColour(x, y);
        case Part::Clear:
            break;
        }
        return { 0, 0, 0 };
    }

    int Distance(const Rgb& a, QRgb b)
    {
        const int dr = a.red - qRed(b), dg = a.green - qGreen(b), db = a.blue - qBlue(b);
        return dr * dr + dg * dg + db * db;
    }

    int NearestIndex(const QList<QRgb>& table, int transparentIndex, const Rgb& colour)
    {
        int best = 0, bestDistance = INT32_MAX;
        for (int i = 0; i < int(table.size()); ++i) {
            if (i == transparentIndex)
                continue;
            const int d = Distance(colour, table[i]);
            if (d < bestDistance)
                best = i, bestDistance = d;
        }
        return best;
    }

    // The 16 TVC colours. Entry 8 would repeat black, so it serves as the transparent colour
    // instead.
    QList<QRgb> SixteenColours()
    {
        QList<QRgb> table;
        for (const PaletteEntry& e : kTvcPalette16)
            table.append(qRgb(e.Red, e.Green, e.Blue));
        table[8] = qRgba(0, 0, 0, 0);
        return table;
    }

    // A 6 × 6 × 6 colour cube, then a grey ramp; the last entry is transparent.
    QList<QRgb> TwoHundredFiftySixColours()
    {
        QList<QRgb> table;
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 6; ++g)
                for (int b = 0; b < 6; ++b)
                    table.append(qRgb(r * 51, g * 51, b * 51));
        const int greys = 255 - int(table.size());
        for (int i = 0; i < greys; ++i) {
            const int level = i * 255 / (greys - 1);
            table.append(qRgb(level, level, level));
        }
        table.append(qRgba(0, 0, 0, 0));
        return table;
    }

    // clang-format off
    constexpr int kBayer4[4][4] = {
        {  0,  8,  2, 10 },
        { 12,  4, 14,  6 },
        {  3, 11,  1,  9 },
        { 15,  7, 13,  5 },
    };
    // clang-format on
} // namespace

QImage MakeIconImage(int colours)
{
    assert(colours == 16 || colours == 256);
    const QList<QRgb> table = colours == 16 ? SixteenColours() : TwoHundredFiftySixColours();
    const int transparentIndex = colours == 16 ? 8 : 255;
    QImage image(kIconSide, kIconSide, QImage::Format_Indexed8);
    image.setColorTable(table);
    for (int y = 0; y < kIconSide; ++y) {
        uchar* row = image.scanLine(y);
        for (int x = 0; x < kIconSide; ++x) {
            const Part part = PartAt(x, y);
            if (part == Part::Clear) {
                row[x] = uchar(transparentIndex);
                continue;
            }
            Rgb colour = PartColour(part, x, y);
            if (colours == 16 && part == Part::Screen) {
                // Sixteen colours cannot hold the sweep, so the screen is ordered-dithered: the
                // look the program is about.
                const int offset = (kBayer4[y & 3][x & 3] * 2 - 15) * 8;
                colour = { std::clamp(colour.red + offset, 0, 255),
                    std::clamp(colour.green + offset, 0, 255),
                    std::clamp(colour.blue + offset, 0, 255) };
            }
            row[x] = uchar(NearestIndex(table, transparentIndex, colour));
        }
    }
    return image;
}

QIcon MakeWindowIcon()
{
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(MakeIconImage(16)));
    icon.addPixmap(QPixmap::fromImage(MakeIconImage(256)));
    return icon;
}

} // namespace pelorin::window
