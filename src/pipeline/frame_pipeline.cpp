#include "frame_pipeline.h"

#include "line_palettes.h"

#include "convert/stretch_picture.h"
#include "convert/working_bitmap.h"
#include "dither/threshold_noise.h"
#include "timer/stopwatch.h"

#include <stdexcept>
#include <string>

namespace pelorin {

void FrameSteps::LoadPalette(const TvcMode& mode) { pelorin::LoadPalette(*m_context, mode); }

void FrameSteps::StretchPicture(platform::PictureBox& destination, platform::PictureBox& source,
    int width, int height, int smoothing)
{
    pelorin::StretchPicture(destination, source, width, height, smoothing);
}

void FrameSteps::RunMethod(int index, platform::PictureBox& picture)
{
    pelorin::RunMethod(*m_context, index, picture);
}

void FrameSteps::RunSteadyMethod(
    int index, platform::PictureBox& picture, SteadyHistory& history, int mode, int64_t frame)
{
    pelorin::RunSteadyMethod(*m_context, history, index, picture, mode, frame);
}

void FrameSteps::RunExactMethod(int index, platform::PictureBox& picture,
    const ExactDiffusionSettings& settings, SteadyHistory* history, int mode, int64_t frame)
{
    pelorin::RunExactMethod(*m_context, index, settings, picture, history, mode, frame);
}

void ConvertToWorking(FrameSteps& steps, const TvcMode& mode, int methodIndex,
    platform::PictureBox* host, platform::PictureBox& working, const FrameOptions& options)
{
    if (methodIndex != kNoMethod && FindMethod(methodIndex) == nullptr)
        throw std::out_of_range("method " + std::to_string(methodIndex) + " is not 1 ... 16");
    if (host != nullptr) {
        if (options.paletteBeforeCapture)
            steps.LoadPalette(mode);
        steps.StretchPicture(working, *host, PictureWidth(working), PictureHeight(working), 1);
        if (!options.paletteBeforeCapture)
            steps.LoadPalette(mode);
    } else {
        steps.LoadPalette(mode);
    }
    if (options.palette)
        steps.Context().palette = *options.palette;
    if (methodIndex == kNoMethod && options.steady)
        options.steady->Forget();
    if (methodIndex != kNoMethod && options.linePalettes) {
        ConvertWithLinePalettes(mode, *options.linePalettes, working.Image());
    } else if (methodIndex != kNoMethod) {
        if (options.exact && FindMethod(methodIndex)->family == MethodFamily::ErrorDiffusion)
            steps.RunExactMethod(methodIndex, working, *options.exact, options.steady, mode.number,
                options.frame);
        else if (options.steady)
            steps.RunSteadyMethod(methodIndex, working, *options.steady, mode.number, options.frame);
        else
            steps.RunMethod(methodIndex, working);
    }
}

FrameTiming ConvertFrame(ConversionContext& context, const TvcMode& mode, int methodIndex,
    platform::PictureBox* host, platform::PictureBox& working, platform::PictureBox* display,
    const FrameOptions& options)
{
    FrameSteps steps(context);
    Stopwatch stopwatch;
    stopwatch.Start();
    ConvertToWorking(steps, mode, methodIndex, host, working, options);
    FrameTiming timing;
    timing.elapsedMs = stopwatch.ElapsedMs();
    timing.elapsedSeconds = stopwatch.ElapsedSeconds();
    if (display != nullptr)
        EnlargeToDisplay(*display, working);
    return timing;
}

void StartAtFrame(ConversionContext& context, int64_t framesBefore, int width, int height)
{
    context.noiseState = NoiseStateAfter(kNoiseStartState, framesBefore, width, height);
}

void EnlargeToDisplay(platform::PictureBox& display, platform::PictureBox& working)
{
    pelorin::StretchPicture(display, working, PictureWidth(display), PictureHeight(display), 0);
}

} // namespace pelorin
