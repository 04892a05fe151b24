#include "method_table.h"

#include "bayer.h"
#include "convert/nearest_color.h"
#include "convert/working_bitmap.h"
#include "error_diffusion.h"
#include "error_diffusion_engine.h"
#include "halftone.h"
#include "routines.h"
#include "threshold.h"
#include "threshold_noise.h"

#include <stdexcept>
#include <string>

namespace pelorin {

namespace {

    using platform::PictureBox;
    using F = MethodFamily;

    constexpr int Kernel(DiffusionMethod method) { return int(method); }
    using D = DiffusionMethod;

    // Captions are exactly as the window shows them, spelling included.
    // clang-format off
    constexpr std::array<Method, kMethodCount> kMethods { {
        { 1, "Atkinson", "", "DitherAtkinson", F::ErrorDiffusion, Kernel(D::Atkinson), 0, 0, false },
        { 2, "Floyd", "floyd-steinberg", "DitherFloyd", F::ErrorDiffusion, Kernel(D::Floyd), 0, 0, false },
        { 3, "Treshold", "threshold", "DitherThreshold", F::Threshold, 0, 128, 0, false },
        { 4, "Treshold+Noise", "threshold+noise", "DitherThresholdNoise", F::ThresholdNoise, 0, 128, 30, false },
        { 5, "Halftone 2x2", "", "DitherHalftone2x2", F::Halftone, 0, 0, 0, true },
        { 6, "Halftone 3x3", "", "DitherHalftone3x3", F::Halftone, 1, 0, 0, true },
        { 7, "Bayer 2x2", "", "DitherBayer2x2", F::Bayer, 2, 0, 0, true },
        { 8, "Bayer 4x4", "", "DitherBayer4x4", F::Bayer, 4, 0, 0, true },
        { 9, "Bayer 8x8", "", "DitherBayer8x8", F::Bayer, 8, 0, 0, true },
        { 10, "News 4x4", "", "DitherNews4x4", F::Halftone, 2, 0, 0, true },
        { 11, "Sierra", "sierra3", "DitherSierra", F::ErrorDiffusion, Kernel(D::Sierra), 0, 0, true },
        { 12, "Burkles", "burkes", "DitherBurkes", F::ErrorDiffusion, Kernel(D::Burkes), 0, 0, true },
        { 13, "Stucky", "stucki", "DitherStucki", F::ErrorDiffusion, Kernel(D::Stucki), 0, 0, true },
        { 14, "Jarvis", "jarvis-judice-ninke, jjn", "DitherJarvis", F::ErrorDiffusion, Kernel(D::Jarvis), 0, 0, true },
        { 15, "Sierra Lite", "sierra-2-4a", "DitherSierraLite", F::ErrorDiffusion, Kernel(D::SierraLite), 0, 0, true },
        { 16, "Sierra2 Row", "two-row-sierra", "DitherSierra2Row", F::ErrorDiffusion, Kernel(D::Sierra2Row), 0, 0, true },
    } };
    // clang-format on

    constexpr bool IndicesRunFromOne()
    {
        for (int i = 0; i < kMethodCount; ++i)
            if (kMethods[size_t(i)].index != i + 1)
                return false;
        return true;
    }
    static_assert(IndicesRunFromOne(), "row i of the method table must hold index i + 1");

    // An error-diffusion row names the routine of the kernel it drives.
    constexpr bool KernelsMatchRoutines()
    {
        for (const Method& m : kMethods)
            if (m.family == F::ErrorDiffusion
                && kDiffusionKernels[size_t(m.member)].routineName != m.routineName)
                return false;
        return true;
    }
    static_assert(KernelsMatchRoutines(), "a method row drives the wrong kernel");

    // Names are compared in any letter case and without blanks, dashes, underscores and "+":
    // other tools write one name as "FloydSteinberg", "floyd-steinberg" and "floyd_steinberg".
    constexpr bool IsSeparator(char c)
    {
        return c == ' ' || c == '\t' || c == '-' || c == '_' || c == '+';
    }
    constexpr char LowerCase(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }
    constexpr bool SameName(std::string_view a, std::string_view b)
    {
        size_t i = 0, j = 0;
        for (;;) {
            while (i < a.size() && IsSeparator(a[i]))
                ++i;
            while (j < b.size() && IsSeparator(b[j]))
                ++j;
            if (i == a.size() || j == b.size())
                return i == a.size() && j == b.size();
            if (LowerCase(a[i++]) != LowerCase(b[j++]))
                return false;
        }
    }

    // Every caption and alias names one method: no two of them are the same name once letter
    // case and separators are set aside.
    // Alias `n` (from 0) of a comma-separated list; empty past the last.
    constexpr std::string_view AliasAt(std::string_view list, size_t n)
    {
        for (; n > 0; --n) {
            const size_t comma = list.find(',');
            if (comma == std::string_view::npos)
                return {};
            list.remove_prefix(comma + 1);
        }
        while (!list.empty() && list.front() == ' ')
            list.remove_prefix(1);
        return list.substr(0, list.find(','));
    }

    // Name `n` of the table: each row's caption, then up to three aliases (empty past its last).
    constexpr size_t kNamesPerRow = 4;
    constexpr std::string_view NameAt(size_t n)
    {
        const Method& m = kMethods[n / kNamesPerRow];
        return n % kNamesPerRow == 0 ? m.caption : AliasAt(m.aliases, n % kNamesPerRow - 1);
    }
    constexpr bool NamesStayApart()
    {
        for (const Method& m : kMethods)
            if (!AliasAt(m.aliases, kNamesPerRow - 1).empty())
                return false;
        constexpr size_t count = kMethodCount * kNamesPerRow;
        for (size_t i = 0; i < count; ++i)
            for (size_t j = i + 1; j < count; ++j)
                if (!NameAt(i).empty() && SameName(NameAt(i), NameAt(j)))
                    return false;
        return true;
    }
    static_assert(NamesStayApart(),
        "two method names are the same name, or a row has more than three aliases");

    // The routine of row `index` on the program's context.
    void ProgramRoutine(int index, PictureBox& destination, PictureBox& source)
    {
        RunRoutine(ProgramContext(), kMethods[size_t(index - 1)], destination, source);
    }

} // namespace

const std::array<Method, kMethodCount>& Methods() { return kMethods; }

const Method* FindMethod(int index)
{
    if (index < 1 || index > kMethodCount)
        return nullptr;
    return &kMethods[size_t(index - 1)];
}

std::vector<std::string_view> AliasesOf(const Method& method)
{
    std::vector<std::string_view> aliases;
    for (size_t n = 0; !AliasAt(method.aliases, n).empty(); ++n)
        aliases.push_back(AliasAt(method.aliases, n));
    return aliases;
}

const Method* FindMethodByName(std::string_view name)
{
    for (const Method& method : kMethods) {
        if (SameName(method.caption, name))
            return &method;
        for (std::string_view alias : AliasesOf(method))
            if (SameName(alias, name))
                return &method;
    }
    return nullptr;
}

void RunRoutine(ConversionContext& context, const Method& method, PictureBox& destination,
    PictureBox& source, SteadyHistory* steady)
{
    switch (method.family) {
    case F::ErrorDiffusion:
        return DiffuseRoutine(
            context, DiffusionMethod(method.member), destination, source, steady);
    case F::Threshold:
        // Each pixel's colour depends on that pixel alone: unchanged pixels stay as they were.
        return ThresholdRoutine(context, destination, source, method.level);
    case F::ThresholdNoise:
        return ThresholdNoiseRoutine(
            context, destination, source, method.level, method.amplitude, steady);
    case F::Bayer:
        return BayerRoutine(context, method.member, destination, source, steady);
    case F::Halftone:
        return HalftoneRoutine(context, method.member, destination, source, steady);
    }
}

void RunMethod(ConversionContext& context, int index, PictureBox& picture)
{
    const Method* method = FindMethod(index);
    if (!method)
        throw std::out_of_range("method index must be 1 ... " + std::to_string(kMethodCount)
            + ", got " + std::to_string(index));
    RunRoutine(context, *method, picture, picture);
    // The error-diffusion routines leave only palette colours in the picture, so MapToPalette
    // on it in place would change nothing: their scan covers every picture row (the guard rows
    // lie in the border), turns each pixel it visits into its nearest colour, and never sends
    // error back to a pixel it has visited; MapToPalette maps a palette colour to itself
    // (distance 0 is the least there is, and the first entry at that distance has that very
    // colour), and in place it touches only the picture.
    if (method->thenMapToPalette && method->family != MethodFamily::ErrorDiffusion)
        MapToPalette(context, picture, picture);
}

void RunMethod(int index, PictureBox& picture) { RunMethod(ProgramContext(), index, picture); }

void RunSteadyMethod(ConversionContext& context, SteadyHistory& history, int index,
    PictureBox& picture, int mode, int64_t frame)
{
    const Method* method = FindMethod(index);
    if (!method)
        throw std::out_of_range("method index must be 1 ... " + std::to_string(kMethodCount)
            + ", got " + std::to_string(index));
    history.Begin({ mode, index, PictureWidth(picture), PictureHeight(picture) }, frame);
    RunRoutine(context, *method, picture, picture, &history);
    history.Finish();
    if (method->thenMapToPalette && method->family != MethodFamily::ErrorDiffusion)
        MapToPalette(context, picture, picture);
}

void RunExactMethod(ConversionContext& context, int index, const ExactDiffusionSettings& settings,
    PictureBox& picture, SteadyHistory* history, int mode, int64_t frame)
{
    const Method* method = FindMethod(index);
    if (!method)
        throw std::out_of_range("method index must be 1 ... " + std::to_string(kMethodCount)
            + ", got " + std::to_string(index));
    if (method->family != MethodFamily::ErrorDiffusion)
        throw std::invalid_argument(
            "exact diffusion runs the error-diffusion methods, not " + std::string(method->caption));
    ExactDiffusionSettings own = settings;
    own.method = DiffusionMethod(method->member);
    if (!history) {
        ExactDiffuseRoutine(context, own, picture, picture);
        return;
    }
    history->Begin(
        { mode, index, PictureWidth(picture), PictureHeight(picture), ExactKey(own) }, frame);
    ExactDiffuseRoutine(context, own, picture, picture, history);
    history->Finish();
}

// The routines by their own names, on the program's context.
void DitherAtkinson(PictureBox& d, PictureBox& s) { ProgramRoutine(1, d, s); }
void DitherFloyd(PictureBox& d, PictureBox& s) { ProgramRoutine(2, d, s); }
void DitherHalftone2x2(PictureBox& d, PictureBox& s) { ProgramRoutine(5, d, s); }
void DitherHalftone3x3(PictureBox& d, PictureBox& s) { ProgramRoutine(6, d, s); }
void DitherBayer2x2(PictureBox& d, PictureBox& s) { ProgramRoutine(7, d, s); }
void DitherBayer4x4(PictureBox& d, PictureBox& s) { ProgramRoutine(8, d, s); }
void DitherBayer8x8(PictureBox& d, PictureBox& s) { ProgramRoutine(9, d, s); }
void DitherNews4x4(PictureBox& d, PictureBox& s) { ProgramRoutine(10, d, s); }
void DitherSierra(PictureBox& d, PictureBox& s) { ProgramRoutine(11, d, s); }
void DitherBurkes(PictureBox& d, PictureBox& s) { ProgramRoutine(12, d, s); }
void DitherStucki(PictureBox& d, PictureBox& s) { ProgramRoutine(13, d, s); }
void DitherJarvis(PictureBox& d, PictureBox& s) { ProgramRoutine(14, d, s); }
void DitherSierraLite(PictureBox& d, PictureBox& s) { ProgramRoutine(15, d, s); }
void DitherSierra2Row(PictureBox& d, PictureBox& s) { ProgramRoutine(16, d, s); }

// The two threshold methods take their extra arguments from the caller.
void DitherThreshold(PictureBox& d, PictureBox& s, uint8_t level)
{
    ThresholdRoutine(ProgramContext(), d, s, level);
}
void DitherThresholdNoise(PictureBox& d, PictureBox& s, uint8_t level, uint8_t amplitude)
{
    ThresholdNoiseRoutine(ProgramContext(), d, s, level, amplitude);
}

} // namespace pelorin
