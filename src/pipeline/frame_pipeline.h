#pragma once
// One frame's road, shared by the window and pelorin-convert so both turn a frame into exactly
// the same bytes:
//   host picture (the frame as displayed, 512 × 240, the window's Pic1)
//   → smoothed copy into the mode's working picture at TVC resolution (TVC2 / TVC4 / TVC16),
//     with the mode's palette loaded after the copy (or before it, as the window asks)
//   → the method of the method table, followed by MapToPalette where the table says so
//   → the display picture: the working picture enlarged to 512 × 480 without smoothing
//     (Pic2 / Pic3 / Pic4).
// The frame stopwatch times the capture, palette and method; the enlargement is outside it.
#include "convert/conversion_context.h"
#include "dither/exact_diffusion.h"
#include "dither/method_table.h"
#include "platform/picture_box.h"
#include "tvc_mode.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace pelorin {

constexpr int kHostWidth = 512;
constexpr int kHostHeight = 240;
constexpr int kDisplayWidth = 512;
constexpr int kDisplayHeight = 480;

// The steps a frame is made of, one virtual call each, so that a caller can watch them (the
// window's tests record the order). The default runs each on the context given.
class FrameSteps {
public:
    explicit FrameSteps(ConversionContext& context)
        : m_context(&context)
    {
    }
    virtual ~FrameSteps() = default;

    // The palette table gets the mode's entries (SetPalette2 / SetPalette4 / SetPalette16).
    virtual void LoadPalette(const TvcMode& mode);
    virtual void StretchPicture(platform::PictureBox& destination, platform::PictureBox& source,
        int width, int height, int smoothing);
    // Method `index` (1 ... 16) on `picture` as destination and source, then MapToPalette where
    // the method table says so.
    virtual void RunMethod(int index, platform::PictureBox& picture);
    // The same with steady dithering (RunSteadyMethod) on `history`: frame `frame` in mode
    // `mode`.
    virtual void RunSteadyMethod(int index, platform::PictureBox& picture, SteadyHistory& history,
        int mode, int64_t frame);
    // An error-diffusion method `index` by the exact engine (RunExactMethod), steady with a
    // history.
    virtual void RunExactMethod(int index, platform::PictureBox& picture,
        const ExactDiffusionSettings& settings, SteadyHistory* history, int mode, int64_t frame);

    ConversionContext& Context() const { return *m_context; }

private:
    ConversionContext* m_context;
};

// How a frame is converted beyond mode and method. The default is the plain conversion.
struct FrameOptions {
    // Steady dithering: the frame keeps to the previous frame's pattern where the picture allows,
    // as this history (dither/steady_history.h, owned by the caller beside its context) keeps
    // it; null for the plain conversion. Only the frame right after the one kept, in the same
    // mode, by the same method, at the same size, continues; any other converts as without the
    // option. A caller that converts plain frames between steady ones forgets its history
    // (SteadyHistory::Forget), so that the next steady frame starts afresh.
    SteadyHistory* steady = nullptr;
    // Which frame of the video this is (the window's scroll bar position, the tool's frame
    // index); read only with `steady`.
    int64_t frame = 0;
    // The mode's palette is loaded before the capture copy, not after it. The copy does not read
    // the palette, so no pixel depends on it; the window keeps its own order of calls per mode.
    bool paletteBeforeCapture = false;
    // Palette registers chosen for the picture (palette_choice.h): these entries replace the
    // mode's own right after its palette is loaded; null: the mode's own palette.
    const std::vector<PaletteEntry>* palette = nullptr;
    // Registers chosen for each line (line_palettes.h) by exact diffusion with these settings:
    // the frame converts so in place of the method's own routine (whose kernel the settings
    // name); null: not.
    const ExactDiffusionSettings* linePalettes = nullptr;
    // The error-diffusion methods run by the exact engine (dither/exact_diffusion.h) with these
    // settings, their kernel being the method's own; empty: by the integer engine. The other
    // methods are not affected.
    std::optional<ExactDiffusionSettings> exact = std::nullopt;
};

// The timed part of a frame, through `steps`: with a host, the smoothed copy of the whole host
// into `working` at the working picture's own size and the mode's palette (after the copy, or
// before it with `options.paletteBeforeCapture`); without a host (null), the palette alone and
// the working picture is converted as it stands, at whatever size it has. Then method `methodIndex`, unless it is
// kNoMethod. Throws std::out_of_range for a method index other than kNoMethod or 1 ... 16 before
// anything is touched; lets the conversion core's run-time errors through. With kNoMethod a
// steady history given is forgotten, so a later steady frame starts afresh.
void ConvertToWorking(FrameSteps& steps, const TvcMode& mode, int methodIndex,
    platform::PictureBox* host, platform::PictureBox& working, const FrameOptions& options = {});

// What the stopwatch measured for one conversion: `elapsedMs` is the whole number of
// milliseconds the window shows; `elapsedSeconds` the same pair of counter readings without the
// rounding, for statistics finer than a millisecond.
struct FrameTiming {
    int32_t elapsedMs = 0;
    double elapsedSeconds = 0;
};

// A whole frame on `context`: ConvertToWorking timed by a stopwatch of the call's own, then, when
// a display picture is given, the working picture enlarged into it without smoothing. The
// display picture's stretch mode must be left at its default, which takes single pixels.
FrameTiming ConvertFrame(ConversionContext& context, const TvcMode& mode, int methodIndex,
    platform::PictureBox* host, platform::PictureBox& working,
    platform::PictureBox* display = nullptr, const FrameOptions& options = {});

// Makes `context` stand where a fresh context stands after converting `framesBefore` pictures of
// width × height (its noise generator moved past their numbers), so that frame k of a run can be
// converted on any thread, on a context of its own, and give the bytes a serial run gives.
void StartAtFrame(ConversionContext& context, int64_t framesBefore, int width, int height);

// The display copy alone: `working` enlarged without smoothing to fill `display`.
void EnlargeToDisplay(platform::PictureBox& display, platform::PictureBox& working);

} // namespace pelorin
