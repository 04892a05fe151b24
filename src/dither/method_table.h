#pragma once
// The sixteen conversion methods, in Option1 index order, each with everything that is known
// about it: its caption, the names the command line accepts, the routine family and member that
// drive it, the extra arguments the window passes and whether MapToPalette follows. The window's
// dispatch, the command-line tool's method names, the benchmarks and the routines' own names
// (DitherFloyd, ...) all read this one table.
#include "convert/conversion_context.h"
#include "exact_diffusion.h"
#include "platform/picture_box.h"
#include "steady_history.h"

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace pelorin {

enum class MethodFamily { ErrorDiffusion, Threshold, ThresholdNoise, Bayer, Halftone };

struct Method {
    int index; // the Option1 index, 1 ... 16
    std::string_view caption; // exactly as the window shows it ("Treshold", "Burkles", ...)
    // The spellings other tools and papers use where they differ from the caption, separated
    // by commas (libplacebo's "floyd-steinberg", ImageMagick's "JarvisJudiceNinke", FFmpeg's
    // "sierra2_4a"), or empty.
    std::string_view aliases;
    std::string_view routineName; // "DitherAtkinson", ...
    MethodFamily family;
    // Which member of the family: the kernel's place in kDiffusionKernels, the Bayer matrix size
    // 2 / 4 / 8, or the block screen 0 / 1 / 2 (2×2, 3×3, News).
    int member;
    uint8_t level; // "Treshold" and "Treshold+Noise": 128 (does not change the result)
    uint8_t amplitude; // "Treshold+Noise": 30
    bool thenMapToPalette; // the pipeline follows the routine with MapToPalette
};

constexpr int kMethodCount = 16;
// "no method": the working picture keeps the smoothed, unreduced copy of the frame.
constexpr int kNoMethod = 0;

// Index 1 first.
const std::array<Method, kMethodCount>& Methods();

// Null when index is outside 1 ... 16.
const Method* FindMethod(int index);

// The aliases of `method` one by one.
std::vector<std::string_view> AliasesOf(const Method& method);

// The method a name stands for: its caption or one of its aliases in any letter case, with
// blanks, dashes, underscores and "+" left out ("treshold+noise", "Bayer-4x4", "sierra2 row",
// "burkes", "FloydSteinberg", "floyd_steinberg"). Null when the name matches none.
const Method* FindMethodByName(std::string_view name);

// The method's routine on (destination, source) with its extra arguments, on `context`: its
// family's entry point (routines.h), plain with `steady` null, else steady dithering on that
// history between its Begin and Finish.
void RunRoutine(ConversionContext& context, const Method& method,
    platform::PictureBox& destination, platform::PictureBox& source,
    SteadyHistory* steady = nullptr);

// Runs method `index` on `picture` as the frame pipeline does: the routine with the picture as
// destination and source, then MapToPalette(picture, picture) where the table says so.
// Throws std::out_of_range for an index outside 1 ... 16.
void RunMethod(ConversionContext& context, int index, platform::PictureBox& picture);
// The same on the program's context.
void RunMethod(int index, platform::PictureBox& picture);

// RunMethod with steady dithering (steady_history.h): frame `frame` of a sequence in TVC mode
// `mode`. When `history` holds frame − 1 in the same mode, by the same method, at the same size,
// the method keeps to that frame's pattern where the picture allows; otherwise (the first frame,
// a jump, another mode, method or size) the picture gets exactly RunMethod's bytes. Either way
// the history then holds this frame. Throws std::out_of_range like RunMethod.
void RunSteadyMethod(ConversionContext& context, SteadyHistory& history, int index,
    platform::PictureBox& picture, int mode, int64_t frame);

// RunMethod and RunSteadyMethod (with `history`, frame `frame` in TVC mode `mode`) by the exact
// engine (exact_diffusion.h) with `settings`, for an error-diffusion method: the method's own
// kernel, whatever settings.method names. Steady dithering continues only from a frame the exact
// engine made with the same settings. Throws std::out_of_range like RunMethod, and
// std::invalid_argument for a method of another family.
void RunExactMethod(ConversionContext& context, int index, const ExactDiffusionSettings& settings,
    platform::PictureBox& picture, SteadyHistory* history = nullptr, int mode = 0,
    int64_t frame = 0);

} // namespace pelorin
