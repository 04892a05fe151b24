#pragma once
// The steps every run of pelorin-convert is made of: one frame's conversion (the one place the
// tool converts a frame), the pictures a run converts into, what is done with each converted
// frame, and the checks and reports around a run. convert_job.cpp puts them together into a run;
// parallel_run.cpp converts frames on several threads, compare_run.cpp writes --compare's sheet.
#include "convert_job.h"
#include "frame_sink.h"
#include "input_video.h"
#include "options.h"
#include "played_clip.h"
#include "run_report.h"

#include "cli_error.h"
#include "pipeline/frame_pipeline.h"
#include "session/conversion_session.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

namespace pelorin::cli {

// "Floyd" or "no method".
std::string MethodName(int method);
// Refuses an input that is missing, a folder, a pipe or unreadable, naming it.
void CheckInputFile(const std::string& path);
// "'clip.avi' has 250 frames, numbered 0 ... 249".
std::string FrameCountText(const std::string& input, int64_t count);

// The pictures a frame is converted into beside its source: the mode's working picture, the
// display picture and the unreduced working picture the faithfulness figure compares with.
struct FramePictures {
    platform::PictureBox working;
    platform::PictureBox display { kDisplayWidth, kDisplayHeight };
    platform::PictureBox unreduced;
    platform::Surface unreducedKept;
    FramePictures(int workingWidth, int workingHeight)
        : working(workingWidth, workingHeight)
        , unreduced(workingWidth, workingHeight)
    {
    }
    // The picture a run writes for a frame converted from `frame`.
    const platform::Surface& Result(Size size, platform::PictureBox& frame)
    {
        return size == Size::KeepSize ? frame.Image()
            : size == Size::Working   ? working.Image()
                                      : display.Image();
    }
};

// One frame's conversion, the one way the tool converts a frame, serial or parallel:
// `frame` is the decoded frame as the host picture, or with --keep-size the frame at its own
// size, which is then converted where it stands. With `difference` it also gets the frame's
// faithfulness figure (outside the stopwatch). The session says which registers the frame
// converts with and whether steady dithering starts afresh on `history`.
FrameTiming ConvertSlot(ConversionContext& context, SteadyHistory& history,
    session::ConversionSession& session, Size size, int method, int64_t index,
    platform::PictureBox& frame, FramePictures& pictures, double* difference);

// A serial run's pictures: the source's own picture is the frame.
struct Pictures {
    const Options& options;
    InputVideo& source;
    FramePictures pictures;
    session::ConversionSession& session;
    ConversionContext context;
    SteadyHistory history;

    Pictures(const Options& options, InputVideo& source, session::ConversionSession& session)
        : options(options)
        , source(source)
        , pictures(options.mode->workingWidth, options.mode->workingHeight)
        , session(session)
    {
        context.stopRequest = &g_stopRequested;
    }

    // The picture Convert() returns, before any conversion has run.
    const platform::Surface& Result() { return pictures.Result(options.size, source.Picture()); }

    // Converts frame `index` with `method`; returns the picture to write. With `difference`
    // it also gets the frame's faithfulness figure.
    const platform::Surface& Convert(
        int method, int64_t index, FrameTiming& timing, double* difference = nullptr)
    {
        source.Show(index);
        timing = ConvertSlot(context, history, session, options.size, method, index,
            source.Picture(), pictures, difference);
        return Result();
    }

    // Converts frame `index` by `method` once on a copy, as the run's first conversion would,
    // and returns its stopwatch time: the nearest-colour tables and the working storage are
    // then made, so the frames' own times leave them out. The run's bytes stay as they are:
    // the pictures are converted afresh from their frame before they are written, the
    // noise generator is set back, and steady dithering keeps a history of its own here.
    // With --keep-size a frame may take gigabytes, so only its top left 16 x 16 pixels are
    // converted: the tables are made, the working storage is not (SetUpTime::frameIncluded).
    struct SetUpTime {
        double seconds;
        bool frameIncluded; // the time holds a whole frame's conversion besides the set-up
    };
    // After SetUp without --keep-size: the working picture of the frame it converted, as the
    // run will convert that frame.
    const platform::Surface& SetUpWorking() const { return pictures.working.Image(); }
    SetUpTime SetUp(int method, int64_t index)
    {
        source.Show(index);
        const platform::Surface& image = source.Picture().Image();
        const bool corner = options.size == Size::KeepSize;
        const int width = corner ? std::min(image.width, 16) : image.width;
        const int height = corner ? std::min(image.height, 16) : image.height;
        platform::PictureBox frame(width, height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                frame.Image().At(x, y) = image.At(x, y);
        SteadyHistory scratch;
        const uint64_t noise = context.noiseState;
        // With --keep-size the frame is converted where it stands; `pictures` stay untouched.
        const FrameTiming timing = ConvertSlot(
            context, scratch, session, options.size, method, index, frame, pictures, nullptr);
        context.noiseState = noise;
        return { timing.elapsedSeconds, !corner };
    }
};

// What the writer keeps per pixel of the written picture.
int WriterBytesPerPixel(const Options& options);
int Cores();
// The memory a run may plan for.
uint64_t Budget(const Console& console);
// Throws when a signal asked the run to stop.
void CheckStop();

// What a run does with each converted frame, in frame order.
struct Delivery {
    FrameSink& sink;
    RunStats& stats;
    ProgressLine& progress;
    const std::function<void(int64_t)>& frameWritten;
    // With --last, the one frame written; every other is converted and passed over.
    std::optional<int64_t> onlyIndex;
    // With --tvc-seconds: the frames as the clip plays them go to the output instead.
    PlayedClip* played = nullptr;
    // Returns whether the output takes more frames. `pictures` are those `result` was made with.
    bool operator()(const platform::Surface& result, int64_t index, int64_t ordinal,
        const FrameTiming& timing, double difference, FramePictures& pictures)
    {
        if (onlyIndex && index != *onlyIndex) {
            progress.Update(ordinal + 1);
            return true;
        }
        const platform::Surface& written = played ? played->Play(result, pictures.working.Image(),
                                               pictures.unreduced.Image(), ordinal, difference)
                                                  : result;
        sink.Write(written, index);
        stats.AddConversionTime(timing.elapsedSeconds);
        // The summary speaks of the output: a clip's figures are those of the frames it holds.
        if (sink.LastWriteKept()) {
            stats.AddFaithfulness(difference);
            stats.AddWrittenFrame(written);
            stats.AddWrittenNumber(index);
        }
        progress.Update(ordinal + 1);
        if (frameWritten)
            frameWritten(ordinal + 1);
        return !sink.Full();
    }
};

// Frames first ... last, decoded on this thread, converted on `threads` threads at once and
// delivered in frame order (parallel_run.cpp).
void ConvertInParallel(const Options& options, session::ConversionSession& session,
    InputVideo& source, int64_t first, int64_t last, int threads, Delivery deliver);

// The summary goes out before the outputs are put in place: when it cannot be written (a
// closed pipe), the run fails and keeps nothing, as a failed run always does.
// A summary that could not be written because nobody reads it any more: the broken pipe is
// what happened, even though SIGPIPE also asked the run to stop.
class SummaryPipeClosed : public CliError {
public:
    SummaryPipeClosed()
        : CliError(kExitFailure,
            std::string("cannot write the summary: ") + std::strerror(EPIPE)
                + "; no output was kept")
    {
    }
};

// Flushes the summary; a summary nobody reads any more fails the run.
void FlushSummary(const Console& console);
// What each #rrggbb of --palette stood for.
void PrintNearestColours(const Options& options, const Console& console);

// --compare: every method on one frame in a labelled sheet (compare_run.cpp).
int RunCompare(const Options& options, InputVideo& source, const Console& console);

} // namespace pelorin::cli
