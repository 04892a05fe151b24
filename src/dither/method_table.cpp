#include "method_table.h"

#include "bayer.h"
#include "convert/nearest_color.h"
#include "error_diffusion.h"
#include "halftone.h"
#include "threshold.h"
#include "threshold_noise.h"

#include <stdexcept>
#include <string>

namespace pelorin {

namespace {

    using platform::PictureBox;

    // The extra arguments the window passes to the two threshold methods.
    constexpr uint8_t kThresholdLevel = 128;
    constexpr uint8_t kNoiseAmplitude = 30;

    // Captions are exactly as the window shows them, spelling included.
    constexpr std::array<Method, kMethodCount> kMethods { {
        { 1, "Atkinson", "DitherAtkinson", DitherAtkinson, false },
        { 2, "Floyd", "DitherFloyd", DitherFloyd, false },
        { 3, "Treshold", "DitherThreshold",
            [](PictureBox& d, PictureBox& s) { DitherThreshold(d, s, kThresholdLevel); }, false },
        { 4, "Treshold+Noise", "DitherThresholdNoise",
            [](PictureBox& d, PictureBox& s) {
                DitherThresholdNoise(d, s, kThresholdLevel, kNoiseAmplitude);
            },
            false },
        { 5, "Halftone 2x2", "DitherHalftone2x2", DitherHalftone2x2, true },
        { 6, "Halftone 3x3", "DitherHalftone3x3", DitherHalftone3x3, true },
        { 7, "Bayer 2x2", "DitherBayer2x2", DitherBayer2x2, true },
        { 8, "Bayer 4x4", "DitherBayer4x4", DitherBayer4x4, true },
        { 9, "Bayer 8x8", "DitherBayer8x8", DitherBayer8x8, true },
        { 10, "News 4x4", "DitherNews4x4", DitherNews4x4, true },
        { 11, "Sierra", "DitherSierra", DitherSierra, true },
        { 12, "Burkles", "DitherBurkes", DitherBurkes, true },
        { 13, "Stucky", "DitherStucki", DitherStucki, true },
        { 14, "Jarvis", "DitherJarvis", DitherJarvis, true },
        { 15, "Sierra Lite", "DitherSierraLite", DitherSierraLite, true },
        { 16, "Sierra2 Row", "DitherSierra2Row", DitherSierra2Row, true },
    } };

    constexpr bool IndicesRunFromOne()
    {
        for (int i = 0; i < kMethodCount; ++i)
            if (kMethods[size_t(i)].index != i + 1)
                return false;
        return true;
    }
    static_assert(IndicesRunFromOne(), "row i of the method table must hold index i + 1");

    // Whether the routine leaves only palette colours in the picture, so that MapToPalette on it
    // in place changes nothing. True of the error-diffusion routines: their scan covers every
    // picture row (the guard rows lie in the border), turns each pixel it visits into its
    // nearest colour, and never sends error back to a pixel it has visited. MapToPalette maps a
    // palette colour to itself (distance 0 is the least there is, and the first entry at that
    // distance has that very colour), and in place it touches only the picture.
    bool LeavesPaletteColours(void (*routine)(PictureBox&, PictureBox&))
    {
        return routine == DitherAtkinson || routine == DitherFloyd || routine == DitherSierra
            || routine == DitherBurkes || routine == DitherStucki || routine == DitherJarvis
            || routine == DitherSierraLite || routine == DitherSierra2Row;
    }

} // namespace

const std::array<Method, kMethodCount>& Methods() { return kMethods; }

const Method* FindMethod(int index)
{
    if (index < 1 || index > kMethodCount)
        return nullptr;
    return &kMethods[size_t(index - 1)];
}

void RunMethod(int index, PictureBox& picture)
{
    const Method* method = FindMethod(index);
    if (!method)
        throw std::out_of_range("method index must be 1 ... " + std::to_string(kMethodCount)
            + ", got " + std::to_string(index));
    method->routine(picture, picture);
    if (method->thenMapToPalette && !LeavesPaletteColours(method->routine))
        MapToPalette(picture, picture);
}

} // namespace pelorin
