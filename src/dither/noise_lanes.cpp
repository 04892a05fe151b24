#include "noise_lanes.h"

#include "noise_generator.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace pelorin {

namespace {

    // (k + 1)·step for the draw of each byte of a block.
    constexpr std::array<uint64_t, kBlockBytes> MakeByteSteps()
    {
        std::array<uint64_t, kBlockBytes> steps {};
        for (size_t m = 0; m < kBlockBytes; ++m) {
            const uint64_t draw = m + 2 - 2 * (m % 3);
            steps[m] = (draw + 1) * NoiseGenerator::kStep;
        }
        return steps;
    }
    constexpr std::array<uint64_t, kBlockBytes> kByteSteps = MakeByteSteps();

    // AddNoiseBits for eight bytes, in 32-bit steps: with t = amplitude·bits,
    // v·2^32 = channel·2^32 + t − (amplitude >> 1)·2^32 − (amplitude & 1)·2^31, so the fraction
    // is t's low half with bit 31 flipped for an odd amplitude, and the whole part borrows one
    // exactly when that flip wraps below zero.
    inline __attribute__((always_inline)) void AddNoiseInLanes(
        I32x8& out, const I32x8& channels, uint32_t amplitude, const U64x8& bits)
    {
        const U64x8 t = bits * uint64_t(amplitude);
        const U32x8 low = __builtin_convertvector(t, U32x8);
        const I32x8 high = __builtin_convertvector(t >> 32, I32x8);
        const uint32_t odd = amplitude & 1u;
        const U32x8 fraction = low ^ (odd << 31);
        const I32x8 borrow = __builtin_convertvector(odd & ~(low >> 31), I32x8);
        const I32x8 whole
            = __builtin_convertvector(channels, I32x8) + high - int32_t(amplitude >> 1) - borrow;
        // Comparisons give −1 where true.
        const I32x8 up = -(fraction > 0x80000000u) | (-(fraction == 0x80000000u) & whole & 1);
        I32x8 v = whole + up;
        v = v < 0 ? 0 : v;
        out = v > 255 ? 255 : v;
    }

    // Eight bytes from `work + m`, noised in place, byte m + j with the draw after state z[j].
    inline __attribute__((always_inline)) void Noise8(
        uint8_t* work, size_t m, const U64x8& states, uint8_t amplitude)
    {
        U64x8 z = states;
        SplitMixFinish(z);
        // Widened and narrowed by byte shuffles (a conversion moves lanes one at a time).
        uint64_t word;
        std::memcpy(&word, work + m, 8);
        const U8x32 bytes = U8x32(U64x4 { word, 0, 0, 0 });
        const U8x32 zero = {};
        const I32x8 channels
            = I32x8(__builtin_shufflevector(bytes, zero, 0, 32, 32, 32, 1, 32, 32, 32, 2, 32, 32,
                32, 3, 32, 32, 32, 4, 32, 32, 32, 5, 32, 32, 32, 6, 32, 32, 32, 7, 32, 32, 32));
        I32x8 noisedLanes;
        AddNoiseInLanes(noisedLanes, channels, amplitude, z >> 32);
        const U8x32 noised = U8x32(noisedLanes);
        const U8x8 out = __builtin_shufflevector(noised, noised, 0, 4, 8, 12, 16, 20, 24, 28);
        std::memcpy(work + m, &out, sizeof out);
    }

    // Eight pixels (24 bytes from `work + m`, m a multiple of 24) noised in place, each with the
    // numbers of its last draw: byte 3j + o draws 2 − o after drawn[j], that is, after the state
    // drawn[j] + (3 − o)·step. The pixels' states are spread over the bytes in the lanes.
    inline __attribute__((always_inline)) void NoiseAgain24(
        uint8_t* work, size_t m, const uint64_t* drawn, uint8_t amplitude)
    {
        constexpr uint64_t s1 = NoiseGenerator::kStep, s2 = 2 * s1, s3 = 3 * s1;
        U64x8 d;
        std::memcpy(&d, drawn + m / 3, sizeof d);
        Noise8(work, m,
            __builtin_shufflevector(d, d, 0, 0, 0, 1, 1, 1, 2, 2)
                + U64x8 { s3, s2, s1, s3, s2, s1, s3, s2 },
            amplitude);
        Noise8(work, m + 8,
            __builtin_shufflevector(d, d, 2, 3, 3, 3, 4, 4, 4, 5)
                + U64x8 { s1, s3, s2, s1, s3, s2, s1, s3 },
            amplitude);
        Noise8(work, m + 16,
            __builtin_shufflevector(d, d, 5, 5, 6, 6, 6, 7, 7, 7)
                + U64x8 { s2, s1, s3, s2, s1, s3, s2, s1 },
            amplitude);
    }

    // Noises `count` bytes (a whole number of pixels, at most a block): with `drawn` null, byte
    // m with the draw after state + steps[m]; else each pixel with the numbers of its last draw,
    // drawn[pixel] (see NoiseAgain24).
    inline __attribute__((always_inline)) void NoiseBlockBody(
        uint8_t* bytes, size_t count, uint64_t state, const uint64_t* drawn, uint8_t amplitude)
    {
        // A whole block at a fixed count; a short last block is worked on copies.
        uint8_t copy[kBlockBytes];
        uint64_t drawnCopy[kBlockPixels];
        uint8_t* const work = count == kBlockBytes ? bytes : copy;
        if (work == copy) {
            std::memcpy(copy, bytes, count);
            std::memset(copy + count, 0, kBlockBytes - count);
            if (drawn) {
                std::memcpy(drawnCopy, drawn, count / 3 * sizeof *drawn);
                std::fill(drawnCopy + count / 3, drawnCopy + kBlockPixels, 0);
                drawn = drawnCopy;
            }
        }
        if (drawn) {
            for (size_t m = 0; m < kBlockBytes; m += 24)
                NoiseAgain24(work, m, drawn, amplitude);
        } else {
            for (size_t m = 0; m < kBlockBytes; m += 8) {
                U64x8 z;
                std::memcpy(&z, kByteSteps.data() + m, sizeof z);
                Noise8(work, m, z + state, amplitude);
            }
        }
        if (work == copy)
            std::memcpy(bytes, copy, count);
    }

    void NoiseBlockBaseline(
        uint8_t* bytes, size_t count, uint64_t state, const uint64_t* drawn, uint8_t amplitude)
    {
        NoiseBlockBody(bytes, count, state, drawn, amplitude);
    }

#if defined(__GNUC__) && defined(__x86_64__)
    __attribute__((target("avx2"))) void NoiseBlockAvx2(
        uint8_t* bytes, size_t count, uint64_t state, const uint64_t* drawn, uint8_t amplitude)
    {
        NoiseBlockBody(bytes, count, state, drawn, amplitude);
    }
    // 64-bit lanes multiplied in one instruction.
    __attribute__((target("avx512f,avx512dq,avx512vl,avx512bw"))) void NoiseBlockAvx512(
        uint8_t* bytes, size_t count, uint64_t state, const uint64_t* drawn, uint8_t amplitude)
    {
        NoiseBlockBody(bytes, count, state, drawn, amplitude);
    }
#endif

    // The plain form: byte after byte, each with its own draw from a generator set to it.
    void NoiseBlockPlain(
        uint8_t* bytes, size_t count, uint64_t state, const uint64_t* drawn, uint8_t amplitude)
    {
        for (size_t m = 0; m < count; ++m) {
            const size_t pixel = m / 3, channel = m % 3;
            const uint64_t before = drawn ? drawn[pixel] : NoiseGenerator::Skip(state, 3 * pixel);
            NoiseGenerator generator(NoiseGenerator::Skip(before, 2 - channel));
            bytes[m] = AddNoiseBits(bytes[m], amplitude, generator.Next());
        }
    }

} // namespace

NoiseBlockFn NoiseBlockFor(CpuPath path)
{
    switch (path) {
    case CpuPath::Plain:
        return NoiseBlockPlain;
    case CpuPath::Baseline:
        return NoiseBlockBaseline;
#if defined(__GNUC__) && defined(__x86_64__)
    case CpuPath::Avx2:
        return NoiseBlockAvx2;
    case CpuPath::Avx512:
        return NoiseBlockAvx512;
#else
    default:
        break;
#endif
    }
    return NoiseBlockBaseline;
}

uint8_t AddNoiseBitsInLanes(uint8_t channel, uint8_t amplitude, uint32_t bits)
{
    I32x8 channels = {};
    channels[3] = channel;
    const U64x8 lanes = { 0, 0, 0, bits, 0, 0, 0, 0 };
    I32x8 out;
    AddNoiseInLanes(out, channels, amplitude, lanes);
    return uint8_t(out[3]);
}

} // namespace pelorin
