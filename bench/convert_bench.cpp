// The conversion core on a realistic frame: a 512 × 240 photograph-like picture.
#include "convert/nearest_color.h"
#include "convert/stretch_picture.h"
#include "dither/threshold.h"
#include "platform/sample_picture.h"

#include <benchmark/benchmark.h>

using namespace pelorin;
using namespace platform;

namespace {

struct Mode {
    int width;
    void (*setPalette)();
};
const Mode kModes[] = { { 512, SetPalette2 }, { 256, SetPalette4 }, { 128, SetPalette16 } };

PictureBox& Host()
{
    static PictureBox host(512, 240);
    static bool drawn = false;
    if (!drawn) {
        host.Image() = MakeSamplePicture(512, 240);
        drawn = true;
    }
    return host;
}

void BM_StretchPictureSmoothed(benchmark::State& state)
{
    const Mode& mode = kModes[state.range(0)];
    PictureBox working(mode.width, 240);
    for (auto _ : state)
        StretchPicture(working, Host(), mode.width, 240, 1);
    state.SetLabel(std::to_string(mode.width) + "x240");
}
BENCHMARK(BM_StretchPictureSmoothed)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

// The display copy: a working picture enlarged to 512 × 480 without smoothing, as every tick
// does once for each mode.
void BM_EnlargeToDisplay(benchmark::State& state)
{
    const Mode& mode = kModes[state.range(0)];
    PictureBox working(mode.width, 240), display(512, 480);
    StretchPicture(working, Host(), mode.width, 240, 1);
    for (auto _ : state)
        StretchPicture(display, working, 512, 480, 0);
    state.SetLabel(std::to_string(mode.width) + "x240 to 512x480");
}
BENCHMARK(BM_EnlargeToDisplay)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

// A conversion routine on each mode's freshly captured working picture; the capture itself is
// outside the timing.
template <void (*Routine)(PictureBox&, PictureBox&)> void BM_OnWorkingPicture(benchmark::State& state)
{
    const Mode& mode = kModes[state.range(0)];
    PictureBox working(mode.width, 240);
    mode.setPalette();
    for (auto _ : state) {
        state.PauseTiming();
        StretchPicture(working, Host(), mode.width, 240, 1);
        state.ResumeTiming();
        Routine(working, working);
    }
    state.SetLabel(std::to_string(mode.width) + "x240");
}

void Threshold128(PictureBox& destination, PictureBox& source)
{
    DitherThreshold(destination, source, 128);
}

BENCHMARK(BM_OnWorkingPicture<MapToPalette>)
    ->Name("BM_MapToPalette")
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OnWorkingPicture<Threshold128>)
    ->Name("BM_DitherThreshold")
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMicrosecond);

void BM_NearestColorTableBuild(benchmark::State& state)
{
    SetPalette16();
    for (auto _ : state)
        benchmark::DoNotOptimize(NearestColorTable(Palette));
}
BENCHMARK(BM_NearestColorTableBuild)->Unit(benchmark::kMillisecond);

} // namespace
