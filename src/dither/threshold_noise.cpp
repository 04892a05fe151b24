#include "threshold_noise.h"
#include "convert/nearest_color.h"
#include "convert/working_bitmap.h"
#include "cpu_dispatch.h"
#include "error_diffusion_engine.h"
#include "noise_generator.h"
#include "routines.h"

#include <array>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The vector helpers here pass vectors by value, but they are file-local and always inlined, so
// no call crosses a calling convention that would need to agree on how vectors travel.
#pragma GCC diagnostic ignored "-Wpsabi"

#include <algorithm>
#include <cstdlib>

namespace pelorin {

namespace {

    // The buffer is noised a block of pixels at a time. Draw k after a state s is the scramble
    // of s + (k + 1)·step, so each draw is worked out on its own, many side by side in vector
    // lanes, in the order of the buffer's bytes: byte 3i + o (o = 0 blue, 1 green, 2 red) takes
    // draw 3i + 2 − o, red being drawn first.
    constexpr size_t kBlockPixels = 64;
    constexpr size_t kBlockBytes = 3 * kBlockPixels;
    static_assert(kBlockBytes % 8 == 0, "a block is worked 8 bytes at a time");

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

    inline __attribute__((always_inline)) uint32_t Scramble(uint64_t z)
    {
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        z ^= z >> 31;
        return uint32_t(z >> 32);
    }

    // Eight bytes side by side. The vector types compile to whatever lanes the function's
    // instruction set offers, so every instruction set computes the very same numbers.
    using U64x8 = uint64_t __attribute__((vector_size(64)));
    using U32x8 = uint32_t __attribute__((vector_size(32)));
    using I32x8 = int32_t __attribute__((vector_size(32)));
    using U8x8 = uint8_t __attribute__((vector_size(8)));
    using U8x16 = uint8_t __attribute__((vector_size(16)));
    using U8x32 = uint8_t __attribute__((vector_size(32)));
    using U64x4 = uint64_t __attribute__((vector_size(32)));

    // AddNoiseBits for eight bytes, in 32-bit steps: with t = amplitude·bits,
    // v·2^32 = channel·2^32 + t − (amplitude >> 1)·2^32 − (amplitude & 1)·2^31, so the fraction
    // is t's low half with bit 31 flipped for an odd amplitude, and the whole part borrows one
    // exactly when that flip wraps below zero.
    inline __attribute__((always_inline)) I32x8 AddNoiseInLanes(
        I32x8 channels, uint32_t amplitude, U64x8 bits)
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
        return v > 255 ? 255 : v;
    }

    // Eight bytes from `work + m`, noised in place, byte m + j with the draw after state z[j].
    inline __attribute__((always_inline)) void Noise8(
        uint8_t* work, size_t m, U64x8 z, uint8_t amplitude)
    {
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        z ^= z >> 31;
        // Widened and narrowed by byte shuffles (a conversion moves lanes one at a time).
        uint64_t word;
        std::memcpy(&word, work + m, 8);
        const U8x32 bytes = U8x32(U64x4 { word, 0, 0, 0 });
        const U8x32 zero = {};
        const I32x8 channels
            = I32x8(__builtin_shufflevector(bytes, zero, 0, 32, 32, 32, 1, 32, 32, 32, 2, 32, 32,
                32, 3, 32, 32, 32, 4, 32, 32, 32, 5, 32, 32, 32, 6, 32, 32, 32, 7, 32, 32, 32));
        const U8x32 noised = U8x32(AddNoiseInLanes(channels, amplitude, z >> 32));
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

    using NoiseBlockFn = void (*)(uint8_t*, size_t, uint64_t, const uint64_t*, uint8_t);

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

    // The nearer of a two-entry palette's colours, by the side of their dividing plane, without
    // a branch: with noise the side is a coin toss.
    struct TwoEntryChoice {
        TwoEntryPlane plane;
        uint32_t operator()(int red, int green, int blue) const
        {
            const uint32_t one = 0u - uint32_t(plane.EntryOne(red, green, blue));
            return plane.colour0 ^ ((plane.colour0 ^ plane.colour1) & one);
        }
    };

    // Nearest colours of the noised pixels; two-entry palettes by the side of their plane.
    template <class Nearest>
    void MapBlocks(uint8_t* begin, uint8_t* end, uint64_t& state, uint8_t amplitude,
        NoiseBlockFn noiseBlock, const Nearest& nearest)
    {
        for (uint8_t* block = begin; block < end; block += kBlockBytes) {
            const size_t count = std::min<size_t>(kBlockBytes, size_t(end - block));
            noiseBlock(block, count, state, nullptr, amplitude);
            state = NoiseGenerator::Skip(state, count);
            for (uint8_t* p = block; p < block + count; p += 3) {
                const uint32_t c = nearest(p[2], p[1], p[0]);
                p[0] = uint8_t(c);
                p[1] = uint8_t(c >> 8);
                p[2] = uint8_t(c >> 16);
            }
        }
    }

    // `count` bytes of `input` noised into `out`, each pixel with the numbers of its last draw
    // (drawn[pixel]).
    inline __attribute__((always_inline)) void DrawAgain(uint8_t* out, const uint8_t* input,
        size_t count, const uint64_t* drawn, uint8_t amplitude, NoiseBlockFn noiseBlock)
    {
        std::memcpy(out, input, count);
        noiseBlock(out, count, 0, drawn, amplitude);
    }

    // Eight pixels (24 bytes, read as 32) as blue, green and red lanes.
    struct PixelLanes {
        I32x8 blue, green, red;

        explicit inline __attribute__((always_inline)) PixelLanes(const uint8_t* p)
        {
            U8x32 v;
            std::memcpy(&v, p, sizeof v);
            const U8x32 z = {};
            blue = I32x8(__builtin_shufflevector(v, z, 0, 32, 32, 32, 3, 32, 32, 32, 6, 32, 32, 32,
                9, 32, 32, 32, 12, 32, 32, 32, 15, 32, 32, 32, 18, 32, 32, 32, 21, 32, 32, 32));
            green = I32x8(__builtin_shufflevector(v, z, 1, 32, 32, 32, 4, 32, 32, 32, 7, 32, 32, 32,
                10, 32, 32, 32, 13, 32, 32, 32, 16, 32, 32, 32, 19, 32, 32, 32, 22, 32, 32, 32));
            red = I32x8(__builtin_shufflevector(v, z, 2, 32, 32, 32, 5, 32, 32, 32, 8, 32, 32, 32,
                11, 32, 32, 32, 14, 32, 32, 32, 17, 32, 32, 32, 20, 32, 32, 32, 23, 32, 32, 32));
        }
    };

    // Eight pixels (24 bytes, read as 32) packed as the palette's colours are, in one shuffle.
    inline __attribute__((always_inline)) I32x8 PackedPixels(const uint8_t* p)
    {
        U8x32 v;
        std::memcpy(&v, p, sizeof v);
        const U8x32 z = {};
        return I32x8(__builtin_shufflevector(v, z, 0, 1, 2, 32, 3, 4, 5, 32, 6, 7, 8, 32, 9, 10, 11,
            32, 12, 13, 14, 32, 15, 16, 17, 32, 18, 19, 20, 32, 21, 22, 23, 32));
    }

    // Eight packed colours back to 24 bytes at `p`.
    inline __attribute__((always_inline)) void StorePixels(uint8_t* p, I32x8 packed)
    {
        const U8x32 v = U8x32(packed), z = {};
        // Stored as 16 bytes and 8 straight from the register: a 24-byte copy would go through
        // the stack, and its reload of the top 8 bytes stalls waiting for the wide store.
        const U8x16 low
            = __builtin_shufflevector(v, z, 0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 16, 17, 18, 20);
        const U8x8 high = __builtin_shufflevector(v, z, 21, 22, 24, 25, 26, 28, 29, 30);
        std::memcpy(p, &low, 16);
        std::memcpy(p + 16, &high, 8);
    }

    // One block of steady "Treshold+Noise" on a two-entry palette, eight pixels side by side:
    // the same keep, again and afresh as the general loop, and the band around the dividing
    // plane worked out on the plane's form s (|c − e0|² − |c − e1|² = s − threshold): a redrawn
    // pixel turns to entry 1 where s reaches threshold + band, to entry 0 where s falls to
    // threshold − band, and keeps its colour between.
    struct SteadyTwoEntryBlocks {
        TwoEntryPlane plane;
        int band;
        uint8_t amplitude;
        uint64_t start; // the generator's state at the frame's start
        NoiseBlockFn noiseBlock;

        // `continues`: the history holds the frame before (else every pixel draws afresh).
        // `slack`: 8 bytes follow the block in each buffer, which the lanes may read.
        inline __attribute__((always_inline)) void Run(uint8_t* bytes, uint8_t* drawnFrom,
            uint8_t* output, uint64_t* noiseAt, size_t block, size_t count, bool continues,
            bool slack) const
        {
            // Whole blocks are worked where they lie; a block at the buffer's end on copies.
            constexpr size_t kPadded = kBlockBytes + 8;
            alignas(32) uint8_t copies[3][kPadded];
            const bool inPlace = slack && count == kBlockBytes;
            uint8_t* in = bytes + block;
            uint8_t* was = drawnFrom + block;
            uint8_t* before = output + block;
            if (!inPlace) {
                for (int k = 0; k < 3; ++k)
                    std::memset(copies[k] + count, 0, kPadded - count);
                in = static_cast<uint8_t*>(std::memcpy(copies[0], in, count));
                was = static_cast<uint8_t*>(std::memcpy(copies[1], was, count));
                before = static_cast<uint8_t*>(std::memcpy(copies[2], before, count));
            }
            const size_t groups = (count / 3 + 7) / 8;
            I32x8 keepM[kBlockPixels / 8], againM[kBlockPixels / 8], freshM[kBlockPixels / 8];
            I32x8 anyAgain = {}, anyFresh = {};
            for (size_t g = 0; g < groups; ++g) {
                // The largest channel distance, worked on the packed bytes.
                const U8x32 c = U8x32(PackedPixels(in + 24 * g)),
                            w = U8x32(PackedPixels(was + 24 * g));
                const I32x8 apart = I32x8(c > w ? c - w : w - c);
                const I32x8 db = apart & 0xFF, dg = apart >> 8 & 0xFF, dr = apart >> 16;
                I32x8 r = db > dg ? db : dg;
                r = r > dr ? r : dr;
                keepM[g] = continues ? I32x8(r <= kSteadyNoiseReach) : I32x8 {};
                freshM[g] = continues ? I32x8(r > kSteadyNoiseRefresh) : I32x8 {} - 1;
                againM[g] = ~(keepM[g] | freshM[g]);
                anyAgain |= againM[g];
                anyFresh |= freshM[g];
            }
            int64_t lanes[4];
            std::memcpy(lanes, &anyFresh, sizeof lanes);
            const bool drawFresh = (lanes[0] | lanes[1] | lanes[2] | lanes[3]) != 0;
            std::memcpy(lanes, &anyAgain, sizeof lanes);
            const bool drawAgain = (lanes[0] | lanes[1] | lanes[2] | lanes[3]) != 0;
            // A pixel drawing afresh takes its own numbers, which are those a draw again from its
            // own state gives: so where some pixels draw again, one pass from the stored states
            // serves both kinds.
            if (drawFresh)
                for (size_t g = 0; g < groups; ++g) {
                    std::memcpy(lanes, &freshM[g], sizeof lanes);
                    if ((lanes[0] | lanes[1] | lanes[2] | lanes[3]) != 0)
                        for (size_t l = 0; l < 8 && 8 * g + l < count / 3; ++l)
                            if (freshM[g][l]) {
                                const size_t i = block + 24 * g + 3 * l;
                                noiseAt[i / 3] = NoiseGenerator::Skip(start, i);
                            }
                }
            // Lanes that draw neither read (and do not use) the unnoised bytes.
            alignas(32) uint8_t noised[kPadded];
            const uint8_t* drawn = in;
            if (drawAgain) {
                DrawAgain(noised, in, count, noiseAt + block / 3, amplitude, noiseBlock);
                std::memset(noised + count, 0, kPadded - count);
                drawn = noised;
            } else if (drawFresh) {
                std::memcpy(noised, in, count);
                std::memset(noised + count, 0, kPadded - count);
                noiseBlock(noised, count, NoiseGenerator::Skip(start, block), nullptr, amplitude);
                drawn = noised;
            }
            const I32x8 c0 = I32x8 {} + int32_t(plane.colour0),
                        flip = I32x8 {} + int32_t(plane.colour0 ^ plane.colour1);
            const int32_t threshold = plane.threshold;
            const int32_t high = threshold + std::max(band, 1), low = threshold - band;
            for (size_t g = 0; g < groups; ++g) {
                const PixelLanes a(drawn + 24 * g);
                const I32x8 c = PackedPixels(in + 24 * g), w = PackedPixels(was + 24 * g),
                            p = PackedPixels(before + 24 * g);
                const I32x8 s = plane.red * a.red + plane.green * a.green + plane.blue * a.blue;
                const I32x8 wasOne = p == (c0 ^ flip);
                const I32x8 one = (keepM[g] & wasOne)
                    | (againM[g] & ((s >= high) | (wasOne & (s > low))))
                    | (freshM[g] & (s > threshold));
                const I32x8 drawnNow = (w & keepM[g]) | (c & ~keepM[g]);
                // Each group's bytes were read (above, and the next group's first eight by
                // this one's lanes) before these stores reach them.
                StorePixels(in + 24 * g, c0 ^ (flip & one));
                StorePixels(before + 24 * g, c0 ^ (flip & one));
                StorePixels(was + 24 * g, drawnNow);
            }
            if (!inPlace) {
                std::memcpy(bytes + block, in, count);
                std::memcpy(drawnFrom + block, was, count);
                std::memcpy(output + block, before, count);
            }
        }
    };

    // The shuffles that spread pixels into lanes take a byte shuffle instruction, which the
    // baseline instruction set lacks, so the blocks run with AVX2 where the processor has it.
    using TwoEntryBlocksFn = void (*)(const SteadyTwoEntryBlocks&, uint8_t*, uint8_t*, uint8_t*,
        uint64_t*, size_t, size_t, bool, bool);
    void TwoEntryBlocksBaseline(const SteadyTwoEntryBlocks& b, uint8_t* bytes, uint8_t* drawnFrom,
        uint8_t* output, uint64_t* noiseAt, size_t block, size_t count, bool continues, bool slack)
    {
        b.Run(bytes, drawnFrom, output, noiseAt, block, count, continues, slack);
    }
#if defined(__GNUC__) && defined(__x86_64__)
    __attribute__((target("avx2"))) void TwoEntryBlocksAvx2(const SteadyTwoEntryBlocks& b,
        uint8_t* bytes, uint8_t* drawnFrom, uint8_t* output, uint64_t* noiseAt, size_t block,
        size_t count, bool continues, bool slack)
    {
        b.Run(bytes, drawnFrom, output, noiseAt, block, count, continues, slack);
    }
#endif
    // Null on the plain path, which leaves two-entry palettes to the general loop.
    TwoEntryBlocksFn TwoEntryBlocksFor(CpuPath path)
    {
        if (path == CpuPath::Plain)
            return nullptr;
#if defined(__GNUC__) && defined(__x86_64__)
        if (path >= CpuPath::Avx2)
            return TwoEntryBlocksAvx2;
#endif
        return TwoEntryBlocksBaseline;
    }

    // For a mask of 48 bytes (bits 0 ... 47), the sixteen pixels they make: bit j set where any
    // of pixel j's three bytes is. Each pixel's bit is gathered at bit 3j, then neighbours are
    // closed up in pairs, pairs of pairs and so on: a few shifts, no table.
    constexpr uint32_t PixelsOfBytes(uint64_t bytes)
    {
        uint64_t x = (bytes | bytes >> 1 | bytes >> 2) & 0x249249249249ULL;
        x = (x | x >> 2) & 0x0C30C30C30C3ULL; // pixels 2k, 2k + 1 at bits 6k, 6k + 1
        x = (x | x >> 4) & 0x00F00F00F00FULL; // pixels 4q ... 4q + 3 at bits 12q ...
        x = (x | x >> 8) & 0x0000FF0000FFULL; // pixels 8r ... 8r + 7 at bits 24r ...
        return uint32_t((x | x >> 16) & 0xFFFF);
    }
    constexpr bool PixelsOfBytesGathersEveryByte()
    {
        for (int byte = 0; byte < 48; ++byte)
            if (PixelsOfBytes(uint64_t(1) << byte) != 1u << (byte / 3))
                return false;
        return PixelsOfBytes(0xFFFFFFFFFFFFULL) == 0xFFFF
            && PixelsOfBytes(0x924924924924ULL) == 0xFFFF;
    }
    static_assert(PixelsOfBytesGathersEveryByte());

    // For a mask of eight pixels, the indices of those set, in order, one per byte from the
    // lowest.
    constexpr std::array<uint64_t, 256> MakeSetIndices()
    {
        std::array<uint64_t, 256> indices {};
        for (size_t mask = 0; mask < indices.size(); ++mask) {
            int n = 0;
            for (uint64_t p = 0; p < 8; ++p)
                if ((mask >> p & 1) != 0)
                    indices[mask] |= p << (8 * n++);
        }
        return indices;
    }
    constexpr std::array<uint64_t, 256> kSetIndices = MakeSetIndices();

#if defined(__SSE2__)
    // For sixteen pixels (48 bytes from `now` and `was`), bit j set where pixel j has a channel
    // further than `near` from the other's (the result), or further than `far` (in `beyondFar`).
    inline uint32_t PixelsBeyond(
        const uint8_t* now, const uint8_t* was, int near, int far, uint32_t& beyondFar)
    {
        const __m128i nearLimit = _mm_set1_epi8(char(near)), farLimit = _mm_set1_epi8(char(far));
        const auto bitsBeyond = [](__m128i apart, __m128i limit) {
            const __m128i within = _mm_cmpeq_epi8(_mm_subs_epu8(apart, limit), _mm_setzero_si128());
            return uint64_t(uint16_t(~_mm_movemask_epi8(within)));
        };
        uint64_t nearBytes = 0, farBytes = 0;
        for (int part = 0; part < 3; ++part) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(now + 16 * part));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(was + 16 * part));
            const __m128i apart = _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a));
            nearBytes |= bitsBeyond(apart, nearLimit) << (16 * part);
            farBytes |= bitsBeyond(apart, farLimit) << (16 * part);
        }
        beyondFar = PixelsOfBytes(farBytes);
        return PixelsOfBytes(nearBytes);
    }
#endif

} // namespace

// For the tests: the lane form of AddNoiseBits, in one of the eight lanes.
uint8_t AddNoiseBitsInLanes(uint8_t channel, uint8_t amplitude, uint32_t bits)
{
    I32x8 channels = {};
    channels[3] = channel;
    const U64x8 lanes = { 0, 0, 0, bits, 0, 0, 0, 0 };
    return uint8_t(AddNoiseInLanes(channels, amplitude, lanes)[3]);
}

uint64_t NoiseDrawsPerPicture(int SW, int SH)
{
    return 3 * uint64_t(ComputeGeometry(SW, SH, 0).SizeBytes() / 3);
}

uint64_t NoiseStateAfter(uint64_t state, int64_t pictures, int SW, int SH)
{
    return NoiseGenerator::Skip(state, uint64_t(pictures) * NoiseDrawsPerPicture(SW, SH));
}

namespace {

    void SteadyThresholdNoise(ConversionContext& context, platform::PictureBox& destination,
        platform::PictureBox& source, uint8_t amplitude, SteadyHistory& history);

} // namespace

void ThresholdNoiseRoutine(ConversionContext& context, platform::PictureBox& destination,
    platform::PictureBox& source, uint8_t, uint8_t amplitude, SteadyHistory* steady)
{
    if (steady)
        return SteadyThresholdNoise(context, destination, source, amplitude, *steady);
    const NearestColorTable& table = context.NearestTable();
    const NoiseBlockFn noiseBlock = NoiseBlockFor(ActiveCpuPath());
    uint64_t state = context.noiseState;
    WorkingBitmap work(context, source, 0, false);
    uint8_t* const begin = work.Bytes();
    uint8_t* const end = begin + work.Geometry().SizeBytes();
    const auto& entries = table.Entries();
    if (entries.size() == 2) {
        MapBlocks(begin, end, state, amplitude, noiseBlock, TwoEntryChoice { table.Plane() });
    } else {
        MapBlocks(begin, end, state, amplitude, noiseBlock,
            [&](uint8_t red, uint8_t green, uint8_t blue) {
                return table.Lookup(red, green, blue);
            });
    }
    context.noiseState = state;
    work.DrawTo(destination);
}

namespace {

void SteadyThresholdNoise(ConversionContext& context, platform::PictureBox& destination,
    platform::PictureBox& source, uint8_t amplitude, SteadyHistory& history)
{
    const NearestColorTable& table = context.NearestTable();
    NoiseGenerator generator(context.noiseState);
    WorkingBitmap work(context, source, 0, false);
    const size_t size = work.Geometry().SizeBytes();
    uint8_t* const bytes = work.Bytes();
    const size_t pixels = size / 3;
    const bool keep = history.Continues() && history.result.size() == size
        && history.source.size() == size && history.noise.size() == pixels;
    if (!keep) {
        history.result.resize(size);
        history.source.resize(size);
        history.noise.resize(pixels);
    }
    uint8_t* const drawnFrom = history.source.data();
    uint8_t* const output = history.result.data();
    uint64_t* const noiseAt = history.noise.data();
    // Every pixel owns the same three numbers of the sequence as in the plain method (pixel i
    // the numbers after 3i draws from the start), so the generator ends each frame where the
    // plain method's would. A kept pixel leaves its numbers unused; a pixel whose colour moved
    // only a little draws again with the numbers of its last draw, so under slow motion it
    // changes only where its colour crosses the threshold that noise set; the others draw their
    // own, which the vector lanes work out a block at a time, for the blocks that need them.
    const uint64_t start = generator.State();
    const int band = 255 * SmallestStep(table) * kSteadyNoiseBandShare / 100;
    const CpuPath path = ActiveCpuPath();
    const NoiseBlockFn noiseBlock = NoiseBlockFor(path);
    const TwoEntryBlocksFn twoEntryBlocks = TwoEntryBlocksFor(path);
    if (table.Entries().size() == 2 && twoEntryBlocks) {
        const SteadyTwoEntryBlocks blocks { table.Plane(), band, amplitude, start, noiseBlock };
        for (size_t block = 0; block < size; block += kBlockBytes)
            twoEntryBlocks(blocks, bytes, drawnFrom, output, noiseAt, block,
                std::min(kBlockBytes, size - block), keep, block + kBlockBytes + 8 <= size);
        context.noiseState = NoiseGenerator::Skip(start, size);
        work.DrawTo(destination);
        return;
    }
    static_assert(kBlockPixels == 64, "a block's pixels are the bits of one word");
    for (size_t block = 0; block < size; block += kBlockBytes) {
        const size_t count = std::min(kBlockBytes, size - block);
        // Bit j for pixel j of the block: it draws (again or afresh); it draws afresh.
        uint64_t drawMask = 0, afreshMask = 0;
#if defined(__SSE2__)
        // A whole block sixteen pixels at a time: which reach beyond the keep and the refresh
        // reaches.
        if (keep && count == kBlockBytes) {
            for (size_t g = 0; g < kBlockPixels / 16; ++g) {
                const size_t at = block + 48 * g;
                uint32_t far = 0;
                const uint32_t beyond = PixelsBeyond(
                    bytes + at, drawnFrom + at, kSteadyNoiseReach, kSteadyNoiseRefresh, far);
                drawMask |= uint64_t(beyond) << (16 * g);
                afreshMask |= uint64_t(far) << (16 * g);
            }
        } else
#endif
            for (size_t k = 0; k < count; k += 3) {
                const size_t i = block + k;
                int reach = 255;
                if (keep) {
                    const uint8_t* const p = bytes + i;
                    reach = std::max({ std::abs(int(p[0]) - int(drawnFrom[i])),
                        std::abs(int(p[1]) - int(drawnFrom[i + 1])),
                        std::abs(int(p[2]) - int(drawnFrom[i + 2])) });
                }
                drawMask |= uint64_t(reach > kSteadyNoiseReach) << (k / 3);
                afreshMask |= uint64_t(reach > kSteadyNoiseRefresh) << (k / 3);
            }
        const bool anyAfresh = afreshMask != 0, anyAgain = (drawMask & ~afreshMask) != 0;
        // The pixels that draw, in order, eight at a time from a table, so that their lookups
        // run one after another with no branch on a noisy picture's coin toss between them.
        uint8_t drawing[kBlockPixels + 8];
        size_t drawingCount = 0;
        for (size_t part = 0; part < kBlockPixels / 8; ++part) {
            const auto eight = unsigned(drawMask >> (8 * part) & 0xFF);
            const uint64_t indices = kSetIndices[eight] + 0x0808080808080808ULL * part;
            std::memcpy(drawing + drawingCount, &indices, 8);
            drawingCount += size_t(std::popcount(eight));
        }
        // A pixel drawing afresh takes its own numbers, which are those a draw again from its
        // own state gives: so where some pixels draw again, one pass from the stored states
        // serves both kinds.
        for (uint64_t afresh = afreshMask; afresh != 0; afresh &= afresh - 1) {
            const size_t i = block + 3 * size_t(std::countr_zero(afresh));
            noiseAt[i / 3] = NoiseGenerator::Skip(start, i);
        }
        uint8_t noisedBlock[kBlockBytes];
        if (anyAgain) {
            DrawAgain(
                noisedBlock, bytes + block, count, noiseAt + block / 3, amplitude, noiseBlock);
        } else if (anyAfresh) {
            std::memcpy(noisedBlock, bytes + block, count);
            noiseBlock(
                noisedBlock, count, NoiseGenerator::Skip(start, block), nullptr, amplitude);
        }
        for (size_t j = 0; j < drawingCount; ++j) {
            const size_t k = 3 * size_t(drawing[j]), i = block + k;
            uint8_t* const p = bytes + i;
            const bool again = (afreshMask >> drawing[j] & 1) == 0;
            const uint8_t* const noised = noisedBlock + k;
            const int blue = noised[0], green = noised[1], red = noised[2];
            drawnFrom[i] = p[0];
            drawnFrom[i + 1] = p[1];
            drawnFrom[i + 2] = p[2];
            const uint32_t n = table.Lookup(uint8_t(red), uint8_t(green), uint8_t(blue));
            // A pixel that draws again keeps its colour unless the noised colour has gone
            // clearly nearer another, so input noise around a threshold flips nothing.
            const int pb = output[i], pg = output[i + 1], pr = output[i + 2];
            const int nb = int(n & 0xFF), ng = int((n >> 8) & 0xFF), nr = int(n >> 16);
            const int dn
                = (blue - nb) * (blue - nb) + (green - ng) * (green - ng) + (red - nr) * (red - nr);
            const int dp
                = (blue - pb) * (blue - pb) + (green - pg) * (green - pg) + (red - pr) * (red - pr);
            const uint32_t hold = 0u - uint32_t(again && dp - dn < band);
            const uint32_t c
                = ((uint32_t(pb) | uint32_t(pg) << 8 | uint32_t(pr) << 16) & hold) | (n & ~hold);
            output[i] = uint8_t(c);
            output[i + 1] = uint8_t(c >> 8);
            output[i + 2] = uint8_t(c >> 16);
        }
        // Every pixel shows its output: the kept ones last frame's, the others the one above.
        std::memcpy(bytes + block, output + block, count);
    }
    generator = NoiseGenerator(NoiseGenerator::Skip(start, size));
    context.noiseState = generator.State();
    work.DrawTo(destination);
}

} // namespace

} // namespace pelorin
