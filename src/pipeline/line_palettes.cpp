#include "line_palettes.h"

#include "convert/tvc_colours.h"
#include "palette_choice.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <stdexcept>
#include <string>

namespace pelorin {

namespace {

    struct Candidate {
        std::vector<PaletteEntry> entries;
        std::vector<int> numbers; // the entries' colour numbers
        unsigned colours = 0; // bit c for colour c
        std::vector<float> working; // the entries in the diffusion's space, 3 floats each
        std::vector<uint32_t> mixtures; // the mixtures of its colours: indices into Mixtures
    };

    // The first round judges a set by how near the mixtures of its colours come to the line's
    // colours, a stretch of the line at a time: a set that cannot mix a stretch's colour leaves
    // it wrong however the dither runs. The line is cut into this many stretches.
    constexpr int kStretches = 16;
    // Mixtures of this many pixels: quarters of four colours, eighths of two.
    constexpr int kMixturePixels = 8;
    // The sets the second round dithers.
    constexpr size_t kFinalists = 8;

    // Every mixture any candidate can show, once: sets share most of theirs.
    struct Mixtures {
        std::vector<float> colours; // 3 floats each
        std::map<uint64_t, uint32_t> index; // by the pixels each colour has, 4 bits a colour

        uint32_t Add(const std::vector<int>& share, const Candidate& c)
        {
            uint64_t key = 0;
            for (size_t i = 0; i < share.size(); ++i)
                key += uint64_t(share[i]) << (4 * c.numbers[i]);
            const auto [it, added] = index.try_emplace(key, uint32_t(colours.size() / 3));
            if (added) {
                int pixels = 0;
                for (const int n : share)
                    pixels += n;
                float m[3] = { 0, 0, 0 };
                for (size_t i = 0; i < share.size(); ++i)
                    for (size_t k = 0; k < 3; ++k)
                        m[k] += float(share[i]) * c.working[i * 3 + k];
                for (const float v : m)
                    colours.push_back(v / float(pixels));
            }
            return it->second;
        }
    };

    std::vector<Candidate> CandidatesOf(
        const TvcMode& mode, const ExactDiffusion& diffusion, Mixtures& mixtures)
    {
        const int pixels = mode.palette.size() == 2 ? kMixturePixels : kMixturePixels / 2;
        std::vector<Candidate> candidates;
        for (const std::vector<int>& set : CandidateSets(mode)) {
            Candidate c;
            c.entries = PaletteOfColours(set);
            c.numbers = set;
            c.working.resize(set.size() * 3);
            for (size_t i = 0; i < set.size(); ++i) {
                c.colours |= 1u << set[i];
                diffusion.WorkingColour(c.entries[i], &c.working[i * 3]);
            }
            // Every way of sharing the pixels among the colours.
            std::vector<int> share(set.size(), 0);
            const auto walk = [&](auto&& self, size_t colour, int left) -> void {
                if (colour + 1 == share.size()) {
                    share[colour] = left;
                    c.mixtures.push_back(mixtures.Add(share, c));
                    return;
                }
                for (int n = 0; n <= left; ++n) {
                    share[colour] = n;
                    self(self, colour + 1, left - n);
                }
            };
            walk(walk, 0, pixels);
            candidates.push_back(std::move(c));
        }
        return candidates;
    }

    // For every mixture, its squared distance to the mean of each stretch of the line.
    void StretchDistances(const Mixtures& mixtures, const std::vector<float>& line, int width,
        std::vector<float>& distances)
    {
        std::array<float, kStretches * 3> means {};
        for (int b = 0; b < kStretches; ++b) {
            const int from = b * width / kStretches, to = (b + 1) * width / kStretches;
            for (int x = from; x < to; ++x)
                for (size_t k = 0; k < 3; ++k)
                    means[size_t(b) * 3 + k] += line[size_t(x) * 3 + k];
            for (size_t k = 0; k < 3; ++k)
                means[size_t(b) * 3 + k] /= float(std::max(1, to - from));
        }
        const size_t count = mixtures.colours.size() / 3;
        distances.resize(count * kStretches);
        for (size_t p = 0; p < count; ++p) {
            const float* q = &mixtures.colours[p * 3];
            for (size_t b = 0; b < kStretches; ++b) {
                const float d0 = means[b * 3] - q[0], d1 = means[b * 3 + 1] - q[1],
                            d2 = means[b * 3 + 2] - q[2];
                distances[p * kStretches + b] = d0 * d0 + d1 * d1 + d2 * d2;
            }
        }
    }

    // The first round's score: for each stretch the nearest mixture's distance, summed.
    float ReachCost(const Candidate& c, const std::vector<float>& distances)
    {
        std::array<float, kStretches> nearest;
        nearest.fill(std::numeric_limits<float>::infinity());
        for (const uint32_t p : c.mixtures) {
            const float* d = &distances[size_t(p) * kStretches];
            for (size_t b = 0; b < kStretches; ++b)
                nearest[b] = d[b] < nearest[b] ? d[b] : nearest[b]; // one vector instruction
        }
        float total = 0;
        for (const float n : nearest)
            total += n;
        return total;
    }

    // Each pixel the mean of itself and its neighbours along the line (the ends repeated), as
    // the faithfulness figure's blur does across the picture.
    void BlurAlong(const std::vector<float>& colours, int width, float* blurred)
    {
        for (int x = 0; x < width; ++x) {
            const size_t l = size_t(std::max(0, x - 1)), r = size_t(std::min(width - 1, x + 1));
            for (size_t k = 0; k < 3; ++k)
                blurred[size_t(x) * 3 + k]
                    = (colours[l * 3 + k] + colours[size_t(x) * 3 + k] + colours[r * 3 + k])
                    * (1.0f / 3.0f);
        }
    }

    unsigned ColoursOf(const LineColours& registers, int count)
    {
        unsigned mask = 0;
        for (int r = 0; r < count; ++r)
            mask |= 1u << registers[size_t(r)];
        return mask;
    }

    LineColours StartingColours(const TvcMode& mode)
    {
        LineColours start {};
        const std::vector<int> own = DefaultColours(mode);
        std::copy(own.begin(), own.end(), start.begin());
        return start;
    }

} // namespace

LineColours NextLineColours(const LineColours& before, unsigned used, int registers)
{
    LineColours next = before;
    unsigned missing = used & ~ColoursOf(before, registers);
    int r = 0;
    while (missing != 0) {
        const int colour = std::countr_zero(missing);
        missing &= missing - 1;
        while (r < registers && (used >> next[size_t(r)] & 1u))
            ++r;
        if (r == registers)
            throw std::invalid_argument("a line uses more colours than there are registers");
        next[size_t(r++)] = colour;
    }
    return next;
}

std::vector<LineColours> LineRegisterColours(const platform::Surface& picture, const TvcMode& mode)
{
    const int registers = int(mode.palette.size());
    std::vector<LineColours> lines;
    LineColours current = StartingColours(mode);
    for (int y = 0; y < picture.height; ++y) {
        unsigned used = 0;
        const uint32_t* row = picture.Row(y);
        uint32_t last = ~0u;
        for (int x = 0; x < picture.width; ++x) {
            const uint32_t c = row[x] & 0x00FFFFFFu;
            if (c == last)
                continue;
            last = c;
            PaletteEntry e;
            e.Red = uint8_t(c >> 16);
            e.Green = uint8_t(c >> 8);
            e.Blue = uint8_t(c);
            const std::optional<int> colour = ColourOfEntry(e);
            if (!colour) {
                char text[96];
                std::snprintf(text, sizeof text,
                    "pixel (%d, %d) is #%06X, none of the sixteen colours", x, y, unsigned(c));
                throw std::invalid_argument(text);
            }
            used |= 1u << *colour;
        }
        if (std::popcount(used) > registers)
            throw std::invalid_argument("line " + std::to_string(y) + " shows "
                + std::to_string(std::popcount(used)) + " colours, but " + mode.QuotedCaption()
                + " has " + std::to_string(registers) + " registers");
        current = NextLineColours(current, used, registers);
        lines.push_back(current);
    }
    return lines;
}

void ConvertWithLinePalettes(
    const TvcMode& mode, const ExactDiffusionSettings& settings, platform::Surface& picture)
{
    const int registers = int(mode.palette.size());
    if (registers > 4)
        throw std::invalid_argument(mode.QuotedCaption() + " has no palette registers to choose");
    const int width = picture.width, height = picture.height;
    ExactDiffusion diffusion(settings, width);
    Mixtures mixtures;
    const std::vector<Candidate> candidates = CandidatesOf(mode, diffusion, mixtures);

    // Each line of the picture and of the result, blurred along the line, in the diffusion's
    // space: the second round's score is the faithfulness figure's own, the 3 × 3 blur of the
    // result against that of the picture, on the lines a choice completes.
    const size_t n = size_t(width) * 3;
    std::vector<float> source(n * size_t(height)), result(source.size());
    std::vector<float> line(n), target(n), distances;
    std::vector<uint8_t> indices(static_cast<size_t>(width)), trial(indices.size());
    std::vector<std::pair<float, const Candidate*>> ranked;
    ranked.reserve(candidates.size());
    const auto blurredRow = [&](std::vector<float>& rows, int y) {
        return &rows[size_t(std::clamp(y, 0, height - 1)) * n];
    };
    // A candidate's line as the result would show it, blurred along the line, into `out`.
    const auto show = [&](const Candidate& c, const std::vector<uint8_t>& chosen, float* out) {
        for (int x = 0; x < width; ++x) {
            const float* w = &c.working[size_t(chosen[size_t(x)]) * 3];
            std::copy(w, w + 3, line.begin() + 3 * x);
        }
        BlurAlong(line, width, out);
    };
    std::vector<float> shown(n);

    LineColours current = StartingColours(mode);
    for (int y = 0; y < height; ++y) {
        uint32_t* row = picture.Row(y);
        for (int x = 0; x < width; ++x) {
            const uint32_t v = row[x];
            diffusion.WorkingColour(
                PaletteEntry { uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), 0 },
                &line[size_t(x) * 3]);
        }
        BlurAlong(line, width, blurredRow(source, y));

        // First round: every set the bound allows, by the mixtures it can show of what the line
        // should show with the error the lines above pushed into it. Line 0's registers are
        // written before the picture starts, all at once if need be.
        diffusion.Received(row, target.data());
        StretchDistances(mixtures, target, width, distances);
        const unsigned held = ColoursOf(current, registers);
        ranked.clear();
        for (const Candidate& c : candidates)
            if (y == 0 || std::popcount(c.colours & ~held) <= kMaxRegisterChanges)
                ranked.emplace_back(ReachCost(c, distances), &c);
        const size_t finalists = std::min(kFinalists, ranked.size());
        std::partial_sort(ranked.begin(), ranked.begin() + std::ptrdiff_t(finalists), ranked.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });

        // Second round: the finalists dithered as the line would be. A choice completes the
        // blurred window of the line above (whose lower neighbour it is) and half of its own,
        // taking the line below to be like this one.
        const float *o2 = blurredRow(result, y - 2), *o1 = blurredRow(result, y - 1);
        const float *p2 = blurredRow(source, y - 2), *p1 = blurredRow(source, y - 1),
                    *p0 = blurredRow(source, y);
        const Candidate* best = nullptr;
        double bestCost = std::numeric_limits<double>::infinity();
        for (size_t k = 0; k < finalists; ++k) {
            const Candidate& c = *ranked[k].second;
            diffusion.TrialRow(row, c.entries, trial.data());
            show(c, trial, shown.data());
            double cost = 0;
            for (size_t i = 0; i < n; ++i) {
                // Line 0 has no line above to complete; its own upper neighbour is itself.
                if (y > 0)
                    cost += std::fabs((o2[i] + o1[i] + shown[i]) - (p2[i] + p1[i] + p0[i]))
                        + std::fabs((o1[i] + 2 * shown[i]) - (p1[i] + 2 * p0[i]));
                else
                    cost += std::fabs(shown[i] - p0[i]);
            }
            if (cost < bestCost) {
                bestCost = cost;
                best = &c;
            }
        }

        diffusion.Row(row, best->entries, indices.data());
        show(*best, indices, blurredRow(result, y));
        // The registers follow the colours the line really shows, as LineRegisterColours
        // finds them again from the picture.
        unsigned used = 0;
        for (int x = 0; x < width; ++x) {
            const uint8_t i = indices[size_t(x)];
            row[x] = PackEntry(best->entries[i]);
            used |= 1u << best->numbers[i];
        }
        current = NextLineColours(current, used, registers);
    }
}

} // namespace pelorin
