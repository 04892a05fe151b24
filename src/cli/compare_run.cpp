#include "run_steps.h"

#include "compare_grid.h"
#include "frames_in_flight.h"
#include "output_files.h"

#include "dither/method_table.h"
#include "video/frame_decoder.h"

#include <vector>

namespace pelorin::cli {

using session::ColoursText;

namespace {

    constexpr int kCompareColumns = 4;

    // The sheet of --compare: every method's picture and the unreduced frame.
    size_t CompareCells() { return Methods().size() + 1; }

    // The sixteen pictures and the sheet are held at once: refused now when they cannot be.
    void CheckCompareFits(const Options& options, const InputVideo& source, const Console& console)
    {
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

    // The sheet's size is known before any method runs: one larger than a PNG picture can be is
    // refused now, not after sixteen conversions.
    void CheckSheetSize(const platform::Surface& cell)
    {
        const GridSize sheet
            = GridSheetSize(int64_t(CompareCells()), kCompareColumns, cell.width, cell.height);
        if (sheet.width <= platform::kMaxSurfaceSide && sheet.height <= platform::kMaxSurfaceSide
            && (sheet.width + 128) * (sheet.height + 128) <= video::kMaxPaddedPixels)
            return;
        throw UsageError("--compare puts " + std::to_string(CompareCells()) + " pictures of "
            + std::to_string(cell.width) + " x " + std::to_string(cell.height)
            + " pixels on a sheet of " + std::to_string(sheet.width) + " x "
            + std::to_string(sheet.height) + ", larger than a picture may be (at most "
            + std::to_string(platform::kMaxSurfaceSide)
            + " pixels a side, and FFmpeg's PNG writer takes at most (width + 128) x "
              "(height + 128) = "
            + std::to_string(video::kMaxPaddedPixels) + "); leave out --keep-size");
    }

    // The sheet's cells with their labels, times and, for registers chosen, each method's.
    struct Sheet {
        std::vector<platform::Surface> cells;
        std::vector<std::string> labels;
        std::vector<double> seconds;
        std::vector<std::string> registers;
    };

    // Every method on `frame`, then the frame unreduced. Registers given hold for the whole
    // sheet; registers chosen for the picture are chosen for each method, as each would get them
    // alone, so the sheet compares the methods at their best.
    Sheet ConvertSheet(const Options& options, InputVideo& source,
        session::ConversionSession& session, Pictures& pictures, int64_t frame, bool choosing)
    {
        const bool keepSize = options.size == Size::KeepSize;
        if (options.palette && !choosing)
            session.MakePlan(source, frame, frame, keepSize);
        Sheet sheet;
        // One untimed conversion first: it builds the mode's nearest-colour table and the
        // working storage, which would otherwise be counted in the first method's time. It
        // touches no state a later conversion reads (the noise generator is only drawn from by
        // its own method), so the sheet is the same with or without it.
        FrameTiming timing;
        pictures.Convert(Methods().front().index, frame, timing);
        for (const Method& method : Methods()) {
            CheckStop();
            if (choosing) {
                session::Recipe forMethod = options;
                forMethod.method = method.index;
                session.SetRecipe(forMethod);
                session.MakePlan(source, frame, frame, keepSize);
                sheet.registers.push_back(ColoursText(session.ColoursFor(frame)));
                // New registers, new nearest-colour table: made before the stopwatch runs.
                pictures.SetUp(method.index, frame);
            }
            sheet.cells.push_back(pictures.Convert(method.index, frame, timing));
            sheet.labels.push_back(
                std::to_string(method.index) + " " + std::string(method.caption));
            sheet.seconds.push_back(timing.elapsedSeconds);
        }
        // Last, the frame as every method starts from: smoothed to the working size, unreduced
        // (what --method none writes), to judge each method's picture against; no method's
        // registers.
        if (choosing)
            session.DropPlan();
        CheckStop();
        sheet.cells.push_back(pictures.Convert(kNoMethod, frame, timing));
        sheet.labels.push_back("unreduced");
        sheet.seconds.push_back(timing.elapsedSeconds);
        return sheet;
    }

    void PrintCompareSummary(const Options& options, const Sheet& sheet,
        const session::PalettePlan* plan, int64_t frame, bool choosing, const Console& console)
    {
        std::fprintf(console.out, "wrote '%s': frame %lld in %s by all 16 methods, and unreduced\n",
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
        const std::vector<std::string>& registers = sheet.registers;
        for (size_t i = 0; i < sheet.labels.size(); ++i)
            std::fprintf(console.out, "  %-18s %8.3f ms%s%s\n", sheet.labels[i].c_str(),
                sheet.seconds[i] * 1e3, i < registers.size() ? "  " : "",
                i < registers.size() ? registers[i].c_str() : "");
    }

} // namespace

int RunCompare(const Options& options, InputVideo& source, const Console& console)
{
    const int64_t frame = *options.compareFrame;
    if (frame >= source.FrameCount())
        throw Failure("--compare " + std::to_string(frame)
            + " is past the end: " + FrameCountText(options.input, source.FrameCount()));
    CheckCompareFits(options, source, console);
    session::ConversionSession session(options);
    Pictures pictures(options, source, session);
    CheckSheetSize(pictures.Result());
    const bool choosing = options.palette && options.palette->Chosen();
    const Sheet sheet = ConvertSheet(options, source, session, pictures, frame, choosing);
    platform::Surface composed;
    try {
        composed = ComposeGrid(sheet.cells, sheet.labels, kCompareColumns);
    } catch (const std::invalid_argument& e) {
        throw Failure(std::string("cannot make the comparison: ") + e.what());
    }
    AtomicOutput output(options.output);
    output.Write(EncodePicture(composed, PictureFormat::Png));
    // --quiet: nothing but errors, so the report of what was written is left out too.
    if (!options.quiet)
        PrintCompareSummary(
            options, sheet, choosing ? nullptr : session.Plan(), frame, choosing, console);
    FlushSummary(console);
    output.Commit();
    return 0;
}

} // namespace pelorin::cli
