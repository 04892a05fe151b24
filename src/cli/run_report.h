#pragma once
// What a run tells its user: a one-line progress display while it works, and a summary at the
// end — frames written (how many, which, at what times), the one-off set-up and the per-frame
// conversion time as the frame stopwatch measured it, the flicker of the result and its
// faithfulness to the unreduced picture.
#include "pipeline/picture_difference.h"
#include "platform/surface.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace pelorin::cli {

// The faithfulness figure of one frame (pipeline/picture_difference.h).
using pelorin::BlurredDifference;

class RunStats {
public:
    void AddConversionTime(double seconds) { m_seconds.push_back(seconds); }
    // One frame's BlurredDifference.
    void AddFaithfulness(double difference)
    {
        m_differenceSum += difference;
        ++m_differences;
    }
    // The mean of the frames' BlurredDifference; empty when none was added.
    std::optional<double> Faithfulness() const;
    // Counts the frame and, from the second frame on, the share of its pixels that differ from
    // the previous one. Frames of another size than the previous one start a new count.
    void AddWrittenFrame(const platform::Surface& frame);
    // The number of a frame written (its place in the input, from 0), in the order written.
    void AddWrittenNumber(int64_t frameNumber);
    // The input's frame rate, for the time of each frame written; without it (a still picture)
    // the summary names the frames by number alone.
    void SetFrameRate(int num, int den)
    {
        m_rateNum = num;
        m_rateDen = den;
    }
    // The time of a conversion done once before the first frame, for what the run's first
    // conversion costs beyond its frame: the nearest-colour tables, the working storage. With
    // `frameIncluded` it converted a whole frame, whose own time (the first frame's) the
    // summary takes off. The set-up is kept out of the per-frame figures.
    void SetSetUpTime(double seconds, bool frameIncluded)
    {
        m_setUpSeconds = seconds;
        m_setUpHoldsFrame = frameIncluded;
    }

    int64_t FramesWritten() const { return m_frames; }
    // Minimum, median and maximum of the conversion times, in seconds; empty when none.
    struct Spread {
        double min, median, max;
    };
    std::optional<Spread> ConversionTimes() const;
    // The mean share (0 ... 1) of pixels that changed from one frame to the next; empty with
    // fewer than two frames.
    std::optional<double> Flicker() const;

    std::string Summary() const;

private:
    std::vector<double> m_seconds;
    int64_t m_frames = 0;
    platform::Surface m_previous;
    double m_changedShareSum = 0;
    double m_differenceSum = 0;
    int64_t m_differences = 0;
    int64_t m_transitions = 0;
    std::optional<int64_t> m_firstNumber, m_lastNumber;
    int m_rateNum = 0, m_rateDen = 0;
    std::optional<double> m_setUpSeconds;
    bool m_setUpHoldsFrame = false;
};

// The progress line on a terminal: "frame 120 of 720, 58 frames/s, 0:10 left". Draws at most
// ten times a second; silent when not enabled.
class ProgressLine {
public:
    ProgressLine(bool enabled, int64_t total, std::FILE* out = stderr);
    ~ProgressLine();
    void Update(int64_t done);
    // Clears the line.
    void Finish();

private:
    bool m_enabled;
    int64_t m_total;
    std::FILE* m_out;
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_lastDraw;
    bool m_drawn = false;
};

} // namespace pelorin::cli
