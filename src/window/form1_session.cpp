// The window's conversion session: the recipe its controls set, the registers each frame
// converts with, chosen for the whole video as pelorin-convert chooses them, and the program's
// command line applied to the controls.
#include "form1.h"

#include "layout.h"
#include "picture_menu.h"

#include "dither/steady_history.h"
#include "video/mci.h"
#include "video/video_device.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QRadioButton>
#include <QScrollBar>

#include <algorithm>

namespace pelorin::window {

namespace {

    // The open video as the palette choice reads it: each frame drawn into Pic1 by the device as
    // the window draws it for a conversion (its shape included), with the adjustments made.
    // Without a video, Pic1 as it stands.
    class OpenVideoFrames : public session::FrameReader {
    public:
        OpenVideoFrames(
            FormModules& modules, PictureMenu& menu, platform::PictureBox& pic1, int64_t length)
            : m_modules(modules)
            , m_menu(menu)
            , m_pic1(pic1)
            , m_length(length)
        {
        }
        int64_t FrameCount() const override { return std::max<int64_t>(m_length, 1); }
        void Show(int64_t index) override
        {
            if (m_length > 0)
                m_modules.MciCommand(MciOperation::SeekTo, {}, nullptr, MciValue(index));
            m_host = &m_menu.HostFor(m_pic1);
        }
        platform::PictureBox& Picture() override { return m_host ? *m_host : m_pic1; }

    private:
        FormModules& m_modules;
        PictureMenu& m_menu;
        platform::PictureBox& m_pic1;
        int64_t m_length;
        platform::PictureBox* m_host = nullptr;
    };

} // namespace

session::Recipe Form1::RecipeOfControls(const TvcMode& mode) const
{
    session::Recipe recipe;
    recipe.mode = &mode;
    recipe.modeGiven = true;
    recipe.method = CheckedMethod();
    recipe.steady = MenuAction(MenuItem::Steady)->isChecked();
    recipe.adjustments = m_pictureMenu->Adjustments();
    recipe.aspect = m_pictureMenu->Shape();
    m_pictureMenu->ApplyDiffusion(recipe);
    // Registers are chosen in the modes that have them, for a method that reduces to them; a
    // set given on the command line holds where it fits.
    const std::optional<session::PaletteRequest> palette = m_pictureMenu->PaletteChoice();
    if (palette && recipe.method != kNoMethod && mode.palette.size() < 16
        && (palette->Chosen() || palette->colours.size() == mode.palette.size()))
        recipe.palette = palette;
    return recipe;
}

void Form1::PrepareSession(const TvcMode& mode)
{
    session::InputFacts facts;
    if (!m_videoPath.empty() && m_tvcFile.mode) {
        facts.tvcMode = m_tvcFile.mode;
        facts.tvcColours = m_tvcFile.colours;
    }
    if (!(facts == m_session.Input()))
        m_session.SetInput(facts);
    m_session.SetRecipe(RecipeOfControls(mode));
    if (!m_session.NeedsPlan())
        return;
    // Once for the video, over all of it, as the tool chooses for a whole run: the device's
    // position moves while frames are read, and the frame shown is sought again after.
    const int64_t length = VideoLength();
    OpenVideoFrames frames(m_modules, *m_pictureMenu, *m_pic1, length);
    // A choice per scene reads every frame: the user sees that the window is busy.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        m_session.MakePlan(frames, 0, frames.FrameCount() - 1, false);
    } catch (...) {
        QApplication::restoreOverrideCursor();
        throw;
    }
    QApplication::restoreOverrideCursor();
}

void Form1::ApplyStartSettings(const session::Settings& settings)
{
    MenuAction(MenuItem::RealTime)->setChecked(settings.realTime);
    MenuAction(MenuItem::Loop)->setChecked(settings.loop);
    MenuAction(MenuItem::ShowTime)->setChecked(settings.showTime);
    MenuAction(MenuItem::Steady)->setChecked(settings.steady);
    MenuAction(MenuItem::FitScrollBar)->setChecked(settings.fit);
    m_pictureMenu->ShapeAction(settings.aspect)->setChecked(true);
    m_pictureMenu->SetPaletteChoice(settings.palette);
    m_pictureMenu->SetDiffusionChoice(settings);
    if (!settings.adjustments.IsNeutral())
        m_pictureMenu->SetAdjustments(settings.adjustments);
    if (settings.modeGiven)
        m_option2[size_t(ControlsOfMode(settings.mode->number).option2Index)]->setChecked(true);
    if (settings.method == kNoMethod) {
        // No method: none of the buttons is set.
        m_option1Group->setExclusive(false);
        for (int index = 1; index <= kMethodCount; ++index)
            m_option1[size_t(index)]->setChecked(false);
        m_option1Group->setExclusive(true);
    } else if (settings.methodGiven) {
        m_option1[size_t(settings.method)]->setChecked(true);
    }
}

void Form1::ShowFrames(const session::FrameRange& given)
{
    RunEvent([this, given] { ShowFramesNow(given); });
}

void Form1::ShowFramesNow(const session::FrameRange& given)
{
    const video::VideoDevice* player = m_videoPath.empty() ? nullptr : MciOpenVideo("video1");
    const session::FrameRange range = player
        ? session::ResolveFrameTimes(given, player->RateNumerator(), player->RateDenominator())
        : given;
    const int last
        = int(std::clamp<int64_t>(range.last.value_or(range.first), 0, m_hscroll1->maximum()));
    const int first = int(std::clamp<int64_t>(range.first, 0, last));
    // Stepping waits for the user; from A to B each frame is converted in turn, so steady
    // dithering arrives at B as pelorin-convert --frames A:B --last does.
    m_check1->setCheckState(Qt::Unchecked);
    if (m_hscroll1->value() == first)
        HScroll1_Change();
    else
        SetHScroll1Value(first);
    for (int frame = first + 1; frame <= last; ++frame)
        SetHScroll1Value(frame);
}

} // namespace pelorin::window
