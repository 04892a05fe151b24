#pragma once
// SlotTimeline: which picture each frame slot shows, worked out from the pictures' timestamps
// alone, without a file or a decoder.
//
// Slots are the positions a video player counts in frames: slot N is the picture the video shows
// at time N ÷ rate after its first picture. A picture lasts until the next one starts, so a gap
// in the timestamps (an AVI's empty "dropped frame" chunks, a variable-rate stretch) repeats the
// picture before it, and every slot from 0 to SlotCount() − 1 has a picture. Timestamps need not
// start at 0, and may come in storage order (B-frames): the display order is the order of the
// timestamps. A picture starts at the slot its time rounds to, so timestamps stored in coarse
// units (whole milliseconds for 29.97 frames per second) still land on their own slot.
//
// The slot rate is the nominal rate, unless two pictures would then start in the same slot (a
// variable-rate stretch faster than the nominal rate, an animated GIF whose delays differ): then
// it is the nominal rate times the smallest whole number at which every picture starts in a slot
// of its own, at most kMaxSlotRate, so no picture is left unshown. If no such rate exists, the
// nominal one stays and the later of two pictures in one slot is the one shown there.
//
// The arithmetic is FFmpeg's rational arithmetic, bit for bit (see RescaleNearest and
// MultiplyRate), so a file's slots are the same whichever of the two computes them.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace pelorin::video {

// A fraction as FFmpeg keeps its rationals: a time base in seconds per tick, or a rate in
// pictures per second.
struct Fraction {
    int num = 0;
    int den = 1;
    bool operator==(const Fraction&) const = default;
};

// One picture per 100 s up to 1000 per second covers every real video.
constexpr double kMaxSlotRate = 1000.0;
// Pictures that would start at or beyond this slot are not counted.
constexpr int64_t kMaxSlots = INT32_MAX;

// Both parts positive and 0.01 ... kMaxSlotRate pictures per second.
bool ValidRate(Fraction rate);

// `ticks` (≥ 0) in units of `from` expressed in units of `to`, rounded to the nearest, halves
// away from zero; INT64_MIN when the result does not fit. Both fractions positive. The same as
// FFmpeg's av_rescale_q_rnd(ticks, from, to, AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX).
int64_t RescaleNearest(int64_t ticks, Fraction from, Fraction to);

// rate × times, reduced to parts of at most INT32_MAX (approximated when they do not fit), as
// FFmpeg's av_mul_q(rate, {times, 1}). rate positive, times ≥ 1.
Fraction MultiplyRate(Fraction rate, int times);

class SlotTimeline {
public:
    SlotTimeline() = default; // no pictures, no slots
    // `pictureTimes`: the pictures' presentation timestamps in `timeBase` units, in any order,
    // each within ±2^60; a repeated timestamp is one picture. `timeBase` positive, `nominalRate`
    // valid (ValidRate). An empty list gives no slots. `endTime`, when the file states it, is
    // when the last picture stops showing (its timestamp plus its stated duration): the slots
    // then run on to that time, so a last picture shown longer than one slot (an animated GIF's
    // long last delay) keeps its time. An end at or before the last picture's own slot changes
    // nothing.
    SlotTimeline(std::vector<int64_t> pictureTimes, Fraction timeBase, Fraction nominalRate,
        std::optional<int64_t> endTime = std::nullopt);

    int64_t SlotCount() const { return m_slotCount; }
    Fraction SlotRate() const { return m_rate; }
    // The timestamps of the pictures that have a slot, ascending: picture p is PictureTimes()[p].
    const std::vector<int64_t>& PictureTimes() const { return m_times; }
    // The slot at which picture p starts; non-decreasing in p, 0 for p = 0.
    int64_t StartSlot(int64_t picture) const { return m_startSlots[size_t(picture)]; }
    // The picture `slot` shows (0 ... SlotCount() − 1): the last one that starts at or before it.
    int64_t PictureAt(int64_t slot) const;

private:
    std::vector<int64_t> SlotsAt(Fraction slotRate) const;

    Fraction m_timeBase;
    Fraction m_rate;
    std::vector<int64_t> m_times;
    std::vector<int64_t> m_startSlots;
    int64_t m_slotCount = 0;
};

} // namespace pelorin::video
