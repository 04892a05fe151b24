#pragma once
// A clip as a .cas program for a 64K TVC: the player in z80/play_clip.asm and the frames it
// draws. Frame 0 is stored packed against an empty (zero) screen, every later frame as the
// changes from the frame before (clip_pack.h), and one more record takes the last frame back to
// frame 0, so the clip loops.
//
// Timing: the player counts the fields of the machine's picture (49.76 a second) by the video
// chip's flag and shows frame j at field j × (fields a frame), rounded; the builder only writes
// the fields a frame. A frame that takes longer to draw than its frame time is shown late; the
// summary reports the slowest, from the player's cycle counts.
//
// Memory: the program loads at 19EFh and may reach kClipLoadLimit, which leaves 2 KB of U2 to
// BASIC's variables and stack. The part loaded into U2 is copied to U3 by the player before
// it plays.
#include "pipeline/tvc_mode.h"
#include "clip_pack.h"
#include "tvc_files.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace pelorin::tvc {

constexpr uint32_t kTvcClockHz = 3'125'000;
constexpr uint32_t kFieldCycles = 62'800; // 314 lines of 200 cycles
constexpr size_t kClipLoadLimit = 0xB800;

class ClipBuilder {
public:
    // Frames shown `rateNumerator` / `rateDenominator` times a second, with `registers` in the
    // palette registers (empty: those of the mode's own palette).
    ClipBuilder(const TvcMode& mode, int64_t rateNumerator, int64_t rateDenominator,
        std::optional<PaletteRegisters> registers = std::nullopt);
    ~ClipBuilder();
    ClipBuilder(ClipBuilder&&) noexcept;

    // Adds the next frame's 15,360 bytes of video memory. False, and the frame is not kept, when
    // it no longer fits; every later Add is then refused too.
    bool Add(std::span<const uint8_t> vram);
    bool Full() const { return m_full; }
    size_t FramesKept() const { return m_records.size(); }

    // The bytes the record that turns `before` into `after` takes in this clip, as Add stores
    // it for a frame after the first (a frame that would be drawn too slowly is packed for
    // speed, which may take more).
    size_t RecordBytes(std::span<const uint8_t> before, std::span<const uint8_t> after) const;

    // The program file of the frames kept. Needs at least one frame.
    std::vector<uint8_t> CasBytes() const;

    struct Summary {
        size_t framesKept = 0;
        double seconds = 0; // the clip's length: frames kept at the frame rate
        size_t bytesUsed = 0; // the program, from 19EFh
        size_t bytesAvailable = 0; // from 19EFh up to kClipLoadLimit
        double slowestFrameSeconds = 0; // drawing (unpacking) of the slowest frame
        double meanFrameSeconds = 0; // drawing of a frame on average, the way back included
        double frameSeconds = 0;
        int lateFrames = 0; // frames drawn too slowly to be whole on the screen at their time
        double meanChangedBytes = 0; // of video memory, from one frame kept to the next
        size_t firstFrameBytes = 0; // frame 0's record
    };
    Summary Report() const;

    // Fields a frame as the player keeps them, in 16.16 fixed point.
    uint32_t FieldStep() const { return m_fieldStep; }
    // For tests: each frame's due moment in cycles after frame 0 (frame k of the loop's second
    // pass is frame FramesKept() + k), and where in CasBytes() frame k's record starts (k = 0
    // ... FramesKept() − 1, then the record back to frame 0).
    uint64_t DueCycle(int64_t frame) const;
    std::vector<size_t> FrameRecordOffsets() const;

private:
    struct Placed;
    bool InTime(uint64_t drawCycles) const;
    PackedFrame PackInTime(
        std::span<const uint8_t> before, std::span<const uint8_t> after, bool first) const;

    const TvcMode* m_mode;
    PaletteRegisters m_registers;
    int64_t m_rateNumerator;
    int64_t m_rateDenominator;
    uint32_t m_fieldStep = 0;
    std::vector<uint8_t> m_first; // frame 0, for the way back
    std::vector<uint8_t> m_last; // the latest frame, which the next is packed against
    std::vector<PackedFrame> m_records;
    PackedFrame m_wrap; // last frame back to frame 0
    std::unique_ptr<Placed> m_placed; // where the records so far end up
    uint64_t m_changedBytes = 0; // from each frame kept to the next
    bool m_full = false;
};

} // namespace pelorin::tvc
