// A frame of video through the frame pipeline, plain and with steady dithering: sixteen noisy
// takes of one still picture in turn, the noise a camera's as a YUV video carries it, so every
// steady frame continues from the one before and has pixels to keep and pixels to change.
// Compare BM_VideoFrame/<mode>/<method>/0 with .../1.
#include "pipeline/frame_pipeline.h"
#include "platform/sample_picture.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

using namespace pelorin;
using namespace platform;

namespace {

// Takes of the sample picture, each with its own noise as a camera's (and a video codec's 4:2:0
// colour) leaves it: up to 12 steps on the brightness of each pixel and on the two colour
// differences of each 2 x 2 block, turned into red, green and blue as a YUV picture is.
constexpr int kTakes = 16;

PictureBox& NoisyHost(int take)
{
    static std::vector<std::unique_ptr<PictureBox>> hosts;
    static const bool drawn = [] {
        uint32_t state = 1;
        const auto draw = [&state] {
            state = state * 1664525u + 1013904223u;
            return int(state >> 24) % 25 - 12;
        };
        const platform::Surface picture = MakeSamplePicture(kHostWidth, kHostHeight);
        std::vector<int> u(size_t(kHostWidth / 2 + 1)), v(u.size());
        for (int t = 0; t < kTakes; ++t) {
            PictureBox& host
                = *hosts.emplace_back(std::make_unique<PictureBox>(kHostWidth, kHostHeight));
            host.Image() = picture;
            for (int y = 0; y < kHostHeight; ++y)
                for (int x = 0; x < kHostWidth; ++x) {
                    if (y % 2 == 0 && x % 2 == 0) {
                        u[size_t(x / 2)] = draw();
                        v[size_t(x / 2)] = draw();
                    }
                    const double luma = draw(), cb = u[size_t(x / 2)], cr = v[size_t(x / 2)];
                    const double moved[3]
                        = { luma + 1.772 * cb, luma - 0.344 * cb - 0.714 * cr, luma + 1.402 * cr };
                    uint32_t& p = host.Image().pixels[size_t(y) * kHostWidth + size_t(x)];
                    uint32_t out = 0;
                    for (int c = 0; c < 3; ++c) {
                        const int value = int((p >> (8 * c)) & 0xFF) + int(std::lround(moved[c]));
                        out |= uint32_t(std::clamp(value, 0, 255)) << (8 * c);
                    }
                    p = out;
                }
        }
        return true;
    }();
    (void)drawn;
    return *hosts[size_t(take)];
}

void BM_VideoFrame(benchmark::State& state)
{
    const TvcMode& mode = TvcModeOf(int(state.range(0)));
    const int method = int(state.range(1));
    const bool steady = state.range(2) != 0;
    ConversionContext context;
    SteadyHistory history;
    PictureBox working(mode.workingWidth, mode.workingHeight);
    int64_t frame = 0;
    for (auto _ : state) {
        ConvertFrame(context, mode, method, &NoisyHost(int(frame % kTakes)), working, nullptr,
            { steady ? &history : nullptr, frame });
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
