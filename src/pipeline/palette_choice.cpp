#include "palette_choice.h"

#include "convert/conversion_context.h"
#include "convert/tvc_colours.h"
#include "dither/diffusion_kernels.h"
#include "dither/method_table.h"
#include "picture_difference.h"
#include "platform/picture_box.h"

#include <algorithm>
#include <numeric>
#include <stdexcept>
#include <string>

namespace pelorin {

namespace {

    // The search's two rounds on reduced pictures: about this many pixels a picture, keeping
    // this many sets for the next round. The first round sees every set, so it is small; the
    // second tells apart the close ones; the final check runs the method itself.
    struct Round {
        int pixels;
        size_t keep;
    };
    constexpr Round kRounds[] = { { 1024, 48 }, { 4096, 6 } };
    // The fewest pixels a picture is reduced to when several share a round.
    constexpr int kLeastPixels = 256;

    // A picture reduced by a whole factor, each pixel the mean of the block it stands for (edge
    // blocks of what they hold), as bytes red, green, blue and as a surface for the score.
    struct Reduced {
        int width = 0, height = 0;
        std::vector<uint8_t> rgb;
        platform::Surface surface;
    };

    int ReductionFor(int width, int height, int pixels)
    {
        int factor = 1;
        while (int64_t((width + factor - 1) / factor) * ((height + factor - 1) / factor) > pixels)
            ++factor;
        return factor;
    }

    Reduced Reduce(const platform::Surface& picture, int factor)
    {
        Reduced r;
        r.width = (picture.width + factor - 1) / factor;
        r.height = (picture.height + factor - 1) / factor;
        r.rgb.resize(size_t(r.width) * size_t(r.height) * 3);
        r.surface = platform::Surface(r.width, r.height);
        for (int by = 0; by < r.height; ++by)
            for (int bx = 0; bx < r.width; ++bx) {
                int sum[3] = { 0, 0, 0 }, count = 0;
                for (int y = by * factor; y < std::min(picture.height, (by + 1) * factor); ++y)
                    for (int x = bx * factor; x < std::min(picture.width, (bx + 1) * factor); ++x) {
                        const uint32_t c = picture.At(x, y);
                        sum[0] += platform::RedOf(c);
                        sum[1] += platform::GreenOf(c);
                        sum[2] += platform::BlueOf(c);
                        ++count;
                    }
                uint8_t* p = &r.rgb[(size_t(by) * size_t(r.width) + size_t(bx)) * 3];
                for (int ch = 0; ch < 3; ++ch)
                    p[ch] = uint8_t((sum[ch] + count / 2) / count);
                r.surface.At(bx, by) = platform::Rgb(p[0], p[1], p[2]);
            }
        return r;
    }

    struct Colour {
        int red, green, blue;
    };

    // The palette's nearest entry by the conversion's own rule: plain squared RGB distance, the
    // lowest index among equals.
    size_t Nearest(std::span<const Colour> palette, int red, int green, int blue)
    {
        int best = 1 << 30;
        size_t bestIndex = 0;
        for (size_t i = 0; i < palette.size(); ++i) {
            const int dr = red - palette[i].red, dg = green - palette[i].green,
                      db = blue - palette[i].blue;
            const int d = dr * dr + dg * dg + db * db;
            if (d < best) {
                best = d;
                bestIndex = i;
            }
        }
        return bestIndex;
    }

    // The exact engine's settings for `method`, with its own kernel: empty for a method that
    // does not diffuse error, or without the exact engine.
    std::optional<ExactDiffusionSettings> ExactFor(
        const Method& method, const std::optional<ExactDiffusionSettings>& exact)
    {
        if (!exact || method.family != MethodFamily::ErrorDiffusion)
            return std::nullopt;
        ExactDiffusionSettings own = *exact;
        own.method = DiffusionMethod(method.member);
        return own;
    }

    // The search's score of a converted picture: the faithfulness figure, or its perceptual
    // twin when the exact engine chooses colours perceptually.
    double Measure(const std::optional<ExactDiffusionSettings>& exact,
        const platform::Surface& converted, const platform::Surface& unreduced)
    {
        if (exact && exact->distance == ColourDistance::Perceptual)
            return BlurredPerceptualDifference(converted, unreduced);
        return BlurredDifference(converted, unreduced);
    }

    // The stand-in for a method on a reduced picture: fast, and ranking palettes as the method
    // would. Error diffusion runs the method's own kernel with its truncation and clamping (over
    // the picture alone, without the border the method wraps into); the screens are stood in for
    // by a 4 × 4 Bayer screen per channel, then nearest colour; the threshold methods by nearest
    // colour.
    //
    // With the exact engine the stand-in for error diffusion is that engine itself, on the
    // reduced picture; with its perceptual distance the score is measured the same way.
    class StandIn {
    public:
        StandIn(const Method& method, const std::optional<ExactDiffusionSettings>& exact)
            : m_method(method)
            , m_exact(ExactFor(method, exact))
        {
        }

        double Score(const Reduced& picture, std::span<const Colour> palette)
        {
            m_result = platform::Surface(picture.width, picture.height);
            if (m_exact) {
                m_result = picture.surface;
                m_entries.clear();
                for (const Colour& c : palette)
                    m_entries.push_back({ uint8_t(c.blue), uint8_t(c.green), uint8_t(c.red), 0 });
                DitherExact(*m_exact, m_result, m_entries);
            } else if (m_method.family == MethodFamily::ErrorDiffusion) {
                Diffuse(picture, palette);
            } else {
                Screen(picture, palette);
            }
            return Measure(m_exact, m_result, picture.surface);
        }

    private:
        static constexpr int kReach = 2; // the widest kernel's reach, sideways and down

        void Diffuse(const Reduced& picture, std::span<const Colour> palette)
        {
            const DiffusionKernel& kernel = kDiffusionKernels[size_t(m_method.member)];
            const int stride = picture.width + 2 * kReach;
            m_work.assign(size_t(stride) * size_t(picture.height + kReach) * 3, 0);
            for (int y = 0; y < picture.height; ++y)
                std::copy_n(&picture.rgb[size_t(y) * size_t(picture.width) * 3],
                    size_t(picture.width) * 3, &m_work[(size_t(y) * size_t(stride) + kReach) * 3]);
            for (int y = 0; y < picture.height; ++y)
                for (int x = 0; x < picture.width; ++x) {
                    int* p = &m_work[(size_t(y) * size_t(stride) + size_t(x + kReach)) * 3];
                    const Colour& c = palette[Nearest(palette, p[0], p[1], p[2])];
                    const int q[3] = { (p[0] - c.red) / kernel.divisor,
                        (p[1] - c.green) / kernel.divisor, (p[2] - c.blue) / kernel.divisor };
                    m_result.At(x, y)
                        = platform::Rgb(uint8_t(c.red), uint8_t(c.green), uint8_t(c.blue));
                    for (int e = 0; e < kernel.entryCount; ++e) {
                        const KernelEntry& k = kernel.entries[size_t(e)];
                        int* n = p + (k.dy * stride + k.dx) * 3;
                        for (int ch = 0; ch < 3; ++ch)
                            n[ch] = std::clamp(n[ch] + k.weight * q[ch], 0, 255);
                    }
                }
        }

        void Screen(const Reduced& picture, std::span<const Colour> palette)
        {
            // clang-format off
            static constexpr int kBayer4[4][4] = {
                {  0,  8,  2, 10 },
                { 12,  4, 14,  6 },
                {  3, 11,  1,  9 },
                { 15,  7, 13,  5 },
            };
            // clang-format on
            const bool screened = m_method.family == MethodFamily::Bayer
                || m_method.family == MethodFamily::Halftone;
            for (int y = 0; y < picture.height; ++y)
                for (int x = 0; x < picture.width; ++x) {
                    const uint8_t* p
                        = &picture.rgb[(size_t(y) * size_t(picture.width) + size_t(x)) * 3];
                    int v[3] = { p[0], p[1], p[2] };
                    if (screened) {
                        const int threshold = kBayer4[y & 3][x & 3] * 16 + 8;
                        for (int& ch : v)
                            ch = ch > threshold ? 255 : 0;
                    }
                    const Colour& c = palette[Nearest(palette, v[0], v[1], v[2])];
                    m_result.At(x, y)
                        = platform::Rgb(uint8_t(c.red), uint8_t(c.green), uint8_t(c.blue));
                }
        }

        const Method& m_method;
        const std::optional<ExactDiffusionSettings> m_exact;
        std::vector<PaletteEntry> m_entries;
        std::vector<int> m_work;
        platform::Surface m_result;
    };

    void CheckPictures(std::span<const platform::Surface> pictures)
    {
        if (pictures.empty())
            throw std::invalid_argument("no picture to choose a palette for");
        for (const platform::Surface& p : pictures)
            if (p.width <= 0 || p.height <= 0 || p.width != pictures[0].width
                || p.height != pictures[0].height)
                throw std::invalid_argument("the pictures to choose a palette for differ in size "
                                            "or are empty");
    }

    const Method& MethodFor(int methodIndex)
    {
        const Method* method = FindMethod(methodIndex);
        if (method == nullptr)
            throw std::invalid_argument(
                "method " + std::to_string(methodIndex) + " is not 1 ... 16");
        return *method;
    }

} // namespace

std::vector<std::vector<int>> CandidateSets(const TvcMode& mode)
{
    const std::vector<int> own = DefaultColours(mode);
    std::vector<int> ownSorted = own;
    std::sort(ownSorted.begin(), ownSorted.end());
    std::vector<std::vector<int>> sets { own };
    // Colour 8 is black again: a set holding both blacks wastes a register.
    std::vector<int> colours;
    for (int c = 0; c < kTvcColourCount; ++c)
        if (c != 8)
            colours.push_back(c);
    const size_t n = own.size();
    std::vector<bool> pick(colours.size(), false);
    std::fill(pick.begin(), pick.begin() + std::ptrdiff_t(n), true);
    // Walk the combinations in lexicographic order of the picked positions.
    do {
        std::vector<int> set;
        for (size_t i = 0; i < colours.size(); ++i)
            if (pick[i])
                set.push_back(colours[i]);
        if (set != ownSorted)
            sets.push_back(std::move(set));
    } while (std::prev_permutation(pick.begin(), pick.end()));
    return sets;
}

double PaletteDifference(const TvcMode& mode, int methodIndex, std::span<const int> colours,
    std::span<const platform::Surface> pictures, const std::optional<ExactDiffusionSettings>& exact)
{
    (void)mode;
    const std::optional<ExactDiffusionSettings> own = ExactFor(MethodFor(methodIndex), exact);
    CheckPictures(pictures);
    double sum = 0;
    for (const platform::Surface& picture : pictures) {
        platform::PictureBox box(picture.width, picture.height);
        box.Image() = picture;
        ConversionContext context;
        context.palette = PaletteOfColours(colours);
        if (own)
            RunExactMethod(context, methodIndex, *own, box);
        else
            RunMethod(context, methodIndex, box);
        sum += Measure(own, box.Image(), picture);
    }
    return sum / double(pictures.size());
}

PaletteChoice ChoosePalette(const TvcMode& mode, int methodIndex,
    std::span<const platform::Surface> pictures, const std::optional<ExactDiffusionSettings>& exact)
{
    if (mode.palette.size() >= size_t(kTvcColourCount))
        throw std::invalid_argument(mode.QuotedCaption() + " shows all sixteen colours already");
    const Method& method = MethodFor(methodIndex);
    CheckPictures(pictures);
    const std::vector<std::vector<int>> sets = CandidateSets(mode);

    // The candidates still in the running, as indices into `sets`; ties keep the earlier set,
    // so the mode's own palette wins any tie.
    std::vector<size_t> alive(sets.size());
    std::iota(alive.begin(), alive.end(), size_t(0));
    StandIn standIn(method, exact);
    for (const Round& round : kRounds) {
        // Several pictures share a round's budget, so choosing for a clip costs about what
        // choosing for one picture does.
        const int budget = std::max(kLeastPixels, round.pixels / int(pictures.size()));
        const int factor = ReductionFor(pictures[0].width, pictures[0].height, budget);
        std::vector<Reduced> reduced;
        for (const platform::Surface& p : pictures)
            reduced.push_back(Reduce(p, factor));
        std::vector<double> score(sets.size(), 0.0);
        for (const size_t s : alive) {
            std::vector<Colour> palette;
            for (const int c : sets[s]) {
                const PaletteEntry& e = kTvcPalette16[size_t(c)];
                palette.push_back({ e.Red, e.Green, e.Blue });
            }
            for (const Reduced& r : reduced)
                score[s] += standIn.Score(r, palette);
        }
        std::stable_sort(
            alive.begin(), alive.end(), [&](size_t a, size_t b) { return score[a] < score[b]; });
        if (alive.size() > round.keep)
            alive.resize(round.keep);
    }
    if (std::find(alive.begin(), alive.end(), size_t(0)) == alive.end())
        alive.push_back(0);
    std::sort(alive.begin(), alive.end());

    PaletteChoice choice;
    double best = 0;
    for (const size_t s : alive) {
        const double difference = PaletteDifference(mode, methodIndex, sets[s], pictures, exact);
        if (s == 0)
            choice.defaultDifference = difference;
        if (choice.colours.empty() || difference < best) {
            best = difference;
            choice.colours = sets[s];
        }
    }
    choice.difference = best;
    return choice;
}

} // namespace pelorin
