// The video device on the sample video, driven by MCI strings as the window drives it:
// stepping frame by frame ("seek to N+1 wait" after "seek to N") and random jumps.
#ifdef PELORIN_HAVE_VIDEO

#include "platform/picture_box.h"
#include "video/mci.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>

using namespace pelorin;

namespace {

// tom.avi lies next to the executables.
std::string SampleVideo()
{
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "tom.avi").string();
}

struct OpenSample {
    platform::PictureBox host { 512, 240 };
    int64_t length = 0;
    bool ok = false;

    OpenSample()
    {
        ok = mciSendStringA("open " + SampleVideo() + " Type avivideo Alias video1 parent "
                     + std::to_string(host.hWnd()) + " Style 1073741824",
                 nullptr, 0, 0)
                == 0
            && mciSendStringA("set video1 time format frames", nullptr, 0, 0) == 0;
        std::string answer;
        if (ok && mciSendStringA("status video1 length", &answer, 255, 0) == 0)
            length = std::stoll(answer);
        ok = ok && length > 1;
    }
    ~OpenSample() { mciSendStringA("close all", nullptr, 0, 0); }
};

void BM_SequentialStepping(benchmark::State& state)
{
    OpenSample sample;
    if (!sample.ok) {
        state.SkipWithError("cannot open tom.avi next to the executable");
        return;
    }
    int64_t frame = 0;
    for (auto _ : state) {
        frame = frame + 1 < sample.length ? frame + 1 : 0;
        if (frame == 0) {
            // The wrap back to the start is a jump, not a step: keep it out of the figure.
            state.PauseTiming();
            mciSendStringA("seek video1 to 0 wait", nullptr, 0, 0);
            state.ResumeTiming();
            continue;
        }
        mciSendStringA("seek video1 to " + std::to_string(frame) + " wait", nullptr, 0, 0);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("items/s = frames per second");
}
BENCHMARK(BM_SequentialStepping)->Unit(benchmark::kMicrosecond);

void BM_RandomSeek(benchmark::State& state)
{
    OpenSample sample;
    if (!sample.ok) {
        state.SkipWithError("cannot open tom.avi next to the executable");
        return;
    }
    std::mt19937 random(12345);
    std::uniform_int_distribution<int64_t> pick(0, sample.length - 1);
    for (auto _ : state) {
        state.PauseTiming();
        const std::string command = "seek video1 to " + std::to_string(pick(random)) + " wait";
        state.ResumeTiming();
        mciSendStringA(command, nullptr, 0, 0);
    }
}
BENCHMARK(BM_RandomSeek)->Unit(benchmark::kMillisecond);

} // namespace

#endif
