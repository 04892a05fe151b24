#include "convert_job.h"

#include "atomic_output.h"
#include "cli_error.h"
#include "compare_grid.h"
#include "dither/method_table.h"
#include "frame_convert.h"
#include "frame_sink.h"
#include "frame_source.h"
#include "options.h"
#include "picture_io.h"
#include "run_report.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

namespace fs = std::filesystem;

namespace pelorin::cli {

std::atomic<bool> g_stopRequested { false };

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

    // The pictures one run converts through: the source's picture (the host, or the frame at its
    // own size, which is then itself the working picture), the mode's working picture and the
    // display picture.
    struct Pictures {
        FrameSource& source;
        platform::PictureBox working;
        platform::PictureBox display { kDisplayWidth, kDisplayHeight };
        const Size size;

        Pictures(const Options& options, FrameSource& source)
            : source(source)
            , working(WorkingWidth(options.mode), kWorkingHeight)
            , size(options.size)
        {
        }

        // The picture Convert() returns, before any conversion has run.
        const platform::Surface& Result()
        {
            return size == Size::KeepSize ? source.Picture().Image()
                : size == Size::Working   ? working.Image()
                                          : display.Image();
        }

        // Converts frame `index` with `method`; returns the picture to write.
        const platform::Surface& Convert(
            TvcMode mode, int method, int64_t index, FrameTiming& timing)
        {
            source.Show(index);
            if (size == Size::KeepSize)
                timing = ConvertFrame(mode, method, nullptr, source.Picture());
            else
                timing = ConvertFrame(mode, method, &source.Picture(), working,
                    size == Size::Display ? &display : nullptr);
            return Result();
        }
    };

    void CheckStop()
    {
        if (g_stopRequested.load())
            throw Failure("stopped by a signal; no output was kept");
    }

    int RunCompare(const Options& options, FrameSource& source, const Console& console)
    {
        const int64_t frame = *options.compareFrame;
        if (frame >= source.FrameCount())
            throw Failure("--compare " + std::to_string(frame)
                + " is past the end: " + FrameCountText(options.input, source.FrameCount()));
        Pictures pictures(options, source);
        std::vector<platform::Surface> cells;
        std::vector<std::string> labels;
        std::vector<double> seconds;
        // One untimed conversion first: it builds the mode's nearest-colour table and the working
        // storage, which would otherwise be counted in the first method's time. It touches no
        // state a later conversion reads (the noise generator is only drawn from by its own
        // method), so the sheet is the same with or without it.
        {
            FrameTiming warmUp;
            pictures.Convert(options.mode, Methods().front().index, frame, warmUp);
        }
        for (const Method& method : Methods()) {
            CheckStop();
            FrameTiming timing;
            cells.push_back(pictures.Convert(options.mode, method.index, frame, timing));
            labels.push_back(std::to_string(method.index) + " " + std::string(method.caption));
            seconds.push_back(timing.elapsedSeconds);
        }
        platform::Surface sheet;
        try {
            sheet = ComposeGrid(cells, labels, 4);
        } catch (const std::invalid_argument& e) {
            throw Failure(std::string("cannot make the comparison: ") + e.what());
        }
        WriteFileAtomically(options.output, EncodePicture(sheet, PictureFormat::Png));

        std::fprintf(console.out, "wrote '%s': frame %lld in \"Graphics %d\" by all 16 methods\n",
            options.output.c_str(), static_cast<long long>(frame), int(options.mode));
        std::fprintf(console.out, "conversion time (stopwatch):\n");
        for (size_t i = 0; i < labels.size(); ++i)
            std::fprintf(console.out, "  %-18s %8.3f ms\n", labels[i].c_str(), seconds[i] * 1e3);
        return 0;
    }

    int Run(const Options& options, const Console& console)
    {
        CheckInputFile(options.input);
        CheckOutputFolder(options.numbered ? options.numbered->For(0) : options.output);
        if (!options.numbered)
            CheckNotInput(options.input, options.output);

        FrameSource source(options.input, options.size == Size::KeepSize);
        const int64_t count = source.FrameCount();
        if (count <= 0)
            throw Failure("'" + options.input + "' holds no frames");
        if (options.compareFrame)
            return RunCompare(options, source, console);

        const int64_t first = options.frames ? options.frames->first : 0;
        const int64_t last
            = options.frames && options.frames->last ? *options.frames->last : count - 1;
        if (first >= count || last >= count)
            throw Failure("--frames " + std::to_string(first) + ":" + std::to_string(last)
                + " goes past the end: " + FrameCountText(options.input, count));
        const int64_t frames = last - first + 1;
        if (options.outputKind == OutputKind::Picture && !options.numbered && frames > 1)
            throw UsageError("'" + options.output + "' takes one picture, but "
                + std::to_string(frames)
                + " frames are to be written: put a frame number in the name (frame_%05d"
                + options.outputExtension + ") or pick one frame with --frames");

        Pictures pictures(options, source);
        const platform::Surface& shape = pictures.Result();
        if (options.outputKind == OutputKind::Vram
            && (shape.width != WorkingWidth(options.mode) || shape.height != kWorkingHeight))
            throw UsageError(".vram holds " + std::to_string(WorkingWidth(options.mode)) + " x "
                + std::to_string(kWorkingHeight) + " pixels in \"Graphics "
                + std::to_string(int(options.mode)) + "\", but --keep-size keeps '" + options.input
                + "' at " + std::to_string(shape.width) + " x " + std::to_string(shape.height)
                + "; use --working");

        SinkSettings settings;
        settings.input = options.input;
        settings.output = options.output;
        settings.extension = options.outputExtension;
        settings.kind = options.outputKind;
        settings.numbered = options.numbered;
        settings.mode = options.mode;
        settings.width = shape.width;
        settings.height = shape.height;
        settings.frameRate = source.FrameRate();
        const std::unique_ptr<FrameSink> sink = MakeFrameSink(settings);

        ProgressLine progress(!options.quiet && console.errIsTerminal, frames, console.err);
        RunStats stats;
        for (int64_t index = first; index <= last; ++index) {
            CheckStop();
            FrameTiming timing;
            const platform::Surface& result
                = pictures.Convert(options.mode, options.method, index, timing);
            sink->Write(result, index);
            stats.AddConversionTime(timing.elapsedSeconds);
            stats.AddWrittenFrame(result);
            progress.Update(index - first + 1);
        }
        CheckStop();
        sink->Finish();
        progress.Finish();

        std::fprintf(console.out, "wrote %s: %s in \"Graphics %d\", %d x %d\n",
            sink->Description().c_str(), MethodName(options.method).c_str(), int(options.mode),
            shape.width, shape.height);
        std::fputs(stats.Summary().c_str(), console.out);
        return 0;
    }

} // namespace

int RunConvert(std::span<const std::string> args, const Console& console)
{
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
        std::fprintf(console.err, "pelorin-convert: %s\n", e.what());
        return e.ExitStatus();
    } catch (const std::exception& e) {
        std::fprintf(console.err, "pelorin-convert: %s\n", e.what());
        return kExitFailure;
    }
}

} // namespace pelorin::cli
