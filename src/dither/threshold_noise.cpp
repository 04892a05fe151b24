#include "convert/nearest_color.h"
#include "convert/working_bitmap.h"
#include "noise_generator.h"
#include "routines.h"
#include "threshold_noise.h"

#include <algorithm>
#include <cstdlib>

namespace pelorin {

uint64_t NoiseDrawsPerPicture(int SW, int SH)
{
    return 3 * uint64_t(ComputeGeometry(SW, SH, 0).SizeBytes() / 3);
}

uint64_t NoiseStateAfter(uint64_t state, int64_t pictures, int SW, int SH)
{
    return NoiseGenerator::Skip(state, uint64_t(pictures) * NoiseDrawsPerPicture(SW, SH));
}

void ThresholdNoiseRoutine(ConversionContext& context, platform::PictureBox& destination,
    platform::PictureBox& source, uint8_t, uint8_t amplitude)
{
    const NearestColorTable& table = context.NearestTable();
    // A local generator keeps the state in a register through the loop.
    NoiseGenerator generator(context.noiseState);
    WorkingBitmap work(context, source, 0, false);
    uint8_t* const begin = work.Bytes();
    uint8_t* const end = begin + work.Geometry().SizeBytes();
    for (uint8_t* p = begin; p < end; p += 3) {
        // Red, then green, then blue.
        const uint8_t red = AddNoiseBits(p[2], amplitude, generator.Next());
        const uint8_t green = AddNoiseBits(p[1], amplitude, generator.Next());
        const uint8_t blue = AddNoiseBits(p[0], amplitude, generator.Next());
        const uint32_t c = table.Lookup(red, green, blue);
        p[0] = uint8_t(c);
        p[1] = uint8_t(c >> 8);
        p[2] = uint8_t(c >> 16);
    }
    context.noiseState = generator.State();
    work.DrawTo(destination);
}

void SteadyThresholdNoiseRoutine(ConversionContext& context, platform::PictureBox& destination,
    platform::PictureBox& source, uint8_t amplitude, bool continues)
{
    const NearestColorTable& table = context.NearestTable();
    NoiseGenerator generator(context.noiseState);
    WorkingBitmap work(context, source, 0, false);
    const size_t size = work.Geometry().SizeBytes();
    uint8_t* const bytes = work.Bytes();
    SteadyMemory& memory = context.steady;
    const bool keep = continues && memory.result.size() == size && memory.source.size() == size;
    if (!keep) {
        memory.result.resize(size);
        memory.source.resize(size);
    }
    uint8_t* const drawnFrom = memory.source.data();
    uint8_t* const output = memory.result.data();
    // Every pixel owns the same three numbers of the sequence as in the plain method, so the
    // generator ends each frame where the plain method's would; a kept pixel skips its three
    // without computing them.
    for (size_t i = 0; i < size; i += 3) {
        uint8_t* const p = bytes + i;
        if (keep) {
            const int reach = std::max({ std::abs(int(p[0]) - int(drawnFrom[i])),
                std::abs(int(p[1]) - int(drawnFrom[i + 1])),
                std::abs(int(p[2]) - int(drawnFrom[i + 2])) });
            if (reach <= kSteadyNoiseReach) {
                p[0] = output[i];
                p[1] = output[i + 1];
                p[2] = output[i + 2];
                generator = NoiseGenerator(NoiseGenerator::Skip(generator.State(), 3));
                continue;
            }
        }
        drawnFrom[i] = p[0];
        drawnFrom[i + 1] = p[1];
        drawnFrom[i + 2] = p[2];
        const uint8_t red = AddNoiseBits(p[2], amplitude, generator.Next());
        const uint8_t green = AddNoiseBits(p[1], amplitude, generator.Next());
        const uint8_t blue = AddNoiseBits(p[0], amplitude, generator.Next());
        const uint32_t c = table.Lookup(red, green, blue);
        p[0] = output[i] = uint8_t(c);
        p[1] = output[i + 1] = uint8_t(c >> 8);
        p[2] = output[i + 2] = uint8_t(c >> 16);
    }
    context.noiseState = generator.State();
    work.DrawTo(destination);
}

} // namespace pelorin
