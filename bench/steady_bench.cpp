// A frame of video through the frame pipeline, plain and with steady dithering: two noisy takes
// of one still picture in turn (every channel moved by −16 ... 15, about the frame-to-frame
// change of a camera's noise), so every steady frame continues from the one before and has
// pixels to keep and pixels to change. Compare BM_VideoFrame/<mode>/<method>/0 with .../1.
#include "pipeline/frame_pipeline.h"
#include "platform/sample_picture.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>

using namespace pelorin;
using namespace platform;

namespace {

PictureBox& NoisyHost(int take)
{
    static PictureBox hosts[2] = { PictureBox(kHostWidth, kHostHeight),
        PictureBox(kHostWidth, kHostHeight) };
    static const bool drawn = [] {
        uint32_t state = 1;
        for (PictureBox& host : hosts) {
            host.Image() = MakeSamplePicture(kHostWidth, kHostHeight);
            for (uint32_t& p : host.Image().pixels) {
                uint32_t out = 0;
                for (int shift = 0; shift < 24; shift += 8) {
                    state = state * 1664525u + 1013904223u;
                    out |= uint32_t(std::clamp(int((p >> shift) & 0xFF) + int(state >> 27) - 16,
                               0, 255))
                        << shift;
                }
                p = out;
            }
        }
        return true;
    }();
    (void)drawn;
    return hosts[take];
}

void BM_VideoFrame(benchmark::State& state)
{
    const TvcMode& mode = TvcModeOf(int(state.range(0)));
    const int method = int(state.range(1));
    const bool steady = state.range(2) != 0;
    ConversionContext context;
    PictureBox working(mode.workingWidth, mode.workingHeight);
    int64_t frame = 0;
    for (auto _ : state) {
        ConvertFrame(context, mode, method, &NoisyHost(int(frame % 2)), working, nullptr,
            { steady, frame });
        ++frame;
    }
    state.SetLabel(std::string(mode.caption) + " " + std::string(FindMethod(method)->caption)
        + (steady ? " steady" : ""));
}

void VideoArguments(benchmark::internal::Benchmark* b)
{
    for (int mode : { 2, 4, 16 })
        for (int method : { 1, 2, 11, 12, 13, 14, 15, 16, 4, 8, 10 })
            for (int steady : { 0, 1 })
                b->Args({ mode, method, steady });
}

} // namespace

BENCHMARK(BM_VideoFrame)->Apply(VideoArguments)->Unit(benchmark::kMicrosecond);
