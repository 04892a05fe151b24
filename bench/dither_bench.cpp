// The sixteen methods on a realistic frame, timed as the frame pipeline times them: the capture
// stretch of the 512 × 240 host picture into the mode's working picture, the palette load
// ("Graphics 16" before the copy, the others after), the method, and MapToPalette where the
// method table says so. Plus the error-diffusion engine alone, per buffer pixel.
#include "convert/nearest_color.h"
#include "convert/palette.h"
#include "convert/stretch_picture.h"
#include "convert/working_bitmap.h"
#include "dither/error_diffusion_engine.h"
#include "dither/method_table.h"
#include "platform/sample_picture.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

using namespace pelorin;
using namespace platform;

namespace {

struct Mode {
    const char* name;
    int width;
    void (*setPalette)();
    bool paletteBeforeCopy;
};
const Mode kModes[] = { { "G2", 512, SetPalette2, false }, { "G4", 256, SetPalette4, false },
    { "G16", 128, SetPalette16, true } };

PictureBox& Host()
{
    static PictureBox host(512, 240);
    static const bool drawn = [] {
        host.Image() = MakeSamplePicture(512, 240);
        return true;
    }();
    (void)drawn;
    return host;
}

void BM_Frame(benchmark::State& state)
{
    const Mode& mode = kModes[state.range(0)];
    const Method& method = *FindMethod(int(state.range(1)));
    PictureBox working(mode.width, 240);
    for (auto _ : state) {
        if (mode.paletteBeforeCopy)
            mode.setPalette();
        StretchPicture(working, Host(), mode.width, 240, 1);
        if (!mode.paletteBeforeCopy)
            mode.setPalette();
        RunMethod(method.index, working);
    }
    state.SetLabel(std::string(mode.name) + " " + std::string(method.caption));
}

void FrameArguments(benchmark::internal::Benchmark* b)
{
    for (int mode = 0; mode < 3; ++mode)
        for (int index = 1; index <= kMethodCount; ++index)
            b->Args({ mode, index });
}
BENCHMARK(BM_Frame)->Apply(FrameArguments)->Unit(benchmark::kMicrosecond);

// The engine's scan alone on the bordered buffer of a captured frame; the buffer is restored
// outside the timing before each run.
void BM_DiffusionEngine(benchmark::State& state)
{
    const Mode& mode = kModes[state.range(0)];
    const auto method = static_cast<DiffusionMethod>(state.range(1));
    const DiffusionKernel& kernel = KernelOf(method);
    PictureBox working(mode.width, 240);
    StretchPicture(working, Host(), mode.width, 240, 1);
    mode.setPalette();
    const NearestColorTable& table = CurrentNearestColorTable();
    std::vector<uint8_t> original;
    BufferGeometry g;
    {
        WorkingBitmap work(ProgramContext(), working, kDiffusionBorder, kernel.padBorders);
        g = work.Geometry();
        original.assign(work.Bytes(), work.Bytes() + g.SizeBytes());
    }
    std::vector<uint8_t> buffer(original.size());
    for (auto _ : state) {
        state.PauseTiming();
        buffer = original;
        state.ResumeTiming();
        DiffuseErrors(method, buffer.data(), g, table);
        benchmark::ClobberMemory();
    }
    // Time per scanned buffer pixel (border and pad columns included), shown in seconds with
    // an SI prefix: "14n" is 14 ns.
    const double scanned = double(g.W) * double(g.H - 2 * kernel.guardRows);
    state.counters["per_pixel"] = benchmark::Counter(
        scanned, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetLabel(std::string(mode.name) + " " + std::string(kernel.routineName));
}

void EngineArguments(benchmark::internal::Benchmark* b)
{
    for (int mode = 0; mode < 3; ++mode)
        for (int method = 0; method < kDiffusionMethodCount; ++method)
            b->Args({ mode, method });
}
BENCHMARK(BM_DiffusionEngine)->Apply(EngineArguments)->Unit(benchmark::kMicrosecond);

} // namespace
