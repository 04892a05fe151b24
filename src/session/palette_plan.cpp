#include "palette_plan.h"

#include "convert/stretch_picture.h"
#include "convert/tvc_colours.h"
#include "pipeline/line_palettes.h"
#include "pipeline/palette_choice.h"

#include <algorithm>
#include <cstdlib>
#include <numeric>
#include <optional>

namespace pelorin::session {

namespace {

    // Frames a choice looks at: one per this many frames of the run or scene, at most
    // kMostSamples. Each costs a seek and a search on it; a run's frames cost a conversion each,
    // so choosing stays a small part of the job.
    constexpr int64_t kFramesPerSample = 120;
    constexpr int64_t kMostSamples = 4;
    // The frames of a scene kept to choose from while it is read: at most this many, and at most
    // kSceneSampleBytes of them (frames of the working size: 128, so a scene of up to five
    // seconds is chosen for exactly as before; 4K frames kept whole: 4).
    constexpr uint64_t kMostKept = 128;

    // A frame reduced to a few blocks of colour: what a cut changes at once and a pan or a
    // moving figure changes little.
    constexpr int kSignatureWidth = 32;
    constexpr int kSignatureHeight = 24;
    // The mean difference (0 ... 255 per channel) between two frames' blocks that counts as a
    // cut; moving pictures of one scene stay well below it.
    constexpr int kCutDifference = 30;

    std::vector<uint8_t> Signature(const platform::Surface& frame)
    {
        std::vector<int> sums(size_t(kSignatureWidth) * kSignatureHeight * 3, 0);
        std::vector<int> counts(size_t(kSignatureWidth) * kSignatureHeight, 0);
        for (int y = 0; y < frame.height; ++y) {
            const size_t by = size_t(y) * kSignatureHeight / size_t(frame.height);
            for (int x = 0; x < frame.width; ++x) {
                const size_t cell
                    = by * kSignatureWidth + size_t(x) * kSignatureWidth / size_t(frame.width);
                const uint32_t c = frame.At(x, y);
                sums[cell * 3] += platform::RedOf(c);
                sums[cell * 3 + 1] += platform::GreenOf(c);
                sums[cell * 3 + 2] += platform::BlueOf(c);
                ++counts[cell];
            }
        }
        std::vector<uint8_t> signature(sums.size());
        for (size_t i = 0; i < sums.size(); ++i)
            signature[i] = uint8_t(counts[i / 3] ? sums[i] / counts[i / 3] : 0);
        return signature;
    }

    bool IsCut(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after)
    {
        int64_t total = 0;
        for (size_t i = 0; i < before.size(); ++i)
            total += std::abs(int(before[i]) - int(after[i]));
        return total > int64_t(kCutDifference) * int64_t(before.size());
    }

    // The unreduced working picture of the frame `source` shows: the smoothed capture every
    // conversion starts from, or with --keep-size the frame itself.
    platform::Surface UnreducedShown(const Recipe& options, bool keepSize, FrameReader& source)
    {
        if (keepSize)
            return source.Picture().Image();
        platform::PictureBox working(options.mode->workingWidth, options.mode->workingHeight);
        StretchPicture(
            working, source.Picture(), options.mode->workingWidth, options.mode->workingHeight, 1);
        return working.Image();
    }

    // The unreduced working picture of frame `index`: the smoothed capture every conversion
    // starts from, or with --keep-size the frame itself.
    platform::Surface Unreduced(
        const Recipe& options, bool keepSize, FrameReader& source, int64_t index)
    {
        source.Show(index);
        return UnreducedShown(options, keepSize, source);
    }
    // Which frames of first ... last a choice looks at: one per kFramesPerSample frames, at most
    // kMostSamples, each in the middle of its share of the range.
    std::vector<int64_t> SampleFrames(int64_t first, int64_t last)
    {
        const int64_t frames = last - first + 1;
        const int64_t samples = std::clamp<int64_t>(
            (frames + kFramesPerSample - 1) / kFramesPerSample, 1, kMostSamples);
        std::vector<int64_t> at;
        for (int64_t k = 0; k < samples; ++k)
            at.push_back(first + (2 * k + 1) * frames / (2 * samples));
        return at;
    }

    // Registers chosen on frames spread evenly over first ... last.
    PaletteScene ChooseFor(
        const Recipe& options, bool keepSize, FrameReader& source, int64_t first, int64_t last)
    {
        std::vector<platform::Surface> pictures;
        for (const int64_t index : SampleFrames(first, last))
            pictures.push_back(Unreduced(options, keepSize, source, index));
        PaletteScene scene;
        scene.first = first;
        scene.colours
            = ChoosePalette(*options.mode, options.method, pictures, ExactSettingsOf(options))
                  .colours;
        return scene;
    }

    // The frames of the scene being read, kept as the choice would look at them without going
    // back for them: every frame while the scene is short, then every second, fourth ... one,
    // so that at most kMostKept, evenly spaced, are held however long the scene runs. A scene of
    // up to kMostKept frames is thus chosen for on exactly the frames a choice over its range
    // looks at; a longer one on the kept frames nearest to them.
    class SceneSampler {
    public:
        SceneSampler(const Recipe& options, bool keepSize, int64_t first, size_t mostKept)
            : m_options(options)
            , m_keepSize(keepSize)
            , m_first(first)
            , m_mostKept(std::max<size_t>(mostKept, 2))
        {
        }
        // Frame `index` (the next of the scene) is the one `source` shows.
        void Offer(FrameReader& source, int64_t index)
        {
            m_last = index;
            if ((index - m_first) % m_step != 0)
                return;
            m_kept.push_back({ index, UnreducedShown(m_options, m_keepSize, source) });
            if (m_kept.size() > m_mostKept) {
                // Every second kept frame goes, and from here on every second one is kept.
                std::vector<Kept> thinned;
                for (size_t i = 0; i < m_kept.size(); i += 2)
                    thinned.push_back(std::move(m_kept[i]));
                m_kept = std::move(thinned);
                m_step *= 2;
            }
        }
        PaletteScene Choose() const
        {
            std::vector<platform::Surface> pictures;
            std::vector<int64_t> taken;
            for (const int64_t wanted : SampleFrames(m_first, m_last)) {
                const Kept* nearest = &m_kept.front();
                for (const Kept& k : m_kept)
                    if (std::llabs(k.index - wanted) < std::llabs(nearest->index - wanted))
                        nearest = &k;
                if (std::find(taken.begin(), taken.end(), nearest->index) != taken.end())
                    continue;
                taken.push_back(nearest->index);
                pictures.push_back(nearest->picture);
            }
            PaletteScene scene;
            scene.first = m_first;
            scene.colours = ChoosePalette(
                *m_options.mode, m_options.method, pictures, ExactSettingsOf(m_options))
                                .colours;
            return scene;
        }

    private:
        struct Kept {
            int64_t index;
            platform::Surface picture;
        };
        const Recipe& m_options;
        bool m_keepSize;
        int64_t m_first;
        int64_t m_last;
        size_t m_mostKept;
        int64_t m_step = 1;
        std::vector<Kept> m_kept;
    };

} // namespace

const PaletteScene& PalettePlan::For(int64_t frame) const
{
    auto it = std::upper_bound(scenes.begin(), scenes.end(), frame,
        [](int64_t f, const PaletteScene& s) { return f < s.first; });
    return it == scenes.begin() ? scenes.front() : *(it - 1);
}

bool PalettePlan::StartsLaterScene(int64_t frame) const
{
    return std::any_of(scenes.begin() + (scenes.empty() ? 0 : 1), scenes.end(),
        [&](const PaletteScene& s) { return s.first == frame; });
}

std::string ColoursText(std::span<const int> colours)
{
    std::string named;
    for (const int c : colours)
        named += (named.empty() ? "" : ", ") + std::to_string(c) + " " + std::string(ColourName(c));
    return "registers " + RegisterText(colours) + " (colours " + named + ")";
}

std::string PalettePlan::Summary(int64_t last) const
{
    const auto line = [](const PaletteScene& s) { return ColoursText(s.colours); };
    if (perLine)
        return "palette: registers chosen for each line, at most "
            + std::to_string(kMaxRegisterChanges) + " changing from one line to the next\n";
    if (scenes.size() == 1)
        return "palette: " + line(scenes.front()) + "\n";
    std::string text = "palette: " + std::to_string(scenes.size()) + " scenes, each its own\n";
    for (size_t i = 0; i < scenes.size(); ++i) {
        const int64_t end = i + 1 < scenes.size() ? scenes[i + 1].first - 1 : last;
        text += "  frames " + std::to_string(scenes[i].first)
            + (end > scenes[i].first ? " ... " + std::to_string(end) : "") + ": " + line(scenes[i])
            + "\n";
    }
    return text;
}

PalettePlan MakePalettePlan(
    const Recipe& options, bool keepSize, FrameReader& source, int64_t first, int64_t last)
{
    PalettePlan plan;
    const PaletteRequest& request = *options.palette;
    if (request.kind == PaletteRequest::Kind::Registers) {
        plan.scenes.push_back({ first, request.colours, {} });
    } else if (request.kind == PaletteRequest::Kind::BestPerLine) {
        // Each frame's lines are chosen as it converts.
        plan.perLine = true;
        std::vector<int> all(kTvcColourCount);
        std::iota(all.begin(), all.end(), 0);
        plan.scenes.push_back({ first, {}, PaletteOfColours(all) });
        return plan;
    } else if (request.kind == PaletteRequest::Kind::Best || first == last) {
        plan.scenes.push_back(ChooseFor(options, keepSize, source, first, last));
    } else {
        // One pass over the frames, in order and without a seek: the cuts, and each scene's
        // choice as it ends, on the frames kept of it.
        const uint64_t frameBytes = 4 * uint64_t(source.Picture().Image().width)
            * uint64_t(source.Picture().Image().height);
        const size_t mostKept = size_t(std::clamp<uint64_t>(
            kSceneSampleBytes / std::max<uint64_t>(frameBytes, 1), 4, kMostKept));
        std::optional<SceneSampler> scene;
        std::vector<uint8_t> before;
        for (int64_t index = first; index <= last; ++index) {
            source.Show(index);
            std::vector<uint8_t> signature = Signature(source.Picture().Image());
            if (scene && IsCut(before, signature)) {
                plan.scenes.push_back(scene->Choose());
                scene.reset();
            }
            if (!scene)
                scene.emplace(options, keepSize, index, mostKept);
            scene->Offer(source, index);
            before = std::move(signature);
        }
        plan.scenes.push_back(scene->Choose());
    }
    for (PaletteScene& scene : plan.scenes)
        scene.entries = PaletteOfColours(scene.colours);
    return plan;
}

} // namespace pelorin::session
