#pragma once
// Steady dithering in one place: what a steady conversion keeps of the frame before
// (SteadyHistory) and the rules it keeps to, each with the reason for its number. The prose, with
// the measurements behind the numbers, is docs/steady-dithering.md.
//
// Steady dithering is an option of a sequence of frames: each frame is converted with the frame
// before's result in mind, so that where the picture stands still the pattern stands still too.
// The first frame, and any frame that does not follow the one converted before (a jump, another
// mode, method or picture size), converts exactly as without it. Each method family has one
// entry point (routines.h) that takes a history or none; with none it is the plain method.
#include "diffusion_kernels.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace pelorin {

class WorkingBitmap;

// ---- The rules -------------------------------------------------------------------------------
//
// Distances are per channel in steps of 0 ... 255, or squared RGB distances as shares of the
// palette's smallest step (the squared distance between its two closest colours, SmallestStep in
// error_diffusion_engine.h). They were chosen on noisy generated clips: a still picture, a slow
// gradient, slow pans, zooms and moving content, each with a camera's noise added as a YUV video
// carries it (scripts/steady_report.sh), as the numbers that cut flicker most for little loss
// of faithfulness (the summary's figures of pelorin-convert --compare).

// Error diffusion keeps the frame before's colour p at a pixel where its colour c with the error
// received lies at most a tolerance further from p than from its nearest colour n (SteadyTolerance,
// error_diffusion_engine.h). The tolerance depends on whether the pixel's input (the picture
// before the error) stayed within a reach per channel of the frame before's input.
struct SteadyDiffusionRule {
    int stillShare; // hundredths of the smallest step, where the input stayed within `reach`
    int movedShare; // where it moved further
    int reach;
};
// Palettes of channels at 0 or 255 ("Graphics 2" and "Graphics 4"): their step is the whole
// range of a channel, so half of it keeps a pixel that is not clearly nearer another colour,
// which stills a still picture (flicker a sixth of plain or less) at under a tenth more error;
// a quarter where the input moved lets a moving edge through. The reach, 32 steps, tells the
// clips' noise from their motion.
inline constexpr SteadyDiffusionRule kSteadyBinaryDiffusion { 50, 25, 32 };
// The other palettes ("Graphics 16"): finer steps, so the same tolerance keeps pixels whose
// error then spreads further. Where the input moved beyond 40 steps, an eighth, which lets the
// picture's own motion through.
inline constexpr int kSteadyFineMovedShare = 12;
inline constexpr int kSteadyFineReach = 40;
// Where it did not, a share by kernel, in the order of DiffusionMethod: the kernels that spread
// a kept pixel's error widely (Stucki, Jarvis, Sierra2 Row) or drop part of it (Atkinson) lose
// faithfulness soonest, so they get about half; Floyd, whose error stays closest, nine tenths.
inline constexpr std::array<int, kDiffusionMethodCount> kSteadyFineStillShare {
    45, // Atkinson
    90, // Floyd
    80, // Sierra
    80, // Burkes
    45, // Stucki
    50, // Jarvis
    80, // Sierra Lite
    50, // Sierra2 Row
};

// "Treshold+Noise": a pixel keeps its output while its colour stays within kSteadyNoiseReach per
// channel of the colour that output was drawn from, measured from that colour rather than from
// the frame before so that slow drift cannot accumulate unseen; 24 steps holds most of a
// camera's noise.
inline constexpr int kSteadyNoiseReach = 24;
// Moved further, but no more than kSteadyNoiseRefresh: it draws again with the noise numbers of
// its last draw, so under slow motion it changes only where its colour crosses the threshold
// that noise set; beyond 64 steps the picture really changed there, and it draws afresh.
inline constexpr int kSteadyNoiseRefresh = 64;
// A pixel drawing again keeps its output unless the noised colour lies nearer another palette
// colour by more than this share (per cent) of the smallest step, so input noise around the
// threshold flips nothing.
inline constexpr int kSteadyNoiseBandShare = 25;

// Bayer and the block screens: a channel value within kSteadyScreenBand steps of its threshold
// (for the blocks: of the cell's limit, per pixel of the block) keeps the frame before's 0 or
// 255. A value near its threshold flips with the least noise; within 4 steps, keeping it costs a
// tone at most 4 steps.
inline constexpr int kSteadyScreenBand = 4;

// ---- The history -----------------------------------------------------------------------------

// What a sequence of steady conversions keeps of its last frame, owned by the caller beside its
// conversion context: one history per sequence. RunSteadyMethod (method_table.h) begins and
// finishes it around each frame; the family entry points read and write it in between.
struct SteadyHistory {
    struct Key {
        int mode = 0; // the TVC mode's number
        int method = 0; // 1 ... 16
        int width = 0; // the working picture, pixels
        int height = 0;
        // 0: the method's own engine; else the exact engine's settings (ExactKey,
        // exact_diffusion.h), since a pattern of one engine is no pattern for another.
        uint32_t engine = 0;
        bool operator==(const Key&) const = default;
    };

    // Starts the conversion of `frame` under `key` and gives whether it continues from what is
    // kept: the frame just before, under the same key. Until Finish the history holds nothing to
    // continue from, so a conversion that fails half-way leaves the next to start afresh.
    bool Begin(const Key& key, int64_t frame);
    // Between Begin and Finish: whether the frame before may be read.
    bool Continues() const { return m_continues; }
    // The frame begun is complete: the next may continue from it.
    void Finish();
    // The next frame starts afresh.
    void Forget() { m_valid = false; }
    // The frame number the unbroken sequence ending with the last finished frame started at:
    // converting frames SequenceStart() ... that frame in order on a fresh history gives that
    // frame's result again. Empty when nothing is kept.
    std::optional<int64_t> SequenceStart() const
    {
        return m_valid ? std::optional<int64_t>(m_start) : std::nullopt;
    }

    // The working buffer as the method left it (before MapToPalette), `leftBytes` long in
    // storage of `leftCapacity`: the working bitmap's own storage, taken over rather than copied
    // (Keep). Error diffusion and the screens keep their frame here.
    std::unique_ptr<uint8_t[]> left;
    size_t leftCapacity = 0;
    size_t leftBytes = 0;
    // What was left for a buffer of `size` bytes, or null.
    const uint8_t* Left(size_t size) const { return leftBytes == size ? left.get() : nullptr; }
    // Leaves `work`'s buffer as it stands in `left` without a copy, handing the storage held
    // there to `work` in exchange. Draw first: `work` holds that old storage afterwards.
    void Keep(WorkingBitmap& work);

    // Error diffusion: the working buffer as it was before the scan, and a bit per byte for
    // whether that moved from the frame before's (worked out afresh each frame).
    std::vector<uint8_t> input;
    std::vector<uint8_t> moved;
    // Exact error diffusion: the picture before the scan and the colours chosen, 0x00RRGGBB,
    // row after row.
    std::vector<uint32_t> exactInput;
    std::vector<uint32_t> exactResult;
    // "Treshold+Noise": its output for the frame, kept as it is written; per buffer pixel, the
    // unreduced colour its output was drawn from, and the generator's state before the three
    // noise numbers of that draw.
    std::vector<uint8_t> result;
    std::vector<uint8_t> source;
    std::vector<uint64_t> noise;

private:
    bool m_valid = false;
    bool m_continues = false;
    Key m_key;
    int64_t m_frame = 0; // the frame number the caller gave for that conversion
    int64_t m_start = 0; // where the sequence that conversion belongs to started
};

// The history of the program's one context (ProgramContext()), which the window converts on.
SteadyHistory& ProgramSteadyHistory();

} // namespace pelorin
