#pragma once
// The error-diffusion scan's updates from the rows above, applied to a whole row at once before
// it is scanned (see diffusion_scan.cpp), and the kernel shape they are built from. Internal to
// the scan: 16 bytes at a time on the baseline instruction set here, 32 at a time with AVX2 in
// diffusion_rows_avx2.cpp; both give exactly the bytes of updating byte after byte.
#include "diffusion_kernels.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pelorin::diffusion_rows {

// ---- The shape of one kernel, as compile-time constants ---------------------------------

constexpr int WeightAt(const DiffusionKernel& k, int dx, int dy)
{
    for (int i = 0; i < k.entryCount; ++i)
        if (k.entries[size_t(i)].dx == dx && k.entries[size_t(i)].dy == dy)
            return k.entries[size_t(i)].weight;
    return 0;
}

constexpr bool ReachesRow(const DiffusionKernel& k, int dy)
{
    for (int i = 0; i < k.entryCount; ++i)
        if (k.entries[size_t(i)].dy == dy)
            return true;
    return false;
}

template <size_t I> struct Shape {
    static constexpr const DiffusionKernel& kernel = kDiffusionKernels[I];
    static constexpr int divisor = kernel.divisor;
    static constexpr int right1 = WeightAt(kernel, 1, 0);
    static constexpr int right2 = WeightAt(kernel, 2, 0);
    static constexpr bool reachesTwoRowsDown = ReachesRow(kernel, 2);
};

// v clamped to 0 ... 255. Whether a byte saturates follows the picture, not a pattern a
// branch predictor could learn, so the two limits are selected, never branched to.
inline int ClampByte(int v)
{
#if defined(__GNUC__) && defined(__x86_64__)
    int zero = 0, top = 255;
    __asm__(
        "cmpl %[zero], %[v]\n\tcmovl %[zero], %[v]\n\tcmpl %[top], %[v]\n\tcmovg %[top], %[v]"
        : [v] "+r"(v)
        : [zero] "r"(zero), [top] "r"(top)
        : "cc");
    return v;
#else
    return std::min(255, std::max(0, v));
#endif
}

#if defined(__GNUC__)
#define PELORIN_INLINE inline __attribute__((always_inline))
#define PELORIN_INLINE_LAMBDA __attribute__((always_inline))
#else
#define PELORIN_INLINE inline
#define PELORIN_INLINE_LAMBDA
#endif

// Whether any of the three bytes of the pixel at buffer byte `at` moved (MarkMovedBits).
PELORIN_INLINE bool MovedAt(const uint8_t* bits, size_t at)
{
    uint32_t word;
    std::memcpy(&word, bits + at / 8, 4);
    return ((word >> (at % 8)) & 7) != 0;
}

// One sender column's update to 16 bytes held as byte − 128 (see ApplyRowsAbove).
#if defined(__SSE2__)
template <int Weight, int Dx>
PELORIN_INLINE __m128i AddUpdates(__m128i bytes, const int16_t* senders)
{
    if constexpr (Weight == 0) {
        return bytes;
    } else {
        const int16_t* q = senders - 3 * Dx;
        const __m128i w = _mm_set1_epi16(int16_t(Weight));
        const __m128i lo
            = _mm_mullo_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)), w);
        const __m128i hi
            = _mm_mullo_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 8)), w);
        return _mm_adds_epi8(bytes, _mm_packs_epi16(lo, hi));
    }
}
#endif

template <int Weight, int Dx> PELORIN_INLINE int AddUpdate(int v, const int16_t* senders)
{
    if constexpr (Weight == 0)
        return v;
    else
        return ClampByte(v + Weight * senders[-3 * Dx]);
}



// The updates from the senders Dy rows up to bytes [i, stride) of one row, a byte at a time.
template <size_t I, int Dy>
PELORIN_INLINE void ApplyRowAboveTail(
    uint8_t* row, const int16_t* senders, size_t i, size_t stride)
{
    constexpr const DiffusionKernel& k = Shape<I>::kernel;
    constexpr int w2 = WeightAt(k, 2, Dy), w1 = WeightAt(k, 1, Dy), w0 = WeightAt(k, 0, Dy),
                  wm1 = WeightAt(k, -1, Dy), wm2 = WeightAt(k, -2, Dy);
    for (; i < stride; ++i) {
        const int16_t* s = senders + i;
        int v = row[i];
        v = AddUpdate<w2, 2>(v, s);
        v = AddUpdate<w1, 1>(v, s);
        v = AddUpdate<w0, 0>(v, s);
        v = AddUpdate<wm1, -1>(v, s);
        v = AddUpdate<wm2, -2>(v, s);
        row[i] = uint8_t(v);
    }
}

#if defined(__GNUC__) && defined(__x86_64__)
// The AVX2 form of ApplyRowsAbove (diffusion_rows_avx2.cpp), for every kernel I.
template <size_t I>
__attribute__((target("avx2"), noinline)) void ApplyRowsAboveAvx2(
    uint8_t* row, const int16_t* rowQuotients, size_t stride);
#endif

#if defined(__SSE2__)
template <size_t I, int Dy>
PELORIN_INLINE __m128i AddRowAbove16(__m128i bytes, const int16_t* s)
{
    constexpr const DiffusionKernel& k = Shape<I>::kernel;
    bytes = AddUpdates<WeightAt(k, 2, Dy), 2>(bytes, s);
    bytes = AddUpdates<WeightAt(k, 1, Dy), 1>(bytes, s);
    bytes = AddUpdates<WeightAt(k, 0, Dy), 0>(bytes, s);
    bytes = AddUpdates<WeightAt(k, -1, Dy), -1>(bytes, s);
    return AddUpdates<WeightAt(k, -2, Dy), -2>(bytes, s);
}
#endif

// Applies to the bytes of one row the updates from the rows above: from two rows up (where
// the kernel reaches so far), then from the row just above, each in sender order, in one
// pass over the row; 32 bytes at a time with `wide` (CpuPath::Avx2 and wider).
template <size_t I>
PELORIN_INLINE void ApplyRowsAbove(
    uint8_t* row, const int16_t* rowQuotients, size_t stride, bool wide)
{
#if defined(__GNUC__) && defined(__x86_64__)
    if (wide)
        return ApplyRowsAboveAvx2<I>(row, rowQuotients, stride);
#else
    (void)wide;
#endif
    const int16_t* const twoUp = rowQuotients - 2 * ptrdiff_t(stride);
    const int16_t* const oneUp = rowQuotients - ptrdiff_t(stride);
    size_t i = 0;
#if defined(__SSE2__)
    // Bytes held as byte − 128, so that a signed saturating add applies weight·q and clamps
    // to 0 ... 255 in one step (|weight·q| ≤ 126, checked by FitsFastScan).
    const __m128i bias = _mm_set1_epi8(char(0x80));
    for (; i + 16 <= stride; i += 16) {
        __m128i bytes
            = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i)), bias);
        if constexpr (Shape<I>::reachesTwoRowsDown)
            bytes = AddRowAbove16<I, 2>(bytes, twoUp + i);
        bytes = AddRowAbove16<I, 1>(bytes, oneUp + i);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), _mm_xor_si128(bytes, bias));
    }
#endif
    if constexpr (Shape<I>::reachesTwoRowsDown)
        ApplyRowAboveTail<I, 2>(row, twoUp, i, stride);
    ApplyRowAboveTail<I, 1>(row, oneUp, i, stride);
}

} // namespace pelorin::diffusion_rows
