#include "convert/nearest_color.h"
#include "convert/working_bitmap.h"
#include "noise_generator.h"
#include "routines.h"
#include "threshold_noise.h"

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

} // namespace pelorin
