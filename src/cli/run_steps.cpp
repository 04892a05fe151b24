#include "run_steps.h"

#include "frames_in_flight.h"

#include "convert/stretch_picture.h"
#include "convert/working_bitmap.h"
#include "pipeline/picture_difference.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;

namespace pelorin::cli {

namespace {

    // BlurredDifference between the converted working picture and the unreduced one, the
    // smoothed copy of the host the frame's road starts with, made again into `unreduced`.
    double DifferenceFromHost(
        platform::PictureBox& working, platform::PictureBox& unreduced, platform::PictureBox& host)
    {
        StretchPicture(unreduced, host, PictureWidth(working), PictureHeight(working), 1);
        return BlurredDifference(working.Image(), unreduced.Image());
    }

} // namespace

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

// One frame's conversion, the one way the tool converts a frame, serial or parallel:
// `frame` is the decoded frame as the host picture, or with --keep-size the frame at its own
// size, which is then converted where it stands. With `difference` it also gets the frame's
// faithfulness figure (outside the stopwatch). The session says which registers the frame
// converts with and whether steady dithering starts afresh on `history`.
FrameTiming ConvertSlot(ConversionContext& context, SteadyHistory& history,
    session::ConversionSession& session, Size size, int method, int64_t index,
    platform::PictureBox& frame, FramePictures& pictures, double* difference)
{
    const TvcMode& mode = *session.Effective().mode;
    const FrameOptions frameOptions = session.OptionsFor(index, &history);
    if (size == Size::KeepSize) {
        if (difference)
            pictures.unreducedKept = frame.Image();
        const FrameTiming timing
            = ConvertFrame(context, mode, method, nullptr, frame, nullptr, frameOptions);
        if (difference)
            *difference = BlurredDifference(frame.Image(), pictures.unreducedKept);
        return timing;
    }
    const FrameTiming timing = ConvertFrame(context, mode, method, &frame, pictures.working,
        size == Size::Display ? &pictures.display : nullptr, frameOptions);
    if (difference)
        *difference = DifferenceFromHost(pictures.working, pictures.unreduced, frame);
    return timing;
}

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

void FlushSummary(const Console& console)
{
    if (std::fflush(console.out) != 0 || std::ferror(console.out)) {
        if (errno == EPIPE)
            throw SummaryPipeClosed();
        throw Failure(std::string("cannot write the summary: ") + std::strerror(errno));
    }
    CheckStop();
}

void PrintNearestColours(const Options& options, const Console& console)
{
    if (options.palette)
        for (const std::string& line : options.palette->nearest)
            std::fprintf(console.out, "palette: %s\n", line.c_str());
}

} // namespace pelorin::cli
