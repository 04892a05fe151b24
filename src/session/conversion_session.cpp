#include "conversion_session.h"

#include "convert/tvc_colours.h"
#include "pipeline/tvc_mode.h"

namespace pelorin::session {

ConversionSession::ConversionSession(Recipe recipe)
    : m_recipe(std::move(recipe))
{
    Update();
}

void ConversionSession::SetRecipe(const Recipe& recipe)
{
    const bool same = recipe.SameConversion(m_recipe) && recipe.modeGiven == m_recipe.modeGiven;
    m_recipe = recipe;
    if (!same)
        Update();
}

void ConversionSession::SetInput(const InputFacts& facts)
{
    m_input = facts;
    Update();
}

void ConversionSession::Update()
{
    m_effective = m_recipe;
    if (m_input.tvcMode && !m_recipe.modeGiven)
        m_effective.mode = m_input.tvcMode;
    if (m_input.tvcMode == m_effective.mode && !m_effective.palette
        && m_effective.method != kNoMethod && !m_input.tvcColours.empty()
        && m_input.tvcColours != DefaultColours(*m_effective.mode)) {
        PaletteRequest request;
        request.colours = m_input.tvcColours;
        request.text = RegisterText(m_input.tvcColours);
        m_effective.palette = request;
    }
    if (const Method* method = FindMethod(m_effective.method);
        method && method->family == MethodFamily::ErrorDiffusion)
        m_lineSettings.method = DiffusionMethod(method->member);
    m_lineSettings.linearLight = m_effective.linearLight;
    m_lineSettings.distance = m_effective.distance == Distance::Perceptual
        ? ColourDistance::Perceptual
        : ColourDistance::Rgb;
    m_plan.reset();
    m_fresh = true;
}

bool ConversionSession::NeedsPlan() const { return m_effective.palette && !m_plan; }

void ConversionSession::MakePlan(FrameReader& reader, int64_t first, int64_t last, bool keepSize)
{
    m_plan = MakePalettePlan(m_effective, keepSize, reader, first, last);
    m_fresh = true;
}

void ConversionSession::DropPlan()
{
    m_plan.reset();
    m_fresh = true;
}

FrameOptions ConversionSession::OptionsFor(int64_t index, SteadyHistory* history)
{
    FrameOptions options;
    options.frame = index;
    if (m_plan && m_plan->perLine) {
        // Each frame's lines get registers of their own as it converts: no pattern to keep to.
        options.linePalettes = &m_lineSettings;
        if (history)
            history->Forget();
        return options;
    }
    options.exact = ExactSettingsOf(m_effective);
    const PaletteScene* scene = m_plan ? &m_plan->For(index) : nullptr;
    if (scene)
        options.palette = &scene->entries;
    if (!history)
        return options;
    // A plain frame breaks the sequence. (Plain frames may convert on several threads at once,
    // each on a history of its own, so this path keeps to that history.)
    if (!m_effective.steady) {
        history->Forget();
        return options;
    }
    // Another recipe's or another palette's pattern is no pattern to keep to.
    const std::optional<int64_t> sceneFirst
        = scene ? std::optional<int64_t>(scene->first) : std::nullopt;
    if (m_fresh || sceneFirst != m_lastScene)
        history->Forget();
    m_fresh = false;
    m_lastScene = sceneFirst;
    options.steady = history;
    return options;
}

std::vector<int> ConversionSession::ColoursFor(int64_t index) const
{
    return m_plan ? m_plan->For(index).colours : std::vector<int>();
}

} // namespace pelorin::session
