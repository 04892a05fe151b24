#include "clip_budget.h"

#include "clip_player.h"
#include "pipeline/vram.h"

#include <vector>

namespace pelorin::tvc {

namespace {

    // The program lies in two regions, 19EFh–7FFFh and 8000h–kClipLoadLimit (played from U3);
    // a command that would cross 8000h starts the second region after a jump of 4 bytes, so the
    // end of the first may go unused by up to a command's size: the lead byte and 127 bytes given
    // as they are, with their SKIP and count.
    constexpr size_t kSecondRegionStart = 0x8000;
    constexpr size_t kLongestCommand = 1 + 2 + 127;
    // A frame's record is kept to this; it still holds the changes of several frames' worth of
    // drawing time in tiles.
    constexpr size_t kRecordLimitBytes = 1024;

} // namespace

size_t ClipRecordBytes(std::span<const uint8_t> before, std::span<const uint8_t> after)
{
    return 1 + PackFrame(before, after).bytes.size();
}

ClipMemory ClipMemoryFor(const TvcMode& mode, int64_t rateNumerator, int64_t rateDenominator)
{
    // The fixed parts and the two jumps every clip has (after frame 0 and after the way back),
    // measured on a clip of two empty frames: three records that change nothing.
    const std::vector<uint8_t> empty(kVramFrameBytes, 0);
    auto probe = std::make_shared<ClipBuilder>(mode, rateNumerator, rateDenominator);
    probe->Add(empty);
    probe->Add(empty);
    const ClipBuilder::Summary summary = probe->Report();
    const size_t fixed = summary.bytesUsed - 3 * ClipRecordBytes(empty, empty);
    ClipMemory memory;
    memory.clip = std::make_shared<ClipBuilder>(mode, rateNumerator, rateDenominator);
    memory.recordLimitBytes = kRecordLimitBytes;
    // The way back to frame 0 may be the record that starts the second region: it then lies
    // there whole, with its jump.
    memory.loopRecordLimitBytes = kClipLoadLimit - kSecondRegionStart - 2 * kJumpBytes;
    const size_t taken = fixed + kJumpBytes + kLongestCommand;
    memory.recordBudgetBytes = summary.bytesAvailable > taken ? summary.bytesAvailable - taken : 0;
    return memory;
}

LengthTargetSettings ClipLengthSettings(const ClipMemory& memory, const TvcMode& mode,
    std::span<const PaletteEntry> palette, size_t frames)
{
    LengthTargetSettings settings;
    settings.mode = &mode;
    settings.palette = palette;
    settings.frames = frames;
    settings.budgetBytes = memory.recordBudgetBytes;
    settings.recordCost = [clip = memory.clip](std::span<const uint8_t> before,
                              std::span<const uint8_t> after) {
        return clip->RecordBytes(before, after);
    };
    // Bytes given as they are, with no copies: never far from the packed size, and a pass over
    // the frame rather than a search of the screen.
    settings.quickCost = [](std::span<const uint8_t> before, std::span<const uint8_t> after) {
        return 1 + PackFrame(before, after, 0).bytes.size();
    };
    settings.recordLimitBytes = memory.recordLimitBytes;
    settings.loopRecordLimitBytes = memory.loopRecordLimitBytes;
    return settings;
}

} // namespace pelorin::tvc
