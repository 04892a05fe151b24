#include "palette_plan.h"

#include "convert/stretch_picture.h"
#include "input_video.h"
#include "pipeline/palette_choice.h"

#include <algorithm>
#include <cstdlib>

namespace pelorin::cli {

namespace {

    // Frames a choice looks at: one per this many frames of the run or scene, at most
    // kMostSamples. Each costs a seek and a search on it; a run's frames cost a conversion each,
    // so choosing stays a small part of the job.
    constexpr int64_t kFramesPerSample = 120;
    constexpr int64_t kMostSamples = 4;

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

    // The unreduced working picture of frame `index`: the smoothed capture every conversion
    // starts from, or with --keep-size the frame itself.
    platform::Surface Unreduced(const Options& options, InputVideo& source, int64_t index)
    {
        source.Show(index);
        if (options.size == Size::KeepSize)
            return source.Picture().Image();
        platform::PictureBox working(options.mode->workingWidth, options.mode->workingHeight);
        StretchPicture(
            working, source.Picture(), options.mode->workingWidth, options.mode->workingHeight, 1);
        return working.Image();
    }

    // Registers chosen on frames spread evenly over first ... last.
    PaletteScene ChooseFor(const Options& options, InputVideo& source, int64_t first, int64_t last)
    {
        const int64_t frames = last - first + 1;
        const int64_t samples = std::clamp<int64_t>(
            (frames + kFramesPerSample - 1) / kFramesPerSample, 1, kMostSamples);
        std::vector<platform::Surface> pictures;
        for (int64_t k = 0; k < samples; ++k)
            pictures.push_back(
                Unreduced(options, source, first + (2 * k + 1) * frames / (2 * samples)));
        PaletteScene scene;
        scene.first = first;
        scene.colours = ChoosePalette(*options.mode, options.method, pictures).colours;
        return scene;
    }

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

PalettePlan MakePalettePlan(const Options& options, InputVideo& source, int64_t first, int64_t last)
{
    PalettePlan plan;
    const PaletteRequest& request = *options.palette;
    if (request.kind == PaletteRequest::Kind::Registers) {
        plan.scenes.push_back({ first, request.colours, {} });
    } else if (request.kind == PaletteRequest::Kind::Best || first == last) {
        plan.scenes.push_back(ChooseFor(options, source, first, last));
    } else {
        // Scene cuts first, in one pass over the frames, then a choice per scene.
        std::vector<int64_t> starts { first };
        std::vector<uint8_t> before;
        for (int64_t index = first; index <= last; ++index) {
            source.Show(index);
            std::vector<uint8_t> signature = Signature(source.Picture().Image());
            if (!before.empty() && IsCut(before, signature))
                starts.push_back(index);
            before = std::move(signature);
        }
        for (size_t i = 0; i < starts.size(); ++i)
            plan.scenes.push_back(ChooseFor(
                options, source, starts[i], i + 1 < starts.size() ? starts[i + 1] - 1 : last));
    }
    for (PaletteScene& scene : plan.scenes)
        scene.entries = PaletteOfColours(scene.colours);
    return plan;
}

} // namespace pelorin::cli
