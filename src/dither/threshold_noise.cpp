#include "threshold_noise.h"

#include "convert/nearest_color.h"
#include "convert/working_bitmap.h"
#include "noise_generator.h"
#include "noise_lanes.h"
#include "routines.h"
#include "threshold_noise_steady.h"

#include <algorithm>

namespace pelorin {

namespace {

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

} // namespace

uint64_t NoiseDrawsPerPicture(int SW, int SH)
{
    return 3 * uint64_t(ComputeGeometry(SW, SH, 0).SizeBytes() / 3);
}

uint64_t NoiseStateAfter(uint64_t state, int64_t pictures, int SW, int SH)
{
    return NoiseGenerator::Skip(state, uint64_t(pictures) * NoiseDrawsPerPicture(SW, SH));
}

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

} // namespace pelorin
