// The row updates with AVX2, 32 bytes at a time: compiled for that instruction set function by
// function, and run only where cpu_dispatch.h says the processor has it.
#include "diffusion_rows.h"

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>

namespace pelorin::diffusion_rows {

namespace {

    // AVX2's form of AddUpdates: 32 bytes. The pack works within each 128-bit half, so its
    // quarters are put back in order before the add.
    template <int Weight, int Dx>
    __attribute__((target("avx2"), always_inline)) inline __m256i AddUpdates32(
        __m256i bytes, const int16_t* senders)
    {
        if constexpr (Weight == 0) {
            return bytes;
        } else {
            const int16_t* q = senders - 3 * Dx;
            const __m256i w = _mm256_set1_epi16(int16_t(Weight));
            const __m256i lo
                = _mm256_mullo_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(q)), w);
            const __m256i hi = _mm256_mullo_epi16(
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + 16)), w);
            return _mm256_adds_epi8(bytes,
                _mm256_permute4x64_epi64(_mm256_packs_epi16(lo, hi), _MM_SHUFFLE(3, 1, 2, 0)));
        }
    }

    // The updates from the senders Dy rows up to 32 bytes, in sender order: dx = 2 (the leftmost
    // sender) first.
    template <size_t I, int Dy>
    __attribute__((target("avx2"), always_inline)) inline __m256i AddRowAbove32(
        __m256i bytes, const int16_t* s)
    {
        constexpr const DiffusionKernel& k = Shape<I>::kernel;
        bytes = AddUpdates32<WeightAt(k, 2, Dy), 2>(bytes, s);
        bytes = AddUpdates32<WeightAt(k, 1, Dy), 1>(bytes, s);
        bytes = AddUpdates32<WeightAt(k, 0, Dy), 0>(bytes, s);
        bytes = AddUpdates32<WeightAt(k, -1, Dy), -1>(bytes, s);
        return AddUpdates32<WeightAt(k, -2, Dy), -2>(bytes, s);
    }

} // namespace

template <size_t I>
__attribute__((target("avx2"), noinline)) void ApplyRowsAboveAvx2(
    uint8_t* row, const int16_t* rowQuotients, size_t stride)
{
    const int16_t* const twoUp = rowQuotients - 2 * ptrdiff_t(stride);
    const int16_t* const oneUp = rowQuotients - ptrdiff_t(stride);
    const __m256i bias = _mm256_set1_epi8(char(0x80));
    size_t i = 0;
    for (; i + 32 <= stride; i += 32) {
        __m256i bytes = _mm256_xor_si256(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + i)), bias);
        if constexpr (Shape<I>::reachesTwoRowsDown)
            bytes = AddRowAbove32<I, 2>(bytes, twoUp + i);
        bytes = AddRowAbove32<I, 1>(bytes, oneUp + i);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + i), _mm256_xor_si256(bytes, bias));
    }
    if constexpr (Shape<I>::reachesTwoRowsDown)
        ApplyRowAboveTail<I, 2>(row, twoUp, i, stride);
    ApplyRowAboveTail<I, 1>(row, oneUp, i, stride);
}

// Every kernel's form, for the scan, which sees only the declaration.
template void ApplyRowsAboveAvx2<0>(uint8_t*, const int16_t*, size_t);
template void ApplyRowsAboveAvx2<1>(uint8_t*, const int16_t*, size_t);
template void ApplyRowsAboveAvx2<2>(uint8_t*, const int16_t*, size_t);
template void ApplyRowsAboveAvx2<3>(uint8_t*, const int16_t*, size_t);
template void ApplyRowsAboveAvx2<4>(uint8_t*, const int16_t*, size_t);
template void ApplyRowsAboveAvx2<5>(uint8_t*, const int16_t*, size_t);
template void ApplyRowsAboveAvx2<6>(uint8_t*, const int16_t*, size_t);
template void ApplyRowsAboveAvx2<7>(uint8_t*, const int16_t*, size_t);
static_assert(kDiffusionMethodCount == 8, "one instantiation per kernel");

} // namespace pelorin::diffusion_rows

#endif
