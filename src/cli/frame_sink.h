#pragma once
// Where converted frames go, by the output's kind. Every file appears complete or not at all:
// a sink destroyed without Commit() leaves no file of this run behind and every earlier file
// as it was.
#include "options.h"
#include "platform/surface.h"
#include "session/palette_plan.h"
#include "video_writer.h"

#include <memory>
#include <string>

namespace pelorin::cli {

class FrameSink {
public:
    virtual ~FrameSink() = default;
    // `frameNumber` is the source frame's own number (it names numbered pictures).
    virtual void Write(const platform::Surface& frame, int64_t frameNumber) = 0;
    // Whether the frame last written went into the output: a TVC clip passes over the frames
    // between those of its own rate and any that come once it is full.
    virtual bool LastWriteKept() const { return true; }
    // The source frame number of the last frame the output holds; -1 before any.
    virtual int64_t LastFrameKept() const { return -1; }
    // Whether the output can take no more frames (a TVC clip whose memory is full): the run
    // then stops converting.
    virtual bool Full() const { return false; }
    // Completes the outputs, still under their temporary names.
    virtual void Finish() = 0;
    // Puts the finished outputs in place under their real names.
    virtual void Commit() = 0;
    // What was written, for the summary: "tom.mkv (ffv1)", "48 pictures frame_%03d.png".
    virtual std::string Description() const = 0;
    // More about what was written, for the summary's next line; empty for most outputs.
    virtual std::string Notes() const { return {}; }
};

struct SinkSettings {
    std::string input; // never overwritten
    std::string output; // as the user named it (a numbered name's pattern)
    std::string extension;
    OutputKind kind = OutputKind::Picture;
    std::optional<NumberedName> numbered;
    const TvcMode* mode = FindTvcMode(16);
    int width = 0; // of every frame
    int height = 0;
    Rational frameRate;
    bool mp4Subsampled = false; // .mp4 in 4:2:0 rather than lossless 4:4:4
    // The registers each frame was converted with (--palette); null: the mode's own. Video
    // memory then holds register numbers of these.
    const session::PalettePlan* palettes = nullptr;
    int64_t frames = 1; // the frames the run will write
    bool steady = false;
    std::optional<double> tvcFps; // .cas: the clip's frame rate asked for
    std::optional<double> tvcSeconds; // the frames are those of a clip of the length asked for
};

// A TVC clip of a run: every `step`-th frame of the run's frames (--tvc-fps), shown
// rateNumerator / rateDenominator times a second.
struct ClipTiming {
    int64_t step = 1;
    int64_t rateNumerator = 25;
    int64_t rateDenominator = 1;
};
ClipTiming ClipTimingOf(const SinkSettings& settings);

// Throws CliError (1) when the output cannot be started.
std::unique_ptr<FrameSink> MakeFrameSink(const SinkSettings& settings);

} // namespace pelorin::cli
