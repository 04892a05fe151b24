#include "played_clip.h"

#include "cli_error.h"
#include "pipeline/frame_pipeline.h"
#include "pipeline/picture_difference.h"
#include "pipeline/vram.h"

#include <cstdio>
#include <stdexcept>

namespace pelorin::cli {

namespace {

    tvc::ClipMemory MemoryOf(const SinkSettings& settings)
    {
        const ClipTiming timing = ClipTimingOf(settings);
        try {
            return tvc::ClipMemoryFor(*settings.mode, timing.rateNumerator, timing.rateDenominator);
        } catch (const std::invalid_argument& e) {
            throw Failure(std::string("cannot make a clip for the TVC: ") + e.what());
        }
    }

} // namespace

PlayedClip::PlayedClip(const SinkSettings& settings, size_t frames)
    : m_settings(settings)
    , m_timing(ClipTimingOf(settings))
    , m_frames(frames)
    , m_working(settings.mode->workingWidth, settings.mode->workingHeight)
{
    if (settings.palettes && settings.palettes->perLine)
        throw Failure("a clip for the TVC holds one palette for all its lines; --palette "
                      "best-per-line makes pictures");
    if (settings.palettes && settings.palettes->scenes.size() > 1)
        throw Failure("a clip for the TVC holds one palette, but "
            + std::to_string(settings.palettes->scenes.size())
            + " were chosen, one per scene; use --palette best or give the registers");
    m_chooser = std::make_unique<tvc::LengthTarget>(
        tvc::ClipLengthSettings(MemoryOf(settings), *settings.mode, Palette(), frames));
}

std::span<const PaletteEntry> PlayedClip::Palette() const
{
    if (m_settings.palettes)
        return m_settings.palettes->scenes.front().entries;
    return m_settings.mode->palette;
}

const platform::Surface& PlayedClip::Play(const platform::Surface& result,
    const platform::Surface& working, const platform::Surface& unreduced, int64_t ordinal,
    double& difference)
{
    const bool workingSize = result.width == working.width && result.height == working.height;
    if (ordinal % m_timing.step != 0) {
        // Between the clip's frames the TVC still shows the frame before.
        difference = BlurredDifference(m_working.Image(), unreduced);
        return workingSize ? m_working.Image() : m_display->Image();
    }
    m_target.clear();
    PackVram(working, *m_settings.mode, m_target, Palette());
    tvc::UnpackVram(m_chooser->Next(m_target), *m_settings.mode, Palette(), m_working.Image());
    m_exactSum += difference;
    difference = BlurredDifference(m_working.Image(), unreduced);
    m_playedSum += difference;
    ++m_played;
    if (workingSize)
        return m_working.Image();
    if (!m_display)
        m_display = std::make_unique<platform::PictureBox>(result.width, result.height);
    EnlargeToDisplay(*m_display, m_working);
    return m_display->Image();
}

std::string PlayedClip::Summary() const
{
    if (m_played == 0)
        return {};
    const double fps = double(m_timing.rateNumerator) / double(m_timing.rateDenominator);
    char text[256];
    std::snprintf(text, sizeof text,
        "clip: %lld frames, %.1f s at %.4g frames/s as asked; faithfulness as it plays %.3f "
        "(blurred), the exact conversion %.3f\n",
        static_cast<long long>(m_played), double(m_played) / fps, fps,
        m_playedSum / double(m_played), m_exactSum / double(m_played));
    return text;
}

size_t PlayedClip::MostFrames(const SinkSettings& settings, const platform::Surface& first)
{
    std::vector<uint8_t> vram;
    PackVram(first, *settings.mode, vram,
        settings.palettes ? std::span<const PaletteEntry>(settings.palettes->scenes.front().entries)
                          : settings.mode->palette);
    const std::vector<uint8_t> empty(vram.size(), 0);
    return tvc::MostFrames(MemoryOf(settings).recordBudgetBytes, tvc::ClipRecordBytes(empty, vram),
        tvc::ClipRecordBytes(vram, vram));
}

} // namespace pelorin::cli
