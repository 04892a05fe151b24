#pragma once
// The threshold matrices of the Bayer methods, row phase r first: T[r][c]. Internal to dither/.
#include <array>
#include <cstddef>
#include <cstdint>

namespace pelorin {

template <int N> using ThresholdMatrix = std::array<std::array<int32_t, N>, N>;

// The Bayer index matrix of side N (a power of two), by the usual recursion: M1 = [0], and
// M2k has quadrants 4·Mk (top left), 4·Mk + 2 (top right), 4·Mk + 3 (bottom left) and
// 4·Mk + 1 (bottom right).
template <int N> constexpr ThresholdMatrix<N> MakeBayerMatrix()
{
    static_assert(N >= 1 && (N & (N - 1)) == 0, "the side must be a power of two");
    ThresholdMatrix<N> m {};
    if constexpr (N == 1) {
        m[0][0] = 0;
    } else {
        constexpr int k = N / 2;
        constexpr ThresholdMatrix<k> half = MakeBayerMatrix<k>();
        for (int r = 0; r < k; ++r)
            for (int c = 0; c < k; ++c) {
                const int32_t v = 4 * half[size_t(r)][size_t(c)];
                m[size_t(r)][size_t(c)] = v;
                m[size_t(r)][size_t(c + k)] = v + 2;
                m[size_t(r + k)][size_t(c)] = v + 3;
                m[size_t(r + k)][size_t(c + k)] = v + 1;
            }
    }
    return m;
}

// clang-format off
inline constexpr ThresholdMatrix<2> kBayer2x2Thresholds { {
    {  63, 127 },
    { 191,   0 },
} };

inline constexpr ThresholdMatrix<4> kBayer4x4Thresholds { {
    {  32, 159,  64, 191 },
    { 255,  96, 223, 128 },
    {  48, 175,  16, 143 },
    { 207, 112, 239,  80 },
} };
// clang-format on

inline constexpr ThresholdMatrix<8> kBayer8x8Thresholds = MakeBayerMatrix<8>();

static_assert(kBayer8x8Thresholds[0] == std::array<int32_t, 8> { 0, 32, 8, 40, 2, 34, 10, 42 },
    "the 8 x 8 matrix is not in its usual orientation");

// A channel byte divided by 4 and rounded to the nearest whole number, halves to even: 0 ... 64.
constexpr int ScaleByteBy4(int byte)
{
    const int whole = byte / 4, quarters = byte % 4;
    if (quarters < 2)
        return whole;
    if (quarters > 2)
        return whole + 1;
    return whole % 2 == 0 ? whole : whole + 1;
}

} // namespace pelorin
