#pragma once
// Exact error diffusion: the eight kernels of diffusion_kernels.h with the error kept in float
// and divided exactly (weight / divisor), where the integer engine truncates each share toward
// zero. Rows are scanned serpentine — even rows left to right, odd rows right to left with the
// kernel mirrored — so the error does not drift the same way on every row.
//
// Per pixel, in scan order:
//   c = pixel + error received, each channel limited to −128 ... 383 (kExactCarryMargin);
//   the nearest palette entry to c by the chosen distance is the pixel's colour q;
//   damping · (c − q) is shared out over the kernel's neighbours not visited yet.
// The damping (kExactDamping) passes on only part of the error: a flat area still averages very
// nearly right, while error that cannot be worked off (a colour outside what the palette spans)
// dies away within a few pixels instead of piling up into streaks.
//
// With linear light the pixels and the palette are decoded from sRGB first and the error is
// kept in linear light (scaled to 0 ... 255); with the perceptual distance the nearest entry is
// the nearest in Oklab to the colour as the screen would show it (limited to 0 ... 255), while
// the error stays in the working space (sRGB or linear light).
//
// Pixels are 32-bit 0x00RRGGBB values (the top byte is ignored), as platform::Surface rows hold
// them. A palette has 1 ... 256 entries; among entries at the same distance the lowest index wins.
#include "convert/palette_entry.h"
#include "diffusion_kernels.h"
#include "platform/surface.h"

#include <cstdint>
#include <span>
#include <vector>

namespace pelorin {

// The measure for the nearest palette colour.
enum class ColourDistance {
    Rgb, // squared distance in the working space (sRGB, or linear light with linearLight)
    Perceptual // squared distance in Oklab
};

// The share of the error passed on. 1 is the textbook kernel. A little less lets error that
// cannot be worked off (a colour beyond what the palette mixes, an edge) die away instead of
// streaking across the picture, and costs only the faintest tints beside the palette's own
// colours, which need the error to build up over many pixels. Measured on "Graphics 16" test
// pictures by Floyd (blurred difference of 255): 0.95 gives 7.20, 0.98 7.19, 0.99 7.23, 1 7.24.
inline constexpr float kExactDamping = 0.98f;

// How far beyond the screen's range (0 ... 255 a channel) the colour carrying the error may go
// before it is limited. Error that puts a pixel past white or black can still be worked off when
// the palette reaches that face of the range, as "Graphics 16" reaches all of them: the pixel
// takes the brightest entry and passes the rest on, and its neighbours come out brighter. Limited
// at the screen's own range, that error was lost, so bright colours came out too dark and dark
// ones too light. Without a limit, a colour the palette cannot
// mix (red with a black-and-white pair) piles error up into streaks. Measured on the seven test
// pictures (blurred difference, of 255), from a margin of 0 to 64, 128 and none: "Graphics 16"
// by Floyd 8.53, 7.22, 7.19, 7.18, and the spread of the kernels other than Atkinson 12 %, 12 %,
// 8 %, 8 %; "Graphics 2" by Floyd 37.5, 37.6, 37.7, 41.4; "Graphics 4" with the chosen palette
// 15.4, 15.1, 15.1, 15.9. Limiting the colour toward its own grey to keep its hue was measured
// first and was worse still (10.3): it drops the error of the channels that were in range too.
inline constexpr float kExactCarryMargin = 128.0f;

struct ExactDiffusionSettings {
    DiffusionMethod method = DiffusionMethod::Floyd;
    float damping = kExactDamping; // 0 ... 1
    bool linearLight = false;
    ColourDistance distance = ColourDistance::Rgb;
};

// Steady dithering's choice for one row (steady_history.h): where tolerance[x] > 0, the frame
// before left palette entry previous[x] at pixel x, and that entry is kept while the pixel's
// colour with its error received lies less than tolerance[x] further from it than from the
// nearest entry (squared distances of the chosen measure). The error actually made is passed on
// as usual, so the local average stays right while the pattern stays put.
struct SteadyRowChoice {
    const uint8_t* previous; // Width() palette indices
    const float* tolerance; // Width() tolerances; 0: the plain choice
};

// One picture's scan, row by row. Holds the error of the rows below the current one (as many as
// the kernel reaches); rows must be given in order 0, 1, 2, ... and their parity sets the
// direction. Row y's error starts at zero for a new object.
class ExactDiffusion {
public:
    // width ≥ 1 pixels per row.
    ExactDiffusion(const ExactDiffusionSettings& settings, int width);

    int Width() const { return m_width; }
    // The next row's number (how many rows Row has scanned).
    int NextRow() const { return m_row; }

    // Scans the next row: `pixels` are Width() pixels 0x00RRGGBB, `palette` the colours this row
    // may use; writes each pixel's palette index to `indices` (Width() bytes) and carries the
    // error on to the rows below. Returns the row's cost as TrialRow gives it. With `steady`,
    // the choice keeps to the frame before as SteadyRowChoice says.
    double Row(const uint32_t* pixels, std::span<const PaletteEntry> palette, uint8_t* indices,
        const SteadyRowChoice* steady = nullptr);

    // What Row would cost with `palette`, changing nothing: the sum over the row of the squared
    // distance (by the chosen measure; channels scaled to 0 ... 255, Oklab's L too) between each
    // pixel plus the error it receives, limited as above, and its chosen colour. Allocates
    // nothing.
    // With `indices`, also writes each pixel's palette index there, as Row would.
    double TrialRow(const uint32_t* pixels, std::span<const PaletteEntry> palette,
        uint8_t* indices = nullptr) const;

    // What the rows above have pushed into the next row: each pixel's colour plus the error it
    // receives from them, in the space the error is kept in (linear light scaled to 0 ... 255
    // with linearLight, else sRGB), 3 floats a pixel into `colours`.
    void Received(const uint32_t* pixels, float* colours) const;
    // A colour in that space, 3 floats.
    void WorkingColour(const PaletteEntry& entry, float* colour) const;

    // Which scan the rows take. Best: the RGB distance without steady dithering takes the
    // vector scan made for it, in the widest instructions the processor has, and everything
    // else the general scan, which also serves steady dithering and the perceptual distance.
    // Vector: the vector scan in the instructions every x86-64 processor has. General: the
    // general scan for every row. All give the same indices and costs to the bit; this lets
    // that be checked.
    enum class ScanPath { Best, Vector, General };
    void UseScan(ScanPath path) { m_path = path; }

private:
    template <bool kWrite>
    double Scan(const uint32_t* pixels, std::span<const PaletteEntry> palette, uint8_t* indices,
        float* const* rows, const SteadyRowChoice* steady) const;
    // The scan for the RGB distance without steady dithering: the same arithmetic in the same
    // order as Scan, with the settings' branches and the edge columns taken out of the pixel
    // loop. kCount is the palette's size, 0 when not one of the sizes compiled in. SizedScan
    // picks the instance for the palette; FastScan compiles that choice once for every x86-64
    // processor and once for those with AVX, whose three-operand instructions spare the copies
    // between registers (the arithmetic is the same, so are the bits).
    template <bool kWrite, bool kLinear, int kCount>
    double PlainScan(const uint32_t* pixels, std::span<const PaletteEntry> palette,
        uint8_t* indices, float* const* rows) const;
    template <bool kWrite>
    double SizedScan(const uint32_t* pixels, std::span<const PaletteEntry> palette,
        uint8_t* indices, float* const* rows) const;
    template <bool kWrite>
    double FastScan(const uint32_t* pixels, std::span<const PaletteEntry> palette, uint8_t* indices,
        float* const* rows) const;
    template <bool kWrite>
    double FastScanSse(const uint32_t* pixels, std::span<const PaletteEntry> palette,
        uint8_t* indices, float* const* rows) const;
    template <bool kWrite>
    double FastScanAvx(const uint32_t* pixels, std::span<const PaletteEntry> palette,
        uint8_t* indices, float* const* rows) const;

    ExactDiffusionSettings m_settings;
    int m_width;
    int m_row = 0;
    // Error rows for the current row and the rows below it, (width + 2·kReach) pixels of kStride
    // floats each (red, green, blue and a fourth that stays 0, so the vector scan moves a pixel
    // as one aligned vector), kReach pixels of margin on both sides so no kernel entry needs a
    // bounds check. Row y uses m_rows[y % kRows].
    static constexpr int kReach = 2;
    static constexpr int kRows = 3;
    static constexpr int kStride = 4;
    // Held with kStride − 1 floats to spare, so the rows can start on a whole vector
    // (ErrorRows) whatever the allocator gives.
    std::vector<float> m_error;
    float* ErrorRows() const;
    ScanPath m_path = ScanPath::Best;
};

// The settings as steady dithering's key (SteadyHistory::Key::engine): never 0, equal for equal
// settings.
uint32_t ExactKey(const ExactDiffusionSettings& settings);

// The squared distance, by the settings' measure, between the palette's two closest distinct
// colours (0 for a palette of one colour): the unit of steady dithering's tolerances.
float SmallestStep(const ExactDiffusionSettings& settings, std::span<const PaletteEntry> palette);

// The colour spaces of the perceptual distance, for measures that must agree with it: an sRGB
// byte's linear light (0 ... 1), and the Oklab of a linear-light colour, each channel scaled by
// 255 (L runs 0 ... 255).
float LinearOfSrgb(uint8_t value);
void OklabOfLinear(float red, float green, float blue, float out[3]);

// Whole picture: every pixel of `picture` (0x00RRGGBB) replaced by the packed palette colour the
// scan chooses, rows 0 ... height − 1.
void DitherExact(const ExactDiffusionSettings& settings, platform::Surface& picture,
    std::span<const PaletteEntry> palette);

} // namespace pelorin
