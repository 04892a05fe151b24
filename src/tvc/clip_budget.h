#pragma once
// What a clip of the player in clip_player.h has room for, told in terms a chooser of its frames
// can use without knowing the format: the bytes of a record, and a budget for all the records.
#include "length_target.h"
#include "pipeline/tvc_mode.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace pelorin::tvc {

class ClipBuilder;

// The bytes of the record that turns `before` into `after`: its lead byte and its packed
// commands, as they are for frame 0 and for any frame drawn in its time.
size_t ClipRecordBytes(std::span<const uint8_t> before, std::span<const uint8_t> after);

struct ClipMemory {
    std::shared_ptr<const ClipBuilder> clip; // of the rate, for what each record takes
    size_t recordBudgetBytes = 0; // for the records of frames 0 … N−1 and the way back
    size_t recordLimitBytes = 0; // the largest record of a frame after the first
    size_t loopRecordLimitBytes = 0; // the largest way back to frame 0
};

// The memory of a clip for a 64K TVC in `mode` at `rateNumerator` / `rateDenominator` frames a
// second. Any records within the budget and the limits fit: the program's fixed parts and its
// jumps are taken off, and so is the most the program can leave unused where its first region
// ends (a command is never split over it). Throws std::invalid_argument for a rate the
// player cannot step at.
ClipMemory ClipMemoryFor(const TvcMode& mode, int64_t rateNumerator, int64_t rateDenominator);

// The settings of a chooser for `frames` frames of such a clip.
LengthTargetSettings ClipLengthSettings(const ClipMemory& memory, const TvcMode& mode,
    std::span<const PaletteEntry> palette, size_t frames);

} // namespace pelorin::tvc
