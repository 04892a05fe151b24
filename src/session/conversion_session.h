#pragma once
// A conversion session: the recipe, what the input carries and the rules each frame converts by,
// shared by the window and pelorin-convert, so that frame N of an input becomes the same picture
// at either door. The window's HScroll1_Change and the tool's frame conversion both ask the
// session how to convert frame N; neither decides registers or when steady dithering starts
// afresh on its own.
#include "dither/steady_history.h"
#include "palette_plan.h"
#include "pipeline/frame_pipeline.h"
#include "recipe.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace pelorin::session {

// What an opened input carries that changes how it converts: a TVC file's mode and the colours
// in its palette registers.
struct InputFacts {
    const TvcMode* tvcMode = nullptr; // null: the input is no TVC file
    std::vector<int> tvcColours; // colour numbers 0 ... 15, register order; none in "Graphics 16"
    bool operator==(const InputFacts&) const = default;
};

class ConversionSession {
public:
    explicit ConversionSession(Recipe recipe = {});

    // The recipe as given.
    const Recipe& Given() const { return m_recipe; }
    // The recipe as it applies to the input: a TVC file converts in its own mode unless the
    // recipe names one, and with the registers it carries (when they are not the mode's own and
    // a method reduces to them) unless other registers were asked for.
    const Recipe& Effective() const { return m_effective; }

    // Takes another recipe: registers chosen for the old one are dropped (NeedsPlan) and steady
    // dithering starts afresh. The same conversion written another way changes nothing.
    void SetRecipe(const Recipe& recipe);
    // Takes the facts of a newly opened input; as SetRecipe for what they change.
    void SetInput(const InputFacts& facts);
    const InputFacts& Input() const { return m_input; }

    // Whether the effective recipe asks for registers chosen for the pictures and none are made
    // yet: until MakePlan runs, frames convert with the mode's own palette.
    bool NeedsPlan() const;
    // Makes the registers of frames first ... last: given registers at once, chosen ones by
    // reading frames through `reader` (palette_plan.h). Steady dithering starts afresh.
    void MakePlan(FrameReader& reader, int64_t first, int64_t last, bool keepSize);
    // Drops the plan: frames convert with the mode's own palette until the next MakePlan.
    void DropPlan();
    const PalettePlan* Plan() const { return m_plan ? &*m_plan : nullptr; }

    // How frame `index` converts on `history` (null: no history kept): the registers of its
    // scene, and the history with steady dithering, forgotten first where the frame starts a
    // sequence afresh — a plain frame, another recipe or input since the last frame, another
    // scene's registers. Seeks need nothing here: the history itself continues only onto the
    // frame right after the one it kept.
    FrameOptions OptionsFor(int64_t index, SteadyHistory* history);
    // The colours of the registers frame `index` converts with; empty for the mode's own.
    std::vector<int> ColoursFor(int64_t index) const;

private:
    void Update();

    Recipe m_recipe;
    InputFacts m_input;
    Recipe m_effective;
    std::optional<PalettePlan> m_plan;
    // How frames convert with registers chosen per line: the effective recipe's method and
    // diffusion settings.
    ExactDiffusionSettings m_lineSettings;
    // The scene (its first frame) the last steady frame converted with; empty after a change
    // that starts steady dithering afresh.
    std::optional<int64_t> m_lastScene;
    bool m_fresh = true;
};

} // namespace pelorin::session
