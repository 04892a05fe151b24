#pragma once
// A clip as a .cas program for a 64K TVC: the player in z80/play_clip.asm and the frames it
// draws. Frame 0 is stored as the bytes that differ from an empty (zero) screen, every later
// frame as the bytes that differ from the frame before, and one more record takes the last frame
// back to frame 0, so the clip loops. The record layout is described in play_clip.asm: a frame
// is a wait count, then runs of (SKIP, COUNT, COUNT bytes), then 00h 00h. Runs separated by one
// or two unchanged bytes are joined (the bytes between are copied as they are), which is never
// longer and never slower than starting a new run.
//
// Timing: the player runs with interrupts off at 3.125 MHz; every cycle between the end of one
// frame and the end of the next is fixed by the records, so the builder works out, from the
// cycles each instruction of the player takes, the wait count that ends frame j at j frame
// times after frame 0 (to within 64 cycles, about 20 microseconds). A frame that takes longer
// to draw than its frame time is shown late; the summary reports the slowest.
//
// Memory: the program loads at 19EFh and may reach kClipLoadLimit, which leaves 2 KB of U2 to
// BASIC's variables and stack. The part loaded into U2 is copied to U3 by the player before
// it plays.
#include "pipeline/tvc_mode.h"
#include "tvc_files.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace pelorin::tvc {

constexpr uint32_t kTvcClockHz = 3'125'000;
constexpr size_t kClipLoadLimit = 0xB800;

class ClipBuilder {
public:
    // Frames shown `rateNumerator` / `rateDenominator` times a second, with `registers` in the
    // palette registers (empty: those of the mode's own palette).
    ClipBuilder(const TvcMode& mode, int64_t rateNumerator, int64_t rateDenominator,
        std::optional<PaletteRegisters> registers = std::nullopt);

    // Adds the next frame's 15,360 bytes of video memory. False, and the frame is not kept, when
    // it no longer fits; every later Add is then refused too.
    bool Add(std::span<const uint8_t> vram);
    bool Full() const { return m_full; }
    size_t FramesKept() const { return m_frames.size(); }

    // The program file of the frames kept. Needs at least one frame.
    std::vector<uint8_t> CasBytes() const;

    struct Summary {
        size_t framesKept = 0;
        double seconds = 0; // the clip's length: frames kept at the frame rate
        size_t bytesUsed = 0; // the program, from 19EFh
        size_t bytesAvailable = 0; // from 19EFh up to kClipLoadLimit
        double slowestFrameSeconds = 0; // drawing (and the player's own work) of the slowest
        double frameSeconds = 0;
        int lateFrames = 0; // frames shown later than their time
    };
    Summary Report() const;

    // For tests: each frame's due moment in cycles after frame 0 (frame k of the loop's second
    // pass is frame FramesKept() + k), and where in CasBytes() frame k's record starts (k = 0
    // ... FramesKept() − 1, then the record back to frame 0).
    uint64_t DueCycle(int64_t frame) const;
    std::vector<size_t> FrameRecordOffsets() const;

private:
    struct Layout;
    Layout Place(size_t wrapBytes) const;

    const TvcMode* m_mode;
    PaletteRegisters m_registers;
    int64_t m_rateNumerator;
    int64_t m_rateDenominator;
    std::vector<std::vector<uint8_t>> m_frames; // video memory, kept to encode the loop's record
    std::vector<std::vector<uint8_t>> m_records; // frame records, wait count still 0
    std::vector<uint8_t> m_wrap; // last frame back to frame 0
    bool m_full = false;
};

// The runs (without the wait count) that turn `before` into `after`, ending in 00h 00h.
std::vector<uint8_t> EncodeDifference(
    std::span<const uint8_t> before, std::span<const uint8_t> after);

} // namespace pelorin::tvc
