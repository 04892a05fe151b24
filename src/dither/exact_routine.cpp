// Exact error diffusion on the pipeline's pictures, plain and steady.
#include "convert/nearest_color.h"
#include "convert/working_bitmap.h"
#include "routines.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>

namespace pelorin {

namespace {

    // The tolerances of steady dithering for the exact engine: the integer engine's rules
    // (steady_history.h), as shares of the palette's smallest step by the settings' measure.
    struct ExactTolerance {
        float still;
        float moved;
        int reach;
    };

    ExactTolerance ToleranceFor(
        const ExactDiffusionSettings& settings, std::span<const PaletteEntry> palette)
    {
        const bool binary = std::all_of(palette.begin(), palette.end(), [](const PaletteEntry& e) {
            return (e.Red == 0 || e.Red == 255) && (e.Green == 0 || e.Green == 255)
                && (e.Blue == 0 || e.Blue == 255);
        });
        const float step = SmallestStep(settings, palette);
        const auto share = [&](int hundredths) { return step * float(hundredths) / 100.0f; };
        if (binary) {
            const SteadyDiffusionRule& rule = kSteadyBinaryDiffusion;
            return { share(rule.stillShare), share(rule.movedShare), rule.reach };
        }
        return { share(kSteadyFineStillShare[size_t(settings.method)]),
            share(kSteadyFineMovedShare), kSteadyFineReach };
    }

    bool WithinReach(uint32_t a, uint32_t b, int reach)
    {
        for (int shift = 0; shift <= 16; shift += 8)
            if (std::abs(int(a >> shift & 255) - int(b >> shift & 255)) > reach)
                return false;
        return true;
    }

} // namespace

void ExactDiffuseRoutine(ConversionContext& context, const ExactDiffusionSettings& settings,
    platform::PictureBox& destination, platform::PictureBox& source, SteadyHistory* steady)
{
    // Fetched first: an empty palette fails as the integer engine fails.
    context.NearestTable();
    const std::span<const PaletteEntry> palette = context.palette;

    const platform::PictureLocks locks(source, destination);
    const platform::Surface& in = source.Image();
    platform::Surface& out = destination.Image();
    const int width = std::min(PictureWidth(source), in.width);
    const int height = std::min(PictureHeight(source), in.height);
    if (width <= 0 || height <= 0)
        return;
    const size_t pixels = size_t(width) * size_t(height);

    std::vector<uint32_t> colours(palette.size());
    std::transform(palette.begin(), palette.end(), colours.begin(), PackEntry);

    const bool follows = steady && steady->Continues() && steady->exactInput.size() == pixels
        && steady->exactResult.size() == pixels;
    ExactTolerance tolerance {};
    std::vector<uint8_t> previous;
    std::vector<float> tolerances;
    if (follows) {
        tolerance = ToleranceFor(settings, palette);
        previous.resize(static_cast<size_t>(width));
        tolerances.resize(size_t(width));
    }
    if (steady) {
        steady->exactInput.resize(pixels);
        steady->exactResult.resize(pixels);
    }

    ExactDiffusion scan(settings, width);
    std::vector<uint8_t> indices(static_cast<size_t>(width));
    std::vector<uint32_t> row(static_cast<size_t>(width));
    for (int y = 0; y < height; ++y) {
        if (context.stopRequest && context.stopRequest->load(std::memory_order_relaxed))
            throw ConversionStopped();
        std::copy_n(in.Row(y), width, row.begin());
        SteadyRowChoice choice {};
        uint32_t* const keptInput
            = steady ? &steady->exactInput[size_t(y) * size_t(width)] : nullptr;
        uint32_t* const keptResult
            = steady ? &steady->exactResult[size_t(y) * size_t(width)] : nullptr;
        if (follows) {
            for (int x = 0; x < width; ++x) {
                // The colour kept must still be in the palette (a new scene's registers may
                // have dropped it); the first entry of that colour stands for it.
                const auto at = std::find(colours.begin(), colours.end(), keptResult[x]);
                previous[size_t(x)] = uint8_t(at - colours.begin());
                tolerances[size_t(x)] = at == colours.end()                      ? 0.0f
                    : WithinReach(row[size_t(x)], keptInput[x], tolerance.reach) ? tolerance.still
                                                                                 : tolerance.moved;
            }
            choice = { previous.data(), tolerances.data() };
        }
        scan.Row(row.data(), palette, indices.data(), follows ? &choice : nullptr);
        if (steady) {
            std::copy(row.begin(), row.end(), keptInput);
            for (int x = 0; x < width; ++x)
                keptResult[x] = colours[indices[size_t(x)]];
        }
        if (y < out.height) {
            uint32_t* const target = out.Row(y);
            for (int x = 0; x < std::min(width, out.width); ++x)
                target[x] = colours[indices[size_t(x)]];
        }
    }
}

} // namespace pelorin
