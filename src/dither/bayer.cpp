#include "bayer_matrix.h"
#include "convert/working_bitmap.h"
#include "routines.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pelorin {

namespace {

    constexpr int kBorder = 4;

    // One Bayer method as data. Each compares a byte (or its scaled value) with T[r][c] and sets
    // it to 255 or 0. The stretch it covers is x = firstX ... w + lastXOver, y = firstY ... h +
    // lastYOver in buffer coordinates (w, h: the picture's size).
    struct BayerScreen {
        int n;
        const int32_t* thresholds; // n × n, row phase first
        bool atOrAbove; // 255 when v ≥ t, otherwise when v > t
        bool scaleBy4; // v is the byte / 4 rounded halves to even, otherwise the byte
        int firstX, lastXOver, firstY, lastYOver;
    };

    const BayerScreen kBayer2x2 { 2, &kBayer2x2Thresholds[0][0], false, false, 4, 4, 4, 4 };
    const BayerScreen kBayer4x4 { 4, &kBayer4x4Thresholds[0][0], true, false, 0, 3, 0, 3 };
    const BayerScreen kBayer8x8 { 8, &kBayer8x8Thresholds[0][0], false, true, 0, 3, 0, 3 };

    // The smallest byte that the cell with threshold t sets to 255. Every test above is a
    // monotone test of the byte, so it is the same as the byte being at or above this value.
    int FirstByteOn(const BayerScreen& screen, int32_t t)
    {
        for (int byte = 0; byte < 256; ++byte) {
            const int v = screen.scaleBy4 ? ScaleByteBy4(byte) : byte;
            if (screen.atOrAbove ? v >= t : v > t)
                return byte;
        }
        return 256;
    }

    // A whole number of pixels (16 for n = 2, 4 for 4, 2 for 8) fills 48 bytes, which is also
    // a whole number of matrix periods of 3·n bytes; a row's threshold pattern repeats with it.
    constexpr int kPeriodBytes = 48;

    // `steady`: null for the plain method; otherwise the frame before's buffer is read from it
    // where it continues, and this frame's is left in it.
    void RunBayer(ConversionContext& context, const BayerScreen& screen,
        platform::PictureBox& destination, platform::PictureBox& source, SteadyHistory* steady)
    {
        const int n = screen.n;
        assert(kPeriodBytes % (3 * n) == 0);
        uint8_t firstOn[8][8];
        for (int r = 0; r < n; ++r)
            for (int c = 0; c < n; ++c) {
                const int on = FirstByteOn(screen, screen.thresholds[r * n + c]);
                // No threshold of these matrices is out of reach of 255.
                assert(on <= 255);
                firstOn[r][c] = uint8_t(on);
            }

        WorkingBitmap work(context, source, kBorder, false);
        const BufferGeometry& g = work.Geometry();
        uint8_t* buffer = work.Bytes();
        const uint8_t* before
            = steady && steady->Continues() ? steady->Left(g.SizeBytes()) : nullptr;
        const int x0 = screen.firstX, x1 = g.SW + screen.lastXOver;
        const int y0 = screen.firstY, y1 = g.SH + screen.lastYOver;
        const size_t rowPixels = size_t(x1 - x0 + 1);
        const size_t rowBytes = 3 * rowPixels;

        // The column phase is a counter over the whole pass: it does not restart with a row, so
        // row j of the pass starts at phase (j · rowPixels) mod n.
        uint8_t pattern[kPeriodBytes];
        for (int y = y0; y <= y1; ++y) {
            const size_t j = size_t(y - y0);
            const int r = int(j % size_t(n));
            const int c0 = int((j * rowPixels) % size_t(n));
            for (int i = 0; i < kPeriodBytes; ++i)
                pattern[i] = firstOn[r][(c0 + i / 3) % n];
            uint8_t* row = buffer + 3 * (size_t(y) * size_t(g.W) + size_t(x0));
            if (before) {
                // Hysteresis: a byte within the band around its threshold keeps what it was.
                const uint8_t* was = before + (row - buffer);
                // Per pattern byte: the band is low ... top, both included.
                uint8_t low[kPeriodBytes], top[kPeriodBytes];
                for (int k = 0; k < kPeriodBytes; ++k) {
                    low[k] = uint8_t(std::max(0, pattern[k] - kSteadyScreenBand));
                    top[k] = uint8_t(std::min(255, pattern[k] + kSteadyScreenBand - 1));
                }
                const auto screen = [&](size_t at, int k) {
                    const uint8_t v = row[at];
                    row[at]
                        = v >= low[k] && v <= top[k] ? was[at] : uint8_t(v >= pattern[k] ? 255 : 0);
                };
                size_t i = 0;
#if defined(__SSE2__)
                // v ≥ t exactly where max(v, t) = v: a byte mask without branches.
                for (; i + kPeriodBytes <= rowBytes; i += kPeriodBytes)
                    for (int k = 0; k < kPeriodBytes; k += 16) {
                        const auto load = [](const uint8_t* p) {
                            return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
                        };
                        const __m128i v = load(row + i + size_t(k));
                        const __m128i fresh = _mm_cmpeq_epi8(_mm_max_epu8(v, load(pattern + k)), v);
                        const __m128i band
                            = _mm_and_si128(_mm_cmpeq_epi8(_mm_max_epu8(v, load(low + k)), v),
                                _mm_cmpeq_epi8(_mm_min_epu8(v, load(top + k)), v));
                        const __m128i out
                            = _mm_or_si128(_mm_and_si128(band, load(was + i + size_t(k))),
                                _mm_andnot_si128(band, fresh));
                        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i + size_t(k)), out);
                    }
#endif
                for (int k = 0; i < rowBytes; ++i, k = k + 1 == kPeriodBytes ? 0 : k + 1)
                    screen(i, k);
                continue;
            }
            size_t i = 0;
            for (; i + kPeriodBytes <= rowBytes; i += kPeriodBytes)
                for (int k = 0; k < kPeriodBytes; ++k)
                    row[i + size_t(k)] = row[i + size_t(k)] >= pattern[k] ? 255 : 0;
            for (int k = 0; i < rowBytes; ++i, ++k)
                row[i] = row[i] >= pattern[k] ? 255 : 0;
        }
        work.DrawTo(destination);
        if (steady)
            steady->Keep(work);
    }

} // namespace

void BayerRoutine(ConversionContext& context, int matrixSize, platform::PictureBox& destination,
    platform::PictureBox& source, SteadyHistory* steady)
{
    const BayerScreen& screen = matrixSize == 2 ? kBayer2x2
        : matrixSize == 4                       ? kBayer4x4
                                                : kBayer8x8;
    assert(matrixSize == screen.n);
    RunBayer(context, screen, destination, source, steady);
}

} // namespace pelorin
