// Steady "Treshold+Noise" (the rules of steady_history.h): which pixels keep their output,
// which draw again with the numbers of their last draw and which draw afresh, worked out a block
// at a time; for two-entry palettes eight pixels side by side in vector lanes.
#include "threshold_noise_steady.h"

#include "convert/nearest_color.h"
#include "convert/working_bitmap.h"
#include "error_diffusion_engine.h"
#include "noise_generator.h"
#include "noise_lanes.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pelorin {

namespace {

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
    inline __attribute__((always_inline)) void LoadPacked(I32x8& packed, const uint8_t* p)
    {
        U8x32 v;
        std::memcpy(&v, p, sizeof v);
        const U8x32 z = {};
        packed = I32x8(__builtin_shufflevector(v, z, 0, 1, 2, 32, 3, 4, 5, 32, 6, 7, 8, 32, 9, 10,
            11, 32, 12, 13, 14, 32, 15, 16, 17, 32, 18, 19, 20, 32, 21, 22, 23, 32));
    }

    // Eight packed colours back to 24 bytes at `p`.
    inline __attribute__((always_inline)) void StorePixels(uint8_t* p, const I32x8& packed)
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

        // Per group of eight pixels, which keep their colour, draw again or draw afresh (by the
        // largest channel distance from the colour each drew from before), and whether any of
        // the block's pixels draw again or afresh.
        inline __attribute__((always_inline)) static void Masks(const uint8_t* in,
            const uint8_t* was, size_t groups, bool continues, I32x8* keepM, I32x8* againM,
            I32x8* freshM, bool& drawAgain, bool& drawFresh)
        {
            I32x8 anyAgain = {}, anyFresh = {};
            for (size_t g = 0; g < groups; ++g) {
                // The largest channel distance, worked on the packed bytes.
                I32x8 packedNow, packedWas;
                LoadPacked(packedNow, in + 24 * g);
                LoadPacked(packedWas, was + 24 * g);
                const U8x32 c = U8x32(packedNow), w = U8x32(packedWas);
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
            drawFresh = (lanes[0] | lanes[1] | lanes[2] | lanes[3]) != 0;
            std::memcpy(lanes, &anyAgain, sizeof lanes);
            drawAgain = (lanes[0] | lanes[1] | lanes[2] | lanes[3]) != 0;
        }

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
            bool drawAgain = false, drawFresh = false;
            Masks(in, was, groups, continues, keepM, againM, freshM, drawAgain, drawFresh);
            int64_t lanes[4];
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
                I32x8 c, w, p;
                LoadPacked(c, in + 24 * g);
                LoadPacked(w, was + 24 * g);
                LoadPacked(p, before + 24 * g);
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

    // Which pixels of a block draw (bit j for pixel j): `drawMask` those that draw again or
    // afresh, `afreshMask` those that draw afresh. Without `keep` all of them draw afresh.
    inline __attribute__((always_inline)) void BlockMasks(const uint8_t* bytes,
        const uint8_t* drawnFrom, size_t block, size_t count, bool keep, uint64_t& drawMask,
        uint64_t& afreshMask)
    {
        drawMask = 0;
        afreshMask = 0;
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
    }

    // The pixels of a block that draw (`drawing`, in block order), each from its noised colour
    // in `noisedBlock`; the colour each drew from is kept in `drawnFrom`, its result in `output`.
    inline __attribute__((always_inline)) void DrawPixels(const NearestColorTable& table,
        uint8_t* bytes, uint8_t* drawnFrom, uint8_t* output, const uint8_t* noisedBlock,
        const uint8_t* drawing, size_t drawingCount, uint64_t afreshMask, size_t block, int band)
    {
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
    }

} // namespace

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
        uint64_t drawMask = 0, afreshMask = 0;
        BlockMasks(bytes, drawnFrom, block, count, keep, drawMask, afreshMask);
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
            noiseBlock(noisedBlock, count, NoiseGenerator::Skip(start, block), nullptr, amplitude);
        }
        DrawPixels(table, bytes, drawnFrom, output, noisedBlock, drawing, drawingCount, afreshMask,
            block, band);
        // Every pixel shows its output: the kept ones last frame's, the others the one above.
        std::memcpy(bytes + block, output + block, count);
    }
    generator = NoiseGenerator(NoiseGenerator::Skip(start, size));
    context.noiseState = generator.State();
    work.DrawTo(destination);
}

} // namespace pelorin
