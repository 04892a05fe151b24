#include "convert_job.h"

#include "cli_error.h"
#include "compare_grid.h"
#include "convert/tvc_colours.h"
#include "dither/method_table.h"
#include "frame_sink.h"
#include "frames_in_flight.h"
#include "input_video.h"
#include "options.h"
#include "output_files.h"
#include "palette_plan.h"
#include "pipeline/frame_pipeline.h"
#include "run_report.h"
#include "video/frame_decoder.h"

#include "convert/stretch_picture.h"
#include "convert/working_bitmap.h"

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace pelorin::cli {

namespace {

    std::string MethodName(int method)
    {
        if (method == kNoMethod)
            return "no method";
        return std::string(FindMethod(method)->caption);
    }

    void CheckInputFile(const std::string& path)
    {
        std::error_code ec;
        const fs::file_status status = fs::status(path, ec);
        if (!fs::exists(status))
            throw Failure("cannot read '" + path + "': no such file");
        if (fs::is_directory(status))
            throw Failure("cannot read '" + path + "': it is a folder");
        // Frames are counted first and then sought; a pipe gives its bytes only once (and
        // opening one would wait for its writer).
        if (fs::is_fifo(status) || fs::is_socket(status))
            throw Failure("cannot read '" + path
                + "': it is a pipe, which cannot be seeked; save it to a file first");
        if (FILE* f = std::fopen(path.c_str(), "rb"))
            std::fclose(f);
        else
            throw Failure("cannot read '" + path + "': " + std::strerror(errno));
    }

    std::string FrameCountText(const std::string& input, int64_t count)
    {
        return "'" + input + "' has " + std::to_string(count)
            + (count == 1 ? " frame, numbered 0"
                          : " frames, numbered 0 ... " + std::to_string(count - 1));
    }

    // A range of frames as --frames takes it: one frame as its number ("270"), more as "A:B".
    std::string RangeText(int64_t first, int64_t last)
    {
        return first == last ? std::to_string(first)
                             : std::to_string(first) + ":" + std::to_string(last);
    }

    // BlurredDifference between the converted working picture and the unreduced one, the
    // smoothed copy of the host the frame's road starts with, made again into `unreduced`.
    double DifferenceFromHost(platform::PictureBox& working, platform::PictureBox& unreduced,
        platform::PictureBox& host)
    {
        StretchPicture(unreduced, host, PictureWidth(working), PictureHeight(working), 1);
        return BlurredDifference(working.Image(), unreduced.Image());
    }

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
    // faithfulness figure (outside the stopwatch). With `plan`, the frame is converted with its
    // scene's registers; steady dithering starts afresh where a later scene starts, as the
    // pattern of another palette is no pattern to keep to.
    FrameTiming ConvertSlot(ConversionContext& context, SteadyHistory& history,
        const Options& options, const PalettePlan* plan, int method, int64_t index,
        platform::PictureBox& frame, FramePictures& pictures, double* difference)
    {
        const TvcMode& mode = *options.mode;
        FrameOptions frameOptions { options.steady ? &history : nullptr, index };
        if (plan) {
            frameOptions.palette = &plan->For(index).entries;
            if (options.steady && plan->StartsLaterScene(index))
                history.Forget();
        }
        if (options.size == Size::KeepSize) {
            if (difference)
                pictures.unreducedKept = frame.Image();
            const FrameTiming timing
                = ConvertFrame(context, mode, method, nullptr, frame, nullptr, frameOptions);
            if (difference)
                *difference = BlurredDifference(frame.Image(), pictures.unreducedKept);
            return timing;
        }
        const FrameTiming timing = ConvertFrame(context, mode, method, &frame, pictures.working,
            options.size == Size::Display ? &pictures.display : nullptr, frameOptions);
        if (difference)
            *difference = DifferenceFromHost(pictures.working, pictures.unreduced, frame);
        return timing;
    }

    // A serial run's pictures: the source's own picture is the frame.
    struct Pictures {
        const Options& options;
        InputVideo& source;
        FramePictures pictures;
        ConversionContext context;
        SteadyHistory history;
        const PalettePlan* plan = nullptr;

        Pictures(const Options& options, InputVideo& source)
            : options(options)
            , source(source)
            , pictures(options.mode->workingWidth, options.mode->workingHeight)
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
            timing = ConvertSlot(context, history, options, plan, method, index, source.Picture(),
                pictures, difference);
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
                context, scratch, options, plan, method, index, frame, pictures, nullptr);
            context.noiseState = noise;
            return { timing.elapsedSeconds, !corner };
        }
    };

    constexpr int kCompareColumns = 4;

    // What the writer keeps per pixel of the written picture, as measured at the largest sizes:
    // FFV1's slice contexts and packet buffer are by far the most.
    int WriterBytesPerPixel(const Options& options)
    {
        if (options.outputKind != OutputKind::Video)
            return 8;
        if (options.outputExtension == ".mkv" || options.outputExtension == ".avi")
            return 170;
        return options.outputExtension == ".mp4" ? 64 : 8;
    }

    // The sheet of --compare: every method's picture and the unreduced frame.
    size_t CompareCells() { return Methods().size() + 1; }

    int Cores() { return std::max(1, int(std::thread::hardware_concurrency())); }

    uint64_t Budget(const Console& console)
    {
        return console.memoryBudgetBytes > 0 ? console.memoryBudgetBytes : DefaultMemoryBudget();
    }

    void CheckStop()
    {
        if (g_stopRequested.load())
            throw Failure("stopped by a signal; no output was kept");
    }

    // What a run does with each converted frame, in frame order.
    struct Delivery {
        FrameSink& sink;
        RunStats& stats;
        ProgressLine& progress;
        const std::function<void(int64_t)>& frameWritten;
        // With --last, the one frame written; every other is converted and passed over.
        std::optional<int64_t> onlyIndex;
        // Returns whether the output takes more frames.
        bool operator()(const platform::Surface& result, int64_t index, int64_t ordinal,
            const FrameTiming& timing, double difference)
        {
            if (onlyIndex && index != *onlyIndex) {
                progress.Update(ordinal + 1);
                return true;
            }
            sink.Write(result, index);
            stats.AddConversionTime(timing.elapsedSeconds);
            // The summary speaks of the output: a clip's figures are those of the frames it holds.
            if (sink.LastWriteKept()) {
                stats.AddFaithfulness(difference);
                stats.AddWrittenFrame(result);
                stats.AddWrittenNumber(index);
            }
            progress.Update(ordinal + 1);
            if (frameWritten)
                frameWritten(ordinal + 1);
            return !sink.Full();
        }
    };

    // One frame on its way through a parallel run, with pictures of its own.
    struct Slot {
        enum class State { Free, Decoded, Converted };
        State state = State::Free;
        int64_t index = 0;
        platform::PictureBox host { kHostWidth, kHostHeight };
        FramePictures pictures;
        FrameTiming timing;
        double difference = 0;
        Slot(int workingWidth, int workingHeight)
            : pictures(workingWidth, workingHeight)
        {
        }
        // The decoded frame: the host picture, or with --keep-size the working picture itself.
        platform::PictureBox& Frame(Size size) { return size == Size::KeepSize ? pictures.working : host; }
    };

    // Frames first ... last, decoded on this thread, converted on `threads` threads at once,
    // each on a conversion context of its own, and delivered in frame order by one more thread,
    // so decoding, converting and writing overlap. Each frame's conversion starts its noise
    // generator where a serial run's would be at that frame, so the bytes are the serial ones.
    // Steady dithering needs each frame's predecessor converted on the same context first: then
    // one converter takes the frames in order, beside the decoding and the writing.
    void ConvertInParallel(const Options& options, const PalettePlan* plan, InputVideo& source,
        int64_t first, int64_t last, int threads, Delivery deliver)
    {
        if (options.steady)
            threads = 1;
        const TvcMode& mode = *options.mode;
        const bool keepSize = options.size == Size::KeepSize;
        const int workingWidth
            = keepSize ? source.Picture().Image().width : mode.workingWidth;
        const int workingHeight
            = keepSize ? source.Picture().Image().height : mode.workingHeight;
        const int64_t total = last - first + 1;
        // Enough frames in flight that every converter has one while one is decoded and one is
        // written.
        const size_t slotCount = size_t(threads) * 2 + 2;
        std::vector<std::unique_ptr<Slot>> slots;
        for (size_t i = 0; i < slotCount; ++i)
            slots.push_back(std::make_unique<Slot>(workingWidth, workingHeight));

        std::mutex lock;
        std::condition_variable changed;
        std::exception_ptr failure;
        bool stopping = false;
        int64_t decoded = 0; // frames ready to convert, by ordinal
        int64_t taken = 0; // frames a converter has started on
        const auto fail = [&](std::exception_ptr error) {
            std::lock_guard guard(lock);
            if (!failure)
                failure = error;
            stopping = true;
            changed.notify_all();
        };
        const auto slotOf = [&](int64_t ordinal) -> Slot& { return *slots[size_t(ordinal) % slotCount]; };

        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t)
            workers.emplace_back([&] {
                ConversionContext context;
                context.stopRequest = &g_stopRequested;
                SteadyHistory history;
                try {
                    for (;;) {
                        int64_t ordinal = 0;
                        {
                            std::unique_lock guard(lock);
                            changed.wait(guard, [&] { return stopping || taken < decoded || taken == total; });
                            if (stopping || taken == total)
                                return;
                            ordinal = taken++;
                        }
                        Slot& slot = slotOf(ordinal);
                        StartAtFrame(context, ordinal, workingWidth, workingHeight);
                        slot.timing = ConvertSlot(context, history, options, plan, options.method,
                            slot.index, slot.Frame(options.size), slot.pictures, &slot.difference);
                        std::lock_guard guard(lock);
                        slot.state = Slot::State::Converted;
                        changed.notify_all();
                    }
                } catch (...) {
                    fail(std::current_exception());
                }
            });
        std::thread writer([&] {
            try {
                for (int64_t ordinal = 0; ordinal < total; ++ordinal) {
                    Slot& slot = slotOf(ordinal);
                    {
                        std::unique_lock guard(lock);
                        changed.wait(guard,
                            [&] { return stopping || slot.state == Slot::State::Converted; });
                        if (stopping)
                            return;
                    }
                    const bool more
                        = deliver(slot.pictures.Result(options.size, slot.Frame(options.size)),
                            slot.index, ordinal, slot.timing, slot.difference);
                    std::lock_guard guard(lock);
                    slot.state = Slot::State::Free;
                    if (!more) {
                        // The output is full: the frames still in flight are not wanted.
                        stopping = true;
                        changed.notify_all();
                        return;
                    }
                    changed.notify_all();
                }
            } catch (...) {
                fail(std::current_exception());
            }
        });

        try {
            for (int64_t ordinal = 0; ordinal < total; ++ordinal) {
                CheckStop();
                Slot& slot = slotOf(ordinal);
                {
                    std::unique_lock guard(lock);
                    changed.wait(guard, [&] { return stopping || slot.state == Slot::State::Free; });
                    if (stopping)
                        break;
                }
                slot.index = first + ordinal;
                source.Show(slot.index);
                slot.Frame(options.size).Image() = source.Picture().Image();
                std::lock_guard guard(lock);
                slot.state = Slot::State::Decoded;
                decoded = ordinal + 1;
                changed.notify_all();
            }
        } catch (...) {
            fail(std::current_exception());
        }
        writer.join();
        {
            // Converters still waiting for frames that will not come.
            std::lock_guard guard(lock);
            stopping = true;
            changed.notify_all();
        }
        for (std::thread& worker : workers)
            worker.join();
        if (failure)
            std::rethrow_exception(failure);
    }

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

    void FlushSummary(const Console& console)
    {
        if (std::fflush(console.out) != 0 || std::ferror(console.out)) {
            if (errno == EPIPE)
                throw SummaryPipeClosed();
            throw Failure(std::string("cannot write the summary: ") + std::strerror(errno));
        }
        CheckStop();
    }

    // What each #rrggbb of --palette stood for.
    void PrintNearestColours(const Options& options, const Console& console)
    {
        if (options.palette)
            for (const std::string& line : options.palette->nearest)
                std::fprintf(console.out, "palette: %s\n", line.c_str());
    }

    int RunCompare(const Options& options, InputVideo& source, const Console& console)
    {
        const int64_t frame = *options.compareFrame;
        if (frame >= source.FrameCount())
            throw Failure("--compare " + std::to_string(frame)
                + " is past the end: " + FrameCountText(options.input, source.FrameCount()));
        {
            // The sixteen pictures and the sheet are held at once.
            const bool keepSize = options.size == Size::KeepSize;
            const int cellWidth = keepSize ? source.Width() : options.mode->workingWidth;
            const int cellHeight = keepSize ? source.Height() : options.mode->workingHeight;
            const uint64_t cellPixels = uint64_t(cellWidth) * uint64_t(cellHeight);
            const FrameCost cost = EstimateFrameCost(source.Width(), source.Height(), cellWidth,
                cellHeight, keepSize, (CompareCells() + 1) * cellPixels, 8);
            CheckMemoryFits(cost.fixedBytes + cost.serialFrameBytes + cost.converterBytes
                    + (CompareCells() + 1) * 4 * cellPixels,
                Budget(console), cellWidth, cellHeight);
        }
        Pictures pictures(options, source);
        {
            // The sheet's size is known before any method runs: one larger than a PNG picture
            // can be is refused now, not after sixteen conversions.
            const platform::Surface& cell = pictures.Result();
            const GridSize sheet
                = GridSheetSize(int64_t(CompareCells()), kCompareColumns, cell.width, cell.height);
            if (sheet.width > platform::kMaxSurfaceSide || sheet.height > platform::kMaxSurfaceSide
                || (sheet.width + 128) * (sheet.height + 128) > video::kMaxPaddedPixels)
                throw UsageError("--compare puts " + std::to_string(CompareCells())
                    + " pictures of " + std::to_string(cell.width) + " x "
                    + std::to_string(cell.height) + " pixels on a sheet of "
                    + std::to_string(sheet.width) + " x " + std::to_string(sheet.height)
                    + ", larger than a picture may be (at most "
                    + std::to_string(platform::kMaxSurfaceSide)
                    + " pixels a side, and FFmpeg's PNG writer takes at most (width + 128) x "
                      "(height + 128) = "
                    + std::to_string(video::kMaxPaddedPixels) + "); leave out --keep-size");
        }
        // Registers given hold for the whole sheet; registers chosen for the picture are chosen
        // for each method, as each would get them alone, so the sheet compares the methods at
        // their best.
        const bool choosing
            = options.palette && options.palette->kind != PaletteRequest::Kind::Registers;
        std::optional<PalettePlan> plan;
        if (options.palette && !choosing) {
            plan = MakePalettePlan(options, source, frame, frame);
            pictures.plan = &*plan;
        }
        std::vector<platform::Surface> cells;
        std::vector<std::string> labels;
        std::vector<double> seconds;
        std::vector<std::string> registers; // with registers chosen: each method's
        // One untimed conversion first: it builds the mode's nearest-colour table and the working
        // storage, which would otherwise be counted in the first method's time. It touches no
        // state a later conversion reads (the noise generator is only drawn from by its own
        // method), so the sheet is the same with or without it.
        {
            FrameTiming warmUp;
            pictures.Convert(Methods().front().index, frame, warmUp);
        }
        std::optional<PalettePlan> own; // with registers chosen: the method's, for its cell
        for (const Method& method : Methods()) {
            CheckStop();
            if (choosing) {
                Options forMethod = options;
                forMethod.method = method.index;
                own = MakePalettePlan(forMethod, source, frame, frame);
                pictures.plan = &*own;
                registers.push_back(ColoursText(own->For(frame).colours));
                // New registers, new nearest-colour table: made before the stopwatch runs.
                pictures.SetUp(method.index, frame);
            }
            FrameTiming timing;
            cells.push_back(pictures.Convert(method.index, frame, timing));
            labels.push_back(std::to_string(method.index) + " " + std::string(method.caption));
            seconds.push_back(timing.elapsedSeconds);
        }
        // Last, the frame as every method starts from: smoothed to the working size, unreduced
        // (what --method none writes), to judge each method's picture against; no method's
        // registers.
        if (choosing)
            pictures.plan = nullptr;
        {
            CheckStop();
            FrameTiming timing;
            cells.push_back(pictures.Convert(kNoMethod, frame, timing));
            labels.push_back("unreduced");
            seconds.push_back(timing.elapsedSeconds);
        }
        platform::Surface sheet;
        try {
            sheet = ComposeGrid(cells, labels, kCompareColumns);
        } catch (const std::invalid_argument& e) {
            throw Failure(std::string("cannot make the comparison: ") + e.what());
        }
        AtomicOutput output(options.output);
        output.Write(EncodePicture(sheet, PictureFormat::Png));

        // --quiet: nothing but errors, so the report of what was written is left out too.
        if (!options.quiet) {
            std::fprintf(console.out,
                "wrote '%s': frame %lld in %s by all 16 methods, and unreduced\n",
                options.output.c_str(), static_cast<long long>(frame),
                options.mode->QuotedCaption().c_str());
            if (plan)
                std::fputs(plan->Summary(frame).c_str(), console.out);
            PrintNearestColours(options, console);
            std::fprintf(console.out,
                choosing ? "conversion time (stopwatch) and the registers chosen for each method "
                           "(--palette %s):\n"
                         : "conversion time (stopwatch):\n",
                options.palette ? options.palette->text.c_str() : "");
            for (size_t i = 0; i < labels.size(); ++i)
                std::fprintf(console.out, "  %-18s %8.3f ms%s%s\n", labels[i].c_str(),
                    seconds[i] * 1e3, i < registers.size() ? "  " : "",
                    i < registers.size() ? registers[i].c_str() : "");
        }
        FlushSummary(console);
        output.Commit();
        return 0;
    }

    // Frames first ... last of `source` converted as `pictures` converts them, into a sink made
    // from `settings`, finished but not yet put in place. Stops early when the sink is full.
    std::unique_ptr<FrameSink> ConvertRange(const Options& options, InputVideo& source,
        Pictures& pictures, const FramesInFlight& inFlight, const SinkSettings& settings,
        int64_t first, int64_t last, const Console& console, RunStats& stats)
    {
        std::unique_ptr<FrameSink> sink = MakeFrameSink(settings);
        ProgressLine progress(
            !options.quiet && (console.errIsTerminal || options.progress), last - first + 1,
            console.err);
        Delivery deliver { *sink, stats, progress, console.frameWritten,
            options.lastOnly ? std::optional<int64_t>(last) : std::nullopt };
        if (inFlight.converters <= 1) {
            for (int64_t index = first; index <= last; ++index) {
                CheckStop();
                FrameTiming timing;
                double difference = 0;
                const platform::Surface& result
                    = pictures.Convert(options.method, index, timing, &difference);
                if (!deliver(result, index, index - first, timing, difference))
                    break;
            }
        } else {
            ConvertInParallel(
                options, pictures.plan, source, first, last, inFlight.converters, deliver);
        }
        CheckStop();
        sink->Finish();
        progress.Finish();
        return sink;
    }

    int Run(Options options, const Console& console)
    {
        CheckInputFile(options.input);
        // Before any work: an output that cannot be written is found now, not after the
        // whole conversion.
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

        InputVideo source(options.input, options.size == Size::KeepSize, options.aspect,
            options.adjustments, options.modeGiven ? options.mode : nullptr);
        // A TVC file is converted in its own mode unless the command line names one.
        if (source.TvcFileMode() != nullptr && !options.modeGiven) {
            options.mode = source.TvcFileMode();
            CheckPaletteFitsMode(options);
        }
        // ... and with the palette registers it carries, when they are not the mode's own.
        if (source.TvcFileMode() == options.mode && !options.palette
            && options.method != kNoMethod) {
            const std::vector<int> colours = source.TvcFileColours();
            if (!colours.empty() && colours != DefaultColours(*options.mode)) {
                PaletteRequest request;
                request.colours = colours;
                request.text = RegisterText(colours);
                options.palette = request;
            }
        }
        const int64_t count = source.FrameCount();
        if (count <= 0)
            throw Failure("'" + options.input + "' holds no frames");
        if (options.compareFrame)
            return RunCompare(options, source, console);

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

        auto pictures = std::make_unique<Pictures>(options, source);
        const platform::Surface& result = pictures->Result();
        const int shapeWidth = result.width, shapeHeight = result.height;
        if (options.outputKind != OutputKind::Picture && options.outputKind != OutputKind::Video
            && (shapeWidth != options.mode->workingWidth
                || shapeHeight != options.mode->workingHeight))
            throw UsageError(options.outputExtension + " holds "
                + std::to_string(options.mode->workingWidth) + " x "
                + std::to_string(options.mode->workingHeight) + " pixels in "
                + options.mode->QuotedCaption() + ", but --keep-size keeps '" + options.input
                + "' at " + std::to_string(shapeWidth) + " x " + std::to_string(shapeHeight)
                + "; leave out --keep-size (a " + options.outputExtension
                + " output is converted at TVC resolution)");

        // Frames in flight, and the palette search's pictures: planned before anything is read
        // for the search or written, so a run that cannot fit says so now.
        const bool keepSize = options.size == Size::KeepSize;
        const int frameWidth = keepSize ? source.Width() : options.mode->workingWidth;
        const int frameHeight = keepSize ? source.Height() : options.mode->workingHeight;
        const FrameCost cost = EstimateFrameCost(source.Width(), source.Height(), frameWidth,
            frameHeight, keepSize, uint64_t(shapeWidth) * uint64_t(shapeHeight),
            WriterBytesPerPixel(options));
        const FramesInFlight inFlight = PlanFramesInFlight(
            options.threads, Cores(), frames, cost, Budget(console), frameWidth, frameHeight);
        if (options.palette && options.palette->kind != PaletteRequest::Kind::Registers)
            CheckMemoryFits(cost.fixedBytes + cost.serialFrameBytes
                    + PaletteSearchBytes(frameWidth, frameHeight),
                Budget(console), frameWidth, frameHeight);

        SinkSettings settings;
        settings.input = options.input;
        settings.output = options.output;
        settings.extension = options.outputExtension;
        settings.kind = options.outputKind;
        settings.numbered = options.numbered;
        settings.mode = options.mode;
        settings.width = shapeWidth;
        settings.height = shapeHeight;
        settings.frameRate = source.FrameRate();
        settings.mp4Subsampled = options.size == Size::Display;
        settings.frames = options.lastOnly ? 1 : frames;
        settings.steady = options.steady;
        settings.tvcFps = options.tvcFps;

        // A clip holds the frames that fit its memory, and registers chosen for it look at those
        // alone: a first making with the mode's own registers (it stops when full, so it is
        // short) tells how far the clip reaches, and the choice looks that far. The registers
        // change what fits, so a clip that ends before the last frame the choice looked at is
        // chosen for again over the frames it held, and made again.
        const bool choosingForClip = options.outputKind == OutputKind::Cas && options.palette
            && options.palette->kind != PaletteRequest::Kind::Registers;
        constexpr int kClipChoices = 3;
        int64_t chosenUpTo = last;
        for (int attempt = choosingForClip ? 0 : 1;; ++attempt) {
            std::optional<PalettePlan> plan;
            if (options.palette && attempt > 0) {
                plan = MakePalettePlan(options, source, first, chosenUpTo);
                pictures->plan = &*plan;
            }
            settings.palettes = plan ? &*plan : nullptr;
            RunStats stats;
            // A still picture has no times to give.
            if (count > 1)
                stats.SetFrameRate(source.FrameRate().num, source.FrameRate().den);
            const Pictures::SetUpTime setUp = pictures->SetUp(options.method, first);
            stats.SetSetUpTime(setUp.seconds, setUp.frameIncluded);
            const std::unique_ptr<FrameSink> sink
                = ConvertRange(options, source, *pictures, inFlight, settings, first, last,
                    console, stats);
            const int64_t kept = sink->LastFrameKept();
            if (choosingForClip && kept >= first
                && (attempt == 0 || (kept < chosenUpTo && attempt < kClipChoices))) {
                chosenUpTo = kept;
                // Afresh, as the run started: the same noise and no steady pattern.
                pictures.reset();
                pictures = std::make_unique<Pictures>(options, source);
                continue;
            }
            if (!options.quiet) {
                std::fprintf(console.out, "wrote %s: %s in %s, %d x %d\n",
                    sink->Description().c_str(), MethodName(options.method).c_str(),
                    options.mode->QuotedCaption().c_str(), shapeWidth, shapeHeight);
                std::fputs(sink->Notes().c_str(), console.out);
                std::fputs(stats.Summary().c_str(), console.out);
                if (plan)
                    std::fputs(plan->Summary(last).c_str(), console.out);
                PrintNearestColours(options, console);
                if (choosingForClip)
                    std::fprintf(console.out,
                        "palette chosen over frames %lld ... %lld, those the clip holds\n",
                        static_cast<long long>(first), static_cast<long long>(chosenUpTo));
            }
            FlushSummary(console);
            sink->Commit();
            return 0;
        }
        return 0;
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
