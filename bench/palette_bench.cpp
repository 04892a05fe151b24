// Choosing palette registers for a picture: the whole search on a photograph-like frame, and
// the nearest-colour table each checked palette needs.
#include "convert/nearest_color.h"
#include "convert/stretch_picture.h"
#include "convert/tvc_colours.h"
#include "pipeline/line_palettes.h"
#include "pipeline/palette_choice.h"
#include "pipeline/tvc_mode.h"
#include "platform/picture_box.h"
#include "platform/sample_picture.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

using namespace pelorin;

namespace {

// The sample picture captured at the mode's working size, as the frame's road does.
platform::Surface Working(const TvcMode& mode)
{
    platform::PictureBox host(512, 240);
    host.Image() = platform::MakeSamplePicture(512, 240);
    platform::PictureBox working(mode.workingWidth, mode.workingHeight);
    StretchPicture(working, host, mode.workingWidth, mode.workingHeight, 1);
    return working.Image();
}

// Arguments: mode number, method index. The nearest-colour tables of the palettes the final
// check converts with are kept for the process after the first iteration, so the first
// iteration's extra cost is what BM_NearestTableOfFour shows per table.
void BM_ChoosePalette(benchmark::State& state)
{
    const TvcMode& mode = TvcModeOf(int(state.range(0)));
    const platform::Surface picture = Working(mode);
    double gain = 0;
    for (auto _ : state) {
        const PaletteChoice choice = ChoosePalette(mode, int(state.range(1)), { &picture, 1 });
        gain = 1 - choice.difference / choice.defaultDifference;
        benchmark::DoNotOptimize(choice);
    }
    state.SetLabel(mode.QuotedCaption() + ", " + std::to_string(int(gain * 100)) + " % lower");
}
BENCHMARK(BM_ChoosePalette)
    ->Args({ 4, 2 })
    ->Args({ 2, 2 })
    ->Args({ 4, 8 })
    ->Unit(benchmark::kMillisecond);

// Registers chosen for every line while the picture converts (--palette best-per-line, Floyd):
// the whole per-line conversion of one working picture.
void BM_LinePalettes(benchmark::State& state)
{
    const TvcMode& mode = TvcModeOf(int(state.range(0)));
    const platform::Surface picture = Working(mode);
    for (auto _ : state) {
        platform::Surface converted = picture;
        ConvertWithLinePalettes(mode, {}, converted);
        benchmark::DoNotOptimize(converted);
    }
    state.SetLabel(mode.QuotedCaption());
}
BENCHMARK(BM_LinePalettes)->Arg(4)->Arg(2)->Unit(benchmark::kMillisecond);

// A clip's choice: four frames share the search's budget (what --palette best looks at in a
// video of 480 frames or more).
void BM_ChoosePaletteForClip(benchmark::State& state)
{
    const TvcMode& mode = TvcModeOf(4);
    const platform::Surface first = Working(mode);
    std::vector<platform::Surface> frames;
    for (int k = 0; k < 4; ++k) {
        platform::Surface frame = first;
        // Each frame the picture shifted a little further, as in a slow pan.
        for (int y = 0; y < frame.height; ++y)
            std::rotate(frame.Row(y), frame.Row(y) + 9 * k, frame.Row(y) + frame.width);
        frames.push_back(std::move(frame));
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(ChoosePalette(mode, 2, frames));
}
BENCHMARK(BM_ChoosePaletteForClip)->Unit(benchmark::kMillisecond);

void BM_NearestTableOfFour(benchmark::State& state)
{
    const std::vector<int> colours { 1, 6, 12, 14 };
    const std::vector<PaletteEntry> palette = PaletteOfColours(colours);
    for (auto _ : state) {
        NearestColorTable table(palette);
        benchmark::DoNotOptimize(table);
    }
}
BENCHMARK(BM_NearestTableOfFour)->Unit(benchmark::kMillisecond);

} // namespace
