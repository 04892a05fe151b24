#include "testing/clip_check.h"

#include "pipeline/vram.h"
#include "testing/tvc_machine.h"
#include "tvc_files.h"

#include <algorithm>
#include <cstdlib>
#include <random>

namespace pelorin::tvc::test {

ClipCheck PlayAndCheck(std::span<const uint8_t> cas,
    const std::vector<std::vector<uint8_t>>& frames,
    const std::function<uint64_t(int64_t)>& dueCycle, int64_t framesToWatch,
    uint64_t toleranceCycles, const MachineTiming& timing)
{
    ClipCheck check;
    TvcMachine machine(TvcMachine::Model::Tvc64K);
    machine.SetVideoRamWaits(timing.videoRamWaits);
    machine.SetFieldPhase(timing.fieldPhase);
    if (const std::string error = machine.LoadCas(cas); !error.empty()) {
        check.problems.push_back("not loaded: " + error);
        return check;
    }
    // BASIC's stack high in U2, where video RAM replaces it while the player draws.
    constexpr uint16_t kStack = 0xBFF0;
    machine.Call(kCodeAddress, kStack, true);
    // A frame is complete when the player looks at the keyboard after it: its first row
    // selected. The first look, before frame 0, waits for the key that started it to go up.
    int64_t looks = 0;
    uint64_t frameZero = 0;
    std::vector<int64_t> moments; // each frame's end less its due time, from frame 0's end
    machine.onPortWrite = [&](const TvcMachine::PortWrite& write) {
        if (write.port != 0x03 || (write.value & 0x0F) != 0)
            return;
        if (looks++ == 0)
            return;
        const int64_t frame = check.framesShown++;
        if (frame == 0)
            frameZero = write.cycle;
        const std::vector<uint8_t>& want = frames[size_t(frame) % frames.size()];
        const auto shown = machine.VideoRam().subspan(0, kVramFrameBytes);
        const auto [a, b] = std::mismatch(shown.begin(), shown.end(), want.begin());
        if (a != shown.end() && check.problems.size() < 20)
            check.problems.push_back("frame " + std::to_string(frame) + ": video RAM byte "
                + std::to_string(a - shown.begin()) + " is " + std::to_string(*a) + ", not "
                + std::to_string(*b));
        moments.push_back(int64_t(write.cycle - frameZero) - int64_t(dueCycle(frame)));
    };
    const uint64_t budget = (dueCycle(framesToWatch) + kTvcClockHz) * 2;
    machine.Run(budget, [&] { return check.framesShown >= framesToWatch; });
    if (check.framesShown < framesToWatch)
        check.problems.push_back("showed " + std::to_string(check.framesShown) + " frames of "
            + std::to_string(framesToWatch));
    // The frames' times are a grid of the frame period; where the grid starts is no property
    // of the program (frame 0 of the first pass may be late by what the loop carries round), so
    // it is placed where most frames are: at the median of their distances from it.
    if (moments.size() > 1) {
        std::vector<int64_t> sorted(moments.begin() + 1, moments.end());
        std::nth_element(
            sorted.begin(), sorted.begin() + ptrdiff_t(sorted.size() / 2), sorted.end());
        const int64_t origin = sorted[sorted.size() / 2];
        // Frame 0 of the first pass is drawn before the player's clock starts (at the next
        // field's flag), so it has no time to keep.
        for (size_t frame = 1; frame < moments.size(); ++frame) {
            const uint64_t off = uint64_t(std::abs(moments[frame] - origin));
            check.latestCycles = std::max(check.latestCycles, off);
            if (off > toleranceCycles && check.problems.size() < 20)
                check.problems.push_back("frame " + std::to_string(frame) + " ends "
                    + std::to_string(moments[frame] - origin) + " cycles from its time");
        }
    }
    machine.SetKeyDown(true);
    machine.Run(kTvcClockHz);
    check.returned = machine.Returned() && machine.Paging() == TvcMachine::kBasicPaging
        && machine.LowRam(0x0003) == TvcMachine::kBasicPaging && machine.InterruptsOn()
        && machine.StackPointer() == kStack
        && machine.LastWrite(0x03) == TvcMachine::kBasicPort03
        && machine.LastWrite(0x06) == TvcMachine::kBasicPort06;
    if (!check.returned)
        check.problems.push_back("no clean return to BASIC after the key");
    for (const std::string& fault : machine.Faults())
        check.problems.push_back(fault);
    return check;
}

std::vector<std::vector<uint8_t>> ChangingFrames(int count, int changes, uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<std::vector<uint8_t>> frames(1, std::vector<uint8_t>(kVramFrameBytes));
    for (uint8_t& b : frames[0])
        b = uint8_t(random());
    for (int f = 1; f < count; ++f) {
        frames.push_back(frames.back());
        for (int c = 0; c < changes; ++c)
            frames.back()[random() % kVramFrameBytes] = uint8_t(random());
    }
    return frames;
}

} // namespace pelorin::tvc::test
