#pragma once
// --tvc-seconds: the frames of a run as the TVC clip of the length asked for plays them. The
// exact conversion's frames are the targets; tvc/length_target.h chooses what each frame of the
// clip sends, and every output shows the frames so chosen, so that what is seen on the PC is
// what the TVC will show.
#include "frame_sink.h"

#include "platform/picture_box.h"
#include "platform/surface.h"
#include "tvc/clip_budget.h"
#include "tvc/length_target.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace pelorin::cli {

class PlayedClip {
public:
    // A clip of `frames` frames, every ClipTimingOf(settings).step-th frame of the run, in
    // settings.mode with the registers of settings.palettes (one set) or the mode's own.
    // Throws Failure for a plan of a palette per scene, which a clip cannot hold, and for a
    // rate the player cannot step at.
    PlayedClip(const SinkSettings& settings, size_t frames);

    // Frame `ordinal` of the run: `result` is the picture the run writes for it (the working
    // picture, or the display picture made from it), `working` the working picture, `unreduced`
    // the picture faithfulness is measured against, and `difference` the exact frame's figure.
    // Returns the picture to write instead, and sets `difference` to its figure. For the frames
    // the clip passes over (between those of its rate) that is the clip's frame before, as the
    // TVC still shows it.
    const platform::Surface& Play(const platform::Surface& result, const platform::Surface& working,
        const platform::Surface& unreduced, int64_t ordinal, double& difference);

    // "clip: 300 frames, 30.0 s at 10 frames/s as asked; faithfulness as it plays 5.120
    // (blurred), the exact conversion 4.600", and a line end.
    std::string Summary() const;

    // The most frames the clip holds when `first` is its first frame's working picture.
    static size_t MostFrames(const SinkSettings& settings, const platform::Surface& first);

private:
    std::span<const PaletteEntry> Palette() const;

    SinkSettings m_settings;
    ClipTiming m_timing;
    size_t m_frames;
    std::unique_ptr<tvc::LengthTarget> m_chooser;
    std::vector<uint8_t> m_target;
    platform::PictureBox m_working;
    std::unique_ptr<platform::PictureBox> m_display;
    double m_playedSum = 0;
    double m_exactSum = 0;
    int64_t m_played = 0;
};

} // namespace pelorin::cli
