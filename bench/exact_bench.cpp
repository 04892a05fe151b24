// Error diffusion by the exact engine beside the integer one, on each mode's captured working
// picture: the method alone as the pipeline runs it (RunExactMethod against RunMethod), the
// picture put back before each run inside the timing for both alike (a copy of at most 512 × 240
// pixels, a few microseconds).
#include "convert/conversion_context.h"
#include "convert/palette.h"
#include "convert/stretch_picture.h"
#include "dither/exact_diffusion.h"
#include "dither/method_table.h"
#include "pipeline/tvc_mode.h"
#include "platform/sample_picture.h"

#include <benchmark/benchmark.h>

#include <string>

using namespace pelorin;
using namespace platform;

namespace {

constexpr int kModeNumbers[] = { 2, 4, 16 };

// Engines: 0 integer, 1 exact, 2 exact with linear light, 3 exact with the perceptual distance.
void BM_ExactMethod(benchmark::State& state)
{
    const TvcMode& mode = *FindTvcMode(kModeNumbers[state.range(0)]);
    const Method& method = *FindMethod(int(state.range(1)));
    const int engine = int(state.range(2));
    PictureBox host(512, 240);
    host.Image() = MakeSamplePicture(512, 240);
    PictureBox working(mode.workingWidth, mode.workingHeight);
    StretchPicture(working, host, mode.workingWidth, mode.workingHeight, 1);
    const Surface captured = working.Image();
    ConversionContext context;
    LoadPalette(context, mode);
    ExactDiffusionSettings settings;
    settings.linearLight = engine == 2;
    settings.distance = engine == 3 ? ColourDistance::Perceptual : ColourDistance::Rgb;
    for (auto _ : state) {
        working.Image() = captured;
        if (engine == 0)
            RunMethod(context, method.index, working);
        else
            RunExactMethod(context, method.index, settings, working);
        benchmark::DoNotOptimize(working.Image().pixels.data());
    }
    static const char* const kEngines[] = { "integer", "exact", "exact linear", "exact oklab" };
    state.SetLabel(
        std::string(mode.caption) + " " + std::string(method.caption) + " " + kEngines[engine]);
}

void ExactArguments(benchmark::internal::Benchmark* b)
{
    for (int mode = 0; mode < 3; ++mode)
        for (const Method& method : Methods())
            if (method.family == MethodFamily::ErrorDiffusion)
                for (int engine = 0; engine < 4; ++engine)
                    if (engine < 2 || method.index == 2)
                        b->Args({ mode, method.index, engine });
}
BENCHMARK(BM_ExactMethod)->Apply(ExactArguments)->Unit(benchmark::kMicrosecond);

} // namespace
