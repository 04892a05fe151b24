#pragma once
// Plays a clip program in the TVC model and checks every frame it shows: the video RAM at the
// moment the frame is complete against the frame it must be, and that moment against the
// frame's due time.
#include "tvc/clip_player.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace pelorin::tvc::test {

struct ClipCheck {
    std::vector<std::string> problems; // empty when every frame was right and on time
    int64_t framesShown = 0;
    uint64_t latestCycles = 0; // the largest distance of a frame from its due time
    bool returned = false; // returned to BASIC, as it found the machine, after the key
};

struct MachineTiming {
    bool videoRamWaits = false;
    uint64_t fieldPhase = 20'000; // the first field flag's cycle
};

// Loads `cas` in a 64K model with BASIC's stack in U2, plays `framesToWatch` frames (more than
// the clip holds: the loop is watched too), presses a key and runs to the return. Frame j must
// be `frames[j % frames.size()]` and end within `toleranceCycles` of its time: `dueCycle(j)`
// after a start placed where most frames are (the median of their distances from the grid),
// as a clip's frame times are a grid of its frame period wherever it begins. Frame 0 of the
// first pass is drawn before the player's clock starts and is checked for its bytes only.
ClipCheck PlayAndCheck(std::span<const uint8_t> cas,
    const std::vector<std::vector<uint8_t>>& frames,
    const std::function<uint64_t(int64_t)>& dueCycle, int64_t framesToWatch,
    uint64_t toleranceCycles, const MachineTiming& timing = {});

// `count` frames of video memory: a random still scene with `changes` random bytes altered from
// each frame to the next, the same for the same `seed`.
std::vector<std::vector<uint8_t>> ChangingFrames(int count, int changes, uint32_t seed);

} // namespace pelorin::tvc::test
