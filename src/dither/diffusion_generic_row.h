#pragma once
// The pixels of a row of the fast error-diffusion scan (diffusion_scan.cpp) for any palette: one
// channel per register, the colour chosen by a quantiser — the nearest-colour table, the plane
// between two entries, or steady dithering's choice against the frame before. Internal to the
// scan.
#include "diffusion_rows.h"
#include "error_diffusion_engine.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace pelorin::diffusion_rows {

// Internal linkage, as when these lived inside diffusion_scan.cpp, their one includer: the
// compiler lays out the scans' registers differently for templates it cannot see are local.
namespace {

    // One pixel's step, given its bytes with the error received so far: stores the chosen colour
    // at `pixel` and gives back q per channel and right1·q per channel (what the next pixel
    // receives).
    struct Quotients {
        int qBlue, qGreen, qRed;
        int rBlue, rGreen, rRed;
    };

    // Stores the chosen colour at `pixel` and gives back the quotients of the error made.
    template <int D, int Right1>
    PELORIN_INLINE Quotients Settle(
        uint8_t* pixel, int blue, int green, int red, int newBlue, int newGreen, int newRed)
    {
        pixel[0] = uint8_t(newBlue);
        pixel[1] = uint8_t(newGreen);
        pixel[2] = uint8_t(newRed);
        // The error is divided once, truncating toward zero, before it is weighted.
        Quotients q;
        q.qBlue = (blue - newBlue) / D;
        q.qGreen = (green - newGreen) / D;
        q.qRed = (red - newRed) / D;
        q.rBlue = Right1 * q.qBlue;
        q.rGreen = Right1 * q.qGreen;
        q.rRed = Right1 * q.qRed;
        return q;
    }

    // Any palette: the nearest-colour table, then q = (old − new) / D.
    template <int D, int Right1> struct TableQuantiser {
        const NearestColorTable& table;

        PELORIN_INLINE Quotients operator()(uint8_t* pixel, int blue, int green, int red) const
        {
            const uint32_t colour = table.Lookup(uint8_t(red), uint8_t(green), uint8_t(blue));
            const int newBlue = int(colour & 0xFF);
            const int newGreen = int((colour >> 8) & 0xFF);
            const int newRed = int(colour >> 16);
            return Settle<D, Right1>(pixel, blue, green, red, newBlue, newGreen, newRed);
        }
    };

    // All ones where the plane puts entry 1 nearer.
    PELORIN_INLINE int32_t EntryOne(const TwoEntryPlane& plane, int blue, int green, int red)
    {
        return -int32_t(plane.EntryOne(red, green, blue));
    }

    // Two entries: entry 1 is nearer exactly where the plane's linear form exceeds the threshold
    // (on the plane itself entry 0, the lower index, wins), as NearestColorTable decides. The
    // quotients for both entries are read from per-channel tables while the side is being worked
    // out, so that the choice is the only step between one pixel and the next.
    template <int D, int Right1> struct PlaneQuantiser {
        TwoEntryPlane plane;
        // Per channel and value, for entry 0 and entry 1: (Right1·q) << 16 | (q & 0xFFFF).
        struct Pair {
            int32_t e0, e1;
        };
        Pair blues[256], greens[256], reds[256];

        explicit PlaneQuantiser(const NearestColorTable& table)
            : plane(table.Plane())
        {
            const PaletteEntry& e0 = table.Entries()[0];
            const PaletteEntry& e1 = table.Entries()[1];
            auto fill = [](Pair* pairs, int c0, int c1) {
                for (int v = 0; v < 256; ++v) {
                    pairs[v].e0 = Pack((v - c0) / D);
                    pairs[v].e1 = Pack((v - c1) / D);
                }
            };
            fill(blues, e0.Blue, e1.Blue);
            fill(greens, e0.Green, e1.Green);
            fill(reds, e0.Red, e1.Red);
        }
        static int32_t Pack(int q)
        {
            return int32_t(uint32_t(Right1 * q) << 16 | uint32_t(q & 0xFFFF));
        }

        PELORIN_INLINE Quotients operator()(uint8_t* pixel, int blue, int green, int red) const
        {
            const Pair b = blues[blue], g = greens[green], r = reds[red];
            const int32_t one = EntryOne(plane, blue, green, red);
            const uint32_t colour
                = plane.colour0 ^ ((plane.colour0 ^ plane.colour1) & uint32_t(one));
            pixel[0] = uint8_t(colour);
            pixel[1] = uint8_t(colour >> 8);
            pixel[2] = uint8_t(colour >> 16);
            const int32_t pb = b.e0 ^ ((b.e0 ^ b.e1) & one);
            const int32_t pg = g.e0 ^ ((g.e0 ^ g.e1) & one);
            const int32_t pr = r.e0 ^ ((r.e0 ^ r.e1) & one);
            return { int16_t(pb), int16_t(pg), int16_t(pr), pb >> 16, pg >> 16, pr >> 16 };
        }
    };

    // Steady dithering's choice on any palette: the nearest colour n, or the colour p the frame
    // before left at this pixel where c lies at most the pixel's tolerance further from p than
    // from n (SteadyTolerance).
    //
    // |c − p|² − |c − n|² never exceeds |c − p|², so where c lies within the tolerance of p
    // itself, p is kept whatever n is, and the nearest colour need not be looked up at all: on a
    // still picture that is most pixels, and the lookup is the scan's slowest step.
    template <int D, int Right1, bool TwoEntries> struct SteadyQuantiser {
        const NearestColorTable& table;
        const uint8_t* buffer;
        SteadyPrevious previous;
        SteadyTolerance tolerance;
        TwoEntryPlane plane;

        SteadyQuantiser(const NearestColorTable& t, const uint8_t* b, const SteadyPrevious& p,
            SteadyTolerance tol)
            : table(t)
            , buffer(b)
            , previous(p)
            , tolerance(tol)
        {
            if constexpr (TwoEntries)
                plane = table.Plane();
        }

        PELORIN_INLINE Quotients operator()(uint8_t* pixel, int blue, int green, int red) const
        {
            const size_t at = size_t(pixel - buffer);
            // The previous colour as packed as n (blue lowest); the border leaves a fourth byte.
            uint32_t p;
            std::memcpy(&p, previous.result + at, 4);
            p &= 0xFFFFFFu;
            int bonus = tolerance.still;
            if (previous.moved && MovedAt(previous.moved, at))
                bonus = tolerance.moved;
            const int pb = int(p & 0xFF), pg = int((p >> 8) & 0xFF), pr = int(p >> 16);
            const int dp
                = (blue - pb) * (blue - pb) + (green - pg) * (green - pg) + (red - pr) * (red - pr);
            if (dp < 255 * bonus)
                return Settle<D, Right1>(pixel, blue, green, red, pb, pg, pr);
            uint32_t n;
            if constexpr (TwoEntries)
                n = EntryOne(plane, blue, green, red) ? plane.colour1 : plane.colour0;
            else
                n = table.Lookup(uint8_t(red), uint8_t(green), uint8_t(blue));
            const int nb = int(n & 0xFF), ng = int((n >> 8) & 0xFF), nr = int(n >> 16);
            const int dn
                = (blue - nb) * (blue - nb) + (green - ng) * (green - ng) + (red - nr) * (red - nr);
            if (dp - dn < 255 * bonus)
                return Settle<D, Right1>(pixel, blue, green, red, pb, pg, pr);
            return Settle<D, Right1>(pixel, blue, green, red, nb, ng, nr);
        }
    };

    // The pixels of a row for any palette, one channel per register, the colour chosen by
    // `Quantiser`.
    template <size_t I, class Quantiser> struct GenericRow {
        static constexpr int right2 = Shape<I>::right2;
        const Quantiser& quantise;
        uint8_t* row = nullptr;
        int16_t* rowQuotients = nullptr;
        int blue = 0, green = 0, red = 0, nextBlue = 0, nextGreen = 0, nextRed = 0;

        explicit GenericRow(const Quantiser& q)
            : quantise(q)
        {
        }

        PELORIN_INLINE void Start(
            uint8_t* rowBytes, int16_t* quotients, const int* first, const int* second)
        {
            row = rowBytes;
            rowQuotients = quotients;
            blue = first[0];
            green = first[1];
            red = first[2];
            nextBlue = second[0];
            nextGreen = second[1];
            nextRed = second[2];
        }

        // One pixel: quantise it, keep its q for the rows below, and pass right1·q on to the
        // next pixel and right2·q to the one after it, read from memory (`after` false at the
        // row's last two pixels, whose updates are held back).
        PELORIN_INLINE void Step(size_t x, bool after)
        {
            uint8_t* pixel = row + 3 * x;
            const Quotients q = quantise(pixel, blue, green, red);
            int16_t* out = rowQuotients + 3 * x;
            out[0] = int16_t(q.qBlue);
            out[1] = int16_t(q.qGreen);
            out[2] = int16_t(q.qRed);
            blue = ClampByte(nextBlue + q.rBlue);
            green = ClampByte(nextGreen + q.rGreen);
            red = ClampByte(nextRed + q.rRed);
            if (after) {
                if constexpr (right2 != 0) {
                    nextBlue = ClampByte(pixel[6] + right2 * q.qBlue);
                    nextGreen = ClampByte(pixel[7] + right2 * q.qGreen);
                    nextRed = ClampByte(pixel[8] + right2 * q.qRed);
                } else {
                    nextBlue = pixel[6];
                    nextGreen = pixel[7];
                    nextRed = pixel[8];
                }
            }
        }
    };

} // namespace

} // namespace pelorin::diffusion_rows
