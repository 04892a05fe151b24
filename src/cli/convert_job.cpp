#include "convert_job.h"

#include "frames_in_flight.h"
#include "output_files.h"
#include "run_steps.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace pelorin::cli {

namespace {

    // A range of frames as --frames takes it: one frame as its number ("270"), more as "A:B".
    std::string RangeText(int64_t first, int64_t last)
    {
        return first == last ? std::to_string(first)
                             : std::to_string(first) + ":" + std::to_string(last);
    }

    // Frames first ... last of `source` converted as `pictures` converts them, into a sink made
    // from `settings`, finished but not yet put in place. Stops early when the sink is full.
    std::unique_ptr<FrameSink> ConvertRange(const Options& options, InputVideo& source,
        Pictures& pictures, const FramesInFlight& inFlight, const SinkSettings& settings,
        int64_t first, int64_t last, const Console& console, RunStats& stats, PlayedClip* played)
    {
        std::unique_ptr<FrameSink> sink = MakeFrameSink(settings);
        ProgressLine progress(!options.quiet && (console.errIsTerminal || options.progress),
            last - first + 1, console.err);
        Delivery deliver { *sink, stats, progress, console.frameWritten,
            options.lastOnly ? std::optional<int64_t>(last) : std::nullopt, played };
        if (inFlight.converters <= 1) {
            for (int64_t index = first; index <= last; ++index) {
                CheckStop();
                FrameTiming timing;
                double difference = 0;
                const platform::Surface& result
                    = pictures.Convert(options.method, index, timing, &difference);
                if (!deliver(result, index, index - first, timing, difference, pictures.pictures))
                    break;
            }
        } else {
            ConvertInParallel(
                options, pictures.session, source, first, last, inFlight.converters, deliver);
        }
        CheckStop();
        sink->Finish();
        progress.Finish();
        return sink;
    }

    // Checks what can be checked before the input is opened: the input is there and readable,
    // and an output that cannot be written is found now, not after the whole conversion.
    void CheckFilesBeforeWork(const Options& options)
    {
        CheckInputFile(options.input);
        // (The folder, for numbered names: which frames a range given by time or with --last
        // writes is known once the input is open, and each of their names is checked then.)
        if (options.numbered)
            CheckOutputWritable(options.frames && !options.frames->byTime && !options.lastOnly
                    ? options.numbered->For(options.frames->first)
                    : options.output);
        else {
            CheckOutputWritable(options.output);
            CheckNotInput(options.input, options.output);
        }
    }

    // The frames to convert, first and last, checked against the input's `count` frames and
    // against what the output takes.
    std::pair<int64_t, int64_t> FramesToConvert(
        const Options& options, const InputVideo& source, int64_t count)
    {
        std::optional<FrameRange> range = options.frames;
        if (range)
            range = ResolveFrameTimes(*range, source.FrameRate().num, source.FrameRate().den);
        const int64_t first = range ? range->first : 0;
        const int64_t last = range && range->last ? *range->last : count - 1;
        if (first >= count || last >= count) {
            // Echoed as written ("600:", not the "600:499" it would run to); times with the
            // frames they stand for.
            const std::string frames
                = range->last ? RangeText(first, last) : std::to_string(first) + ":";
            throw Failure("--frames " + range->given
                + (range->byTime ? " (frames " + frames + ")" : std::string())
                + " goes past the end: " + FrameCountText(options.input, count));
        }
        const int64_t frames = last - first + 1;
        // Every name the run writes, checked before the first frame is converted: a folder of
        // the name of a picture late in the range would otherwise fail the run at the end.
        if (options.numbered)
            for (int64_t index = options.lastOnly ? last : first; index <= last; ++index)
                CheckOutputWritable(options.numbered->For(index));
        if (options.outputKind == OutputKind::Kep && frames > 1 && !options.lastOnly)
            throw UsageError("'" + options.output + "' takes one picture, but "
                + std::to_string(frames)
                + " frames are to be written: pick one frame with --frames, or write a .cas "
                  "to play them on the TVC");
        if (options.outputKind == OutputKind::Picture && !options.numbered && frames > 1
            && !options.lastOnly)
            throw UsageError("'" + options.output + "' takes one picture, but "
                + std::to_string(frames)
                + " frames are to be written: put a frame number in the name (frame_%05d"
                + options.outputExtension + ") or pick one frame with --frames");
        return { first, last };
    }

    // Video memory holds the mode's working picture and nothing else.
    void CheckShapeFitsOutput(const Options& options, int width, int height)
    {
        if (options.outputKind == OutputKind::Picture || options.outputKind == OutputKind::Video
            || (width == options.mode->workingWidth && height == options.mode->workingHeight))
            return;
        throw UsageError(options.outputExtension + " holds "
            + std::to_string(options.mode->workingWidth) + " x "
            + std::to_string(options.mode->workingHeight) + " pixels in "
            + options.mode->QuotedCaption() + ", but --keep-size keeps '" + options.input + "' at "
            + std::to_string(width) + " x " + std::to_string(height) + "; leave out --keep-size (a "
            + options.outputExtension + " output is converted at TVC resolution)");
    }

    SinkSettings SinkFor(
        const Options& options, const InputVideo& source, int width, int height, int64_t frames)
    {
        SinkSettings settings;
        settings.input = options.input;
        settings.output = options.output;
        settings.extension = options.outputExtension;
        settings.kind = options.outputKind;
        settings.numbered = options.numbered;
        settings.mode = options.mode;
        settings.width = width;
        settings.height = height;
        settings.frameRate = source.FrameRate();
        settings.mp4Subsampled = options.size == Size::Display;
        settings.frames = options.lastOnly ? 1 : frames;
        settings.steady = options.steady;
        settings.tvcFps = options.tvcFps;
        return settings;
    }

    // Frames in flight, and the palette search's pictures: planned before anything is read for
    // the search or written, so a run that cannot fit says so now.
    FramesInFlight PlanMemory(const Options& options, const InputVideo& source, int64_t frames,
        uint64_t shapePixels, const Console& console)
    {
        const bool keepSize = options.size == Size::KeepSize;
        const int frameWidth = keepSize ? source.Width() : options.mode->workingWidth;
        const int frameHeight = keepSize ? source.Height() : options.mode->workingHeight;
        const FrameCost cost = EstimateFrameCost(source.Width(), source.Height(), frameWidth,
            frameHeight, keepSize, shapePixels, WriterBytesPerPixel(options));
        const FramesInFlight inFlight = PlanFramesInFlight(
            options.threads, Cores(), frames, cost, Budget(console), frameWidth, frameHeight);
        if (options.palette && options.palette->Chosen())
            CheckMemoryFits(cost.fixedBytes + cost.serialFrameBytes
                    + PaletteSearchBytes(frameWidth, frameHeight),
                Budget(console), frameWidth, frameHeight);
        return inFlight;
    }

    // The summary of frames first ... last written through `settings`; with `chosenUpTo`, the
    // last frame registers were chosen over for a clip.
    void PrintSummary(const Options& options, const FrameSink& sink, const SinkSettings& settings,
        const RunStats& stats, int64_t first, int64_t last, std::optional<int64_t> chosenUpTo,
        const PlayedClip* played, const Console& console)
    {
        if (options.quiet)
            return;
        std::fprintf(console.out, "wrote %s: %s in %s, %d x %d\n", sink.Description().c_str(),
            MethodName(options.method).c_str(), options.mode->QuotedCaption().c_str(),
            settings.width, settings.height);
        std::fputs(sink.Notes().c_str(), console.out);
        if (played)
            std::fputs(played->Summary().c_str(), console.out);
        std::fputs(stats.Summary().c_str(), console.out);
        if (settings.palettes)
            std::fputs(settings.palettes->Summary(last).c_str(), console.out);
        PrintNearestColours(options, console);
        if (chosenUpTo)
            std::fprintf(console.out,
                "palette chosen over frames %lld ... %lld, those the clip holds\n",
                static_cast<long long>(first), static_cast<long long>(*chosenUpTo));
    }

    // --tvc-seconds: the clip's frames, N = the seconds at the clip's rate, and the last frame of
    // the run they need (every step-th frame from `first`); refused when the range holds fewer.
    size_t ClipFrames(const Options& options, const SinkSettings& settings, int64_t first,
        int64_t& last, int64_t count)
    {
        const ClipTiming timing = ClipTimingOf(settings);
        const double fps = double(timing.rateNumerator) / double(timing.rateDenominator);
        const double wanted = std::max(1.0, std::round(*options.tvcSeconds * fps));
        const int64_t available = (last - first) / timing.step + 1;
        if (wanted > double(available)) {
            char text[160];
            std::snprintf(text, sizeof text,
                "--tvc-seconds %g needs %.0f frames at %.4g frames/s, but the run has %lld of "
                "them, %.1f s",
                *options.tvcSeconds, wanted, fps, static_cast<long long>(available),
                std::floor(double(available) / fps * 10) / 10);
            throw Failure(text
                + (options.frames ? " in --frames " + options.frames->given : std::string()) + "; "
                + FrameCountText(options.input, count));
        }
        last = first + (int64_t(wanted) - 1) * timing.step;
        return size_t(wanted);
    }

    // Refuses a clip length that cannot fit even with every frame after the first the same as
    // it, naming the most that fits: what the first frame's record leaves, at the least a frame
    // takes.
    void CheckClipFits(const Options& options, const SinkSettings& settings, size_t frames,
        const platform::Surface& firstWorking)
    {
        const size_t most = PlayedClip::MostFrames(settings, firstWorking);
        if (frames <= most)
            return;
        const ClipTiming timing = ClipTimingOf(settings);
        const double fps = double(timing.rateNumerator) / double(timing.rateDenominator);
        char text[160];
        std::snprintf(text, sizeof text, "--tvc-seconds %g: at most %.1f s fit at %.4g frames/s",
            *options.tvcSeconds, std::floor(double(most) / fps * 10) / 10, fps);
        throw Failure(text);
    }

    // Frames first ... last written as the options ask. A clip holds the frames that fit its
    // memory, and registers chosen for it look at those alone: a first making with the mode's
    // own registers (it stops when full, so it is short) tells how far the clip reaches, and the
    // choice looks that far. The registers change what fits, so a clip that ends before the
    // last frame the choice looked at is chosen for again over the frames it held, and made
    // again.
    int WriteFrames(const Options& options, InputVideo& source, session::ConversionSession& session,
        int64_t first, int64_t last, int64_t count, const Console& console)
    {
        auto pictures = std::make_unique<Pictures>(options, source, session);
        const platform::Surface& result = pictures->Result();
        const int shapeWidth = result.width, shapeHeight = result.height;
        CheckShapeFitsOutput(options, shapeWidth, shapeHeight);
        SinkSettings settings = SinkFor(options, source, shapeWidth, shapeHeight, last - first + 1);
        const size_t clipFrames
            = options.tvcSeconds ? ClipFrames(options, settings, first, last, count) : 0;
        settings.frames = options.lastOnly ? 1 : last - first + 1;
        const FramesInFlight inFlight = PlanMemory(options, source, last - first + 1,
            uint64_t(shapeWidth) * uint64_t(shapeHeight), console);

        // A clip of a length asked for holds every frame of the range, known from the start.
        const bool choosingForClip = options.outputKind == OutputKind::Cas && options.palette
            && options.palette->Chosen() && !options.tvcSeconds;
        constexpr int kClipChoices = 3;
        int64_t chosenUpTo = last;
        for (int attempt = choosingForClip ? 0 : 1;; ++attempt) {
            if (options.palette && attempt > 0)
                session.MakePlan(source, first, chosenUpTo, options.size == Size::KeepSize);
            settings.palettes = session.Plan();
            RunStats stats;
            // A still picture has no times to give.
            if (count > 1)
                stats.SetFrameRate(source.FrameRate().num, source.FrameRate().den);
            const Pictures::SetUpTime setUp = pictures->SetUp(options.method, first);
            stats.SetSetUpTime(setUp.seconds, setUp.frameIncluded);
            std::unique_ptr<PlayedClip> played;
            if (options.tvcSeconds) {
                CheckClipFits(options, settings, clipFrames, pictures->SetUpWorking());
                played = std::make_unique<PlayedClip>(settings, clipFrames);
            }
            const std::unique_ptr<FrameSink> sink = ConvertRange(options, source, *pictures,
                inFlight, settings, first, last, console, stats, played.get());
            if (played && sink->Full())
                throw std::logic_error("a clip chosen to fit its memory did not fit");
            const int64_t kept = sink->LastFrameKept();
            if (choosingForClip && kept >= first
                && (attempt == 0 || (kept < chosenUpTo && attempt < kClipChoices))) {
                chosenUpTo = kept;
                // Afresh, as the run started: the same noise and no steady pattern.
                pictures = std::make_unique<Pictures>(options, source, session);
                continue;
            }
            PrintSummary(options, *sink, settings, stats, first, last,
                choosingForClip ? std::optional<int64_t>(chosenUpTo) : std::nullopt, played.get(),
                console);
            FlushSummary(console);
            sink->Commit();
            return 0;
        }
    }

    int Run(Options options, const Console& console)
    {
        CheckFilesBeforeWork(options);
        InputVideo source(options.input, options.size == Size::KeepSize, options.aspect,
            options.adjustments, options.modeGiven ? options.mode : nullptr, options.denoise);
        // A TVC file converts in its own mode unless the command line names one, and with the
        // registers it carries: the session says how, and the run goes on with its recipe.
        session::ConversionSession session(options);
        session.SetInput({ source.TvcFileMode(), source.TvcFileColours() });
        static_cast<session::Recipe&>(options) = session.Effective();
        if (source.TvcFileMode() && !options.modeGiven)
            cli::CheckPaletteFitsMode(options);
        const int64_t count = source.FrameCount();
        if (count <= 0)
            throw Failure("'" + options.input + "' holds no frames");
        if (options.compareFrame)
            return RunCompare(options, source, console);
        const auto [first, last] = FramesToConvert(options, source, count);
        return WriteFrames(options, source, session, first, last, count, console);
    }

    int ReportFailure(const Console& console, const std::exception& e, int exitStatus)
    {
        // A read or write broken off by a stop request fails in its own words; the stop is
        // what happened.
        const bool ownWords = dynamic_cast<const SummaryPipeClosed*>(&e) != nullptr;
        std::fprintf(console.err, "pelorin-convert: %s\n",
            g_stopRequested.load() && !ownWords ? "stopped by a signal; no output was kept"
                                                : e.what());
        return exitStatus;
    }

} // namespace

int RunConvert(std::span<const std::string> args, const Console& console)
{
    // FFmpeg's own log lines (a probe's complaints, the encoder's banner) are not the tool's
    // messages; failures reach the user through the tool's own.
    av::QuietFfmpegLog();
    try {
        const Options options = ParseOptions(args);
        if (options.help) {
            std::fputs(HelpText().c_str(), console.out);
            return 0;
        }
        if (options.version) {
            std::fputs(VersionText().c_str(), console.out);
            return 0;
        }
        return Run(options, console);
    } catch (const CliError& e) {
        return ReportFailure(console, e, e.ExitStatus());
    } catch (const FileError& e) {
        return ReportFailure(console, e, kExitFailure);
    } catch (const std::exception& e) {
        return ReportFailure(console, e, kExitFailure);
    }
}

} // namespace pelorin::cli
