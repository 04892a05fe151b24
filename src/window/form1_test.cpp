// The handlers and the frame pipeline of Form1, watched through a recording layer over the module
// calls: the order of a frame's steps, the stepping rule of the timer, mode switching, errors at
// the event boundary.
#include "form1.h"
#include "testing/form_test_support.h"
#include "picture_view.h"

#include "convert/nearest_color.h"
#include "convert/palette.h"
#include "convert/stretch_picture.h"
#include "dither/method_table.h"
#include "platform/counter.h"
#include "platform/runtime_error.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSet>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QThread>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

using namespace pelorin;
using namespace pelorin::window;
using platform::PictureBox;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

// Records every module call of the form as a line of text, then makes the real call.
class RecordingModules : public FormModules {
public:
    std::vector<std::string> calls;
    std::map<const PictureBox*, std::string> names;
    // Runs before each call is forwarded; tests use it to look at the form mid-run or to fail.
    std::function<void(const std::string& call)> before;

    std::string MciCommand(int command, const std::string& fileName, PictureBox* parent,
        const MciValue& value, const video::PictureSourceOpener& pictures) override
    {
        const auto* number = std::get_if<int64_t>(&value);
        Record("MciCommand " + std::to_string(command)
            + (number ? " value " + std::to_string(*number) : ""));
        return FormModules::MciCommand(command, fileName, parent, value, pictures);
    }
    void StopwatchStart() override
    {
        Record("StopwatchStart");
        FormModules::StopwatchStart();
    }
    int32_t StopwatchElapsedMs() override
    {
        Record("StopwatchElapsedMs");
        return FormModules::StopwatchElapsedMs();
    }
    void LoadPalette(const TvcMode& mode) override
    {
        Record("SetPalette" + std::to_string(mode.number));
        FormModules::LoadPalette(mode);
    }
    void StretchPicture(
        PictureBox& destination, PictureBox& source, int width, int height, int smoothing) override
    {
        Record("StretchPicture " + names[&destination] + " <- " + names[&source] + " "
            + std::to_string(width) + "x" + std::to_string(height) + " smoothing "
            + std::to_string(smoothing));
        FormModules::StretchPicture(destination, source, width, height, smoothing);
    }
    void RunMethod(int index, PictureBox& picture) override
    {
        Record("RunMethod " + std::to_string(index) + " "
            + std::string(FindMethod(index)->routineName) + " on " + names[&picture]);
        FormModules::RunMethod(index, picture);
    }
    void Refresh(PictureBox& picture) override
    {
        Record("Refresh " + names[&picture]);
        FormModules::Refresh(picture);
    }

private:
    void Record(const std::string& call)
    {
        calls.push_back(call);
        if (before)
            before(call);
    }
};

class FormTest : public ::testing::Test {
protected:
    FormTest()
    {
        form = std::make_unique<Form1>(watch.Environment(&modules));
        modules.names = { { &form->Pic1(), "Pic1" }, { &form->Pic2(), "Pic2" },
            { &form->Pic3(), "Pic3" }, { &form->Pic4(), "Pic4" }, { &form->TVC2(), "TVC2" },
            { &form->TVC4(), "TVC4" }, { &form->TVC16(), "TVC16" } };
        // The tests drive the ticks themselves.
        form->Timer1()->stop();
    }
    ~FormTest() override { platform::ResetCounterSource(); }

    // Runs one conversion and returns only what the recording saw of it.
    std::vector<std::string> RecordOneRun()
    {
        modules.calls.clear();
        form->HScroll1_Change();
        return modules.calls;
    }

    void ClearGroup(QButtonGroup* group)
    {
        group->setExclusive(false);
        for (QAbstractButton* button : group->buttons())
            button->setChecked(false);
        group->setExclusive(true);
    }

    RecordingModules modules;
    FormWatch watch;
    std::unique_ptr<Form1> form;
};

std::vector<uint32_t> PaletteColours()
{
    std::vector<uint32_t> colours;
    for (const PaletteEntry& entry : Palette)
        colours.push_back(PackEntry(entry));
    return colours;
}

// Colours of `image` that are not in `palette`.
size_t CountOutside(const platform::Surface& image, const std::vector<uint32_t>& palette)
{
    size_t outside = 0;
    for (uint32_t pixel : image.pixels)
        outside += std::find(palette.begin(), palette.end(), pixel) == palette.end();
    return outside;
}

// ---- start ----

TEST_F(FormTest, FormLoadPaintsTheSwatchesShowsGraphics16AndConvertsNothing)
{
    form->Form_Load();
    EXPECT_THAT(modules.calls, ElementsAre("SetPalette2", "SetPalette4", "SetPalette16"));
    EXPECT_EQ(Palette.size(), 16u);
    struct Group {
        void (*setPalette)();
        QLabel* (Form1::*swatch)(int) const;
        int count;
    };
    for (const Group& group :
        { Group { SetPalette2, &Form1::Label3, 2 }, Group { SetPalette4, &Form1::Label2, 4 },
            Group { SetPalette16, &Form1::Label1, 16 } }) {
        group.setPalette();
        for (int i = 0; i < group.count; ++i) {
            const PaletteEntry& entry = Palette.at(size_t(i));
            EXPECT_EQ((form.get()->*group.swatch)(i)->palette().color(QPalette::Window),
                QColor(entry.Red, entry.Green, entry.Blue))
                << group.count << " colours, entry " << i;
        }
    }
    EXPECT_TRUE(form->Pic4().Visible());
    EXPECT_TRUE(form->View(form->Pic4())->isVisibleTo(form.get()));
    EXPECT_FALSE(form->Pic2().Visible() || form->Pic3().Visible());
}

TEST_F(FormTest, LoadConvertsTheStartPictureBeforeTheWindowShows)
{
    ASSERT_TRUE(form->Load());
    SetPalette16();
    EXPECT_EQ(CountOutside(form->Pic4().Image(), PaletteColours()), 0u);
    const auto& pixels = form->Pic4().Image().pixels;
    EXPECT_GE(QSet<uint32_t>(pixels.begin(), pixels.end()).size(), 6);
}

// ---- the frame pipeline ----

TEST_F(FormTest, OneRunInGraphics16WithAtkinson)
{
    form->SetHScroll1Value(7);
    EXPECT_THAT(RecordOneRun(),
        ElementsAre("MciCommand 14 value 7", "StopwatchStart", "SetPalette16",
            "StretchPicture TVC16 <- Pic1 128x240 smoothing 1",
            "RunMethod 1 DitherAtkinson on TVC16", "StopwatchElapsedMs",
            "StretchPicture Pic2 <- TVC2 512x480 smoothing 0",
            "StretchPicture Pic3 <- TVC4 512x480 smoothing 0",
            "StretchPicture Pic4 <- TVC16 512x480 smoothing 0", "Refresh Pic2", "Refresh Pic3",
            "Refresh Pic4"));
}

TEST_F(FormTest, OneRunInGraphics4WithBayer4x4)
{
    form->Option2(1)->setChecked(true);
    form->Option1(8)->setChecked(true);
    EXPECT_THAT(RecordOneRun(),
        ElementsAre("MciCommand 14 value 0", "StopwatchStart",
            "StretchPicture TVC4 <- Pic1 256x240 smoothing 1", "SetPalette4",
            "RunMethod 8 DitherBayer4x4 on TVC4", "StopwatchElapsedMs",
            "StretchPicture Pic2 <- TVC2 512x480 smoothing 0",
            "StretchPicture Pic3 <- TVC4 512x480 smoothing 0",
            "StretchPicture Pic4 <- TVC16 512x480 smoothing 0", "Refresh Pic2", "Refresh Pic3",
            "Refresh Pic4"));
    // The method is followed by the mapping onto the palette: done by hand on the same capture,
    // the result is identical, and only the four colours remain.
    PictureBox expected(256, 240);
    StretchPicture(expected, form->Pic1(), 256, 240, 1);
    SetPalette4();
    RunRoutine(ProgramContext(), *FindMethod(8), expected, expected);
    MapToPalette(expected, expected);
    EXPECT_TRUE(form->TVC4().Image() == expected.Image());
    EXPECT_EQ(CountOutside(form->TVC4().Image(), PaletteColours()), 0u);
}

TEST_F(FormTest, EveryMethodButtonRunsItsOwnMethodOnce)
{
    for (int index = 1; index <= kMethodCount; ++index) {
        form->Option1(index)->setChecked(true);
        const std::vector<std::string> calls = RecordOneRun();
        const auto methodRuns = std::count_if(calls.begin(), calls.end(),
            [](const std::string& call) { return call.starts_with("RunMethod"); });
        EXPECT_EQ(methodRuns, 1);
        EXPECT_THAT(calls,
            ::testing::Contains("RunMethod " + std::to_string(index) + " "
                + std::string(FindMethod(index)->routineName) + " on TVC16"));
    }
}

TEST_F(FormTest, WithNoModeSetNothingIsConvertedButTheDisplaysAreRedrawn)
{
    ClearGroup(form->Option2Group());
    const platform::Surface tvc16Before = form->TVC16().Image();
    form->Pic4().Image().Fill(0x123456); // must be overwritten from TVC16
    EXPECT_THAT(RecordOneRun(),
        ElementsAre("MciCommand 14 value 0", "StopwatchStart", "StopwatchElapsedMs",
            "StretchPicture Pic2 <- TVC2 512x480 smoothing 0",
            "StretchPicture Pic3 <- TVC4 512x480 smoothing 0",
            "StretchPicture Pic4 <- TVC16 512x480 smoothing 0", "Refresh Pic2", "Refresh Pic3",
            "Refresh Pic4"));
    EXPECT_TRUE(form->TVC16().Image() == tvc16Before);
    EXPECT_EQ(form->Pic4().Image().At(0, 0), tvc16Before.At(0, 0));
    EXPECT_TRUE(QRegularExpression("^[0-9]+$").match(form->Text2()->text()).hasMatch())
        << form->Text2()->text().toStdString();
}

TEST_F(FormTest, WithNoMethodSetTheWorkingPictureKeepsTheSmoothedCapture)
{
    ClearGroup(form->Option1Group());
    const std::vector<std::string> calls = RecordOneRun();
    EXPECT_THAT(calls, ::testing::Not(::testing::Contains(::testing::StartsWith("RunMethod"))));
    PictureBox expected(128, 240);
    StretchPicture(expected, form->Pic1(), 128, 240, 1);
    EXPECT_TRUE(form->TVC16().Image() == expected.Image());
}

TEST_F(FormTest, TimeBoxGetsTheConversionTimeWithoutTheSeek)
{
    // A counter in microseconds that the seek moves on by half a second and each conversion
    // step by 7.4 ms.
    int64_t now = 1'000'000;
    platform::SetCounterSource([&] { return now; }, 1'000'000);
    modules.before = [&](const std::string& call) {
        if (call.starts_with("MciCommand 14"))
            now += 500'000;
        else if (call.starts_with("StretchPicture TVC") || call.starts_with("RunMethod")
            || call.starts_with("SetPalette"))
            now += 7'400;
    };
    RecordOneRun();
    EXPECT_EQ(form->Text2()->text(), "22"); // 3 × 7.4 ms, rounded
}

// ---- the timer and the scroll bar ----

TEST_F(FormTest, TimerStepsOneFrameWhileThePlayFlagIsSet)
{
    form->Timer1_Timer();
    EXPECT_EQ(form->HScroll1()->value(), 0);
    EXPECT_TRUE(modules.calls.empty());
    form->Check1()->setCheckState(Qt::Checked);
    form->Timer1_Timer();
    EXPECT_EQ(modules.calls.front(), "MciCommand 14 value 1");
    form->Check1()->setCheckState(Qt::PartiallyChecked); // greyed is non-zero too
    form->Timer1_Timer();
    EXPECT_EQ(form->HScroll1()->value(), 2);
    EXPECT_EQ(modules.calls.size(), 24u) << "one whole run per tick";
}

TEST_F(FormTest, TimerWrapsToFrameOneAtTheMaximumAndOnOverflow)
{
    form->SetHScroll1Value(32000);
    form->Check1()->setCheckState(Qt::Checked);
    modules.calls.clear();
    form->Timer1_Timer();
    EXPECT_EQ(form->HScroll1()->value(), 1);
    EXPECT_EQ(modules.calls.front(), "MciCommand 14 value 1");
    // One past 32767 overflows the 16-bit position even where the scroll bar would allow it.
    form->HScroll1()->setMaximum(40000);
    form->SetHScroll1Value(32767);
    form->Timer1_Timer();
    EXPECT_EQ(form->HScroll1()->value(), 1);
    // So does any other error of the step, here one in the run the step starts.
    form->SetHScroll1Value(10);
    modules.before = [&](const std::string& call) {
        if (call == "MciCommand 14 value 11")
            throw platform::RuntimeError(platform::ErrorNumber::DivisionByZero);
    };
    form->Timer1_Timer();
    EXPECT_EQ(form->HScroll1()->value(), 1);
}

TEST_F(FormTest, StopClearsThePlayFlagAndTicksNoLongerConvert)
{
    form->Check1()->setCheckState(Qt::Checked);
    form->Timer1_Timer();
    modules.calls.clear();
    form->Command2_Click();
    EXPECT_EQ(form->Check1()->checkState(), Qt::Unchecked);
    form->Timer1_Timer();
    EXPECT_EQ(form->HScroll1()->value(), 1);
    EXPECT_TRUE(modules.calls.empty()) << "STOP sends nothing and the tick converts nothing";
}

TEST_F(FormTest, ScrollBarRendersEachNewPositionOnceAndRefusesOthers)
{
    form->HScroll1()->triggerAction(QAbstractSlider::SliderPageStepAdd); // as the user does
    EXPECT_EQ(form->HScroll1()->value(), 1000);
    EXPECT_EQ(modules.calls.size(), 12u);
    modules.calls.clear();
    form->SetHScroll1Value(1000); // no change, no run
    EXPECT_THROW(form->SetHScroll1Value(32001), platform::RuntimeError);
    EXPECT_THROW(form->SetHScroll1Value(-1), platform::RuntimeError);
    EXPECT_EQ(form->HScroll1()->value(), 1000);
    EXPECT_TRUE(modules.calls.empty());
}

// The user drags the thumb with the mouse while stepping runs: the ticks show the frames under
// the thumb, and stepping carries on from where it is let go.
TEST_F(FormTest, DraggingTheThumbWhileSteppingShowsItsFramesAndSteppingGoesOnFromThere)
{
    QScrollBar* bar = form->HScroll1();
    form->show();
    form->Check1()->setCheckState(Qt::Checked);
    form->Timer1()->stop();
    form->Timer1_Timer();
    ASSERT_EQ(bar->value(), 1);
    auto mouse = [&](QEvent::Type type, QPoint at) {
        QMouseEvent event(type, QPointF(at), bar->mapToGlobal(QPointF(at)), Qt::LeftButton,
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(bar, &event);
    };
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.orientation = Qt::Horizontal;
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = option.sliderValue = bar->value();
    option.pageStep = bar->pageStep();
    option.singleStep = bar->singleStep();
    const QPoint grip
        = bar->style()
              ->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, bar)
              .center();
    mouse(QEvent::MouseButtonPress, grip);
    ASSERT_TRUE(bar->isSliderDown());
    mouse(QEvent::MouseMove, grip + QPoint(150, 0));
    const int underThumb = bar->sliderPosition();
    ASSERT_GT(underThumb, 1000);
    modules.calls.clear();
    form->Timer1_Timer();
    EXPECT_EQ(bar->value(), underThumb);
    EXPECT_EQ(bar->sliderPosition(), underThumb) << "the tick must not move the thumb";
    EXPECT_EQ(modules.calls.front(), "MciCommand 14 value " + std::to_string(underThumb));
    modules.calls.clear();
    form->Timer1_Timer(); // the thumb has not moved: nothing to show again
    EXPECT_TRUE(modules.calls.empty());

    mouse(QEvent::MouseMove, grip + QPoint(300, 0));
    const int released = bar->sliderPosition();
    ASSERT_GT(released, underThumb);
    mouse(QEvent::MouseButtonRelease, grip + QPoint(300, 0));
    EXPECT_EQ(bar->value(), released);
    EXPECT_EQ(modules.calls.front(), "MciCommand 14 value " + std::to_string(released));
    form->Timer1_Timer();
    EXPECT_EQ(bar->value(), released + 1);

    // A click in the trough while stepping moves a page, and stepping goes on from there.
    bar->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(bar->value(), released + 1 - 1000);
    form->Timer1_Timer();
    EXPECT_EQ(bar->value(), released + 2 - 1000);
}

TEST_F(FormTest, TheScrollBarTakesTheFocusAndMovesByKey)
{
    QScrollBar* bar = form->HScroll1();
    EXPECT_TRUE(bar->focusPolicy() & Qt::TabFocus);
    form->show();
    auto press = [&](Qt::Key key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(bar, &event);
    };
    press(Qt::Key_Right);
    EXPECT_EQ(bar->value(), 1);
    ASSERT_FALSE(modules.calls.empty());
    EXPECT_EQ(modules.calls.front(), "MciCommand 14 value 1");
    press(Qt::Key_PageDown);
    EXPECT_EQ(bar->value(), 1001);
    press(Qt::Key_PageUp);
    press(Qt::Key_Left);
    EXPECT_EQ(bar->value(), 0);
}

TEST_F(FormTest, Timer1SleepsWhileNotSteppingAndWakesWhenSteppingStarts)
{
    Form1 idle(watch.Environment(&modules));
    ASSERT_TRUE(idle.Timer1()->isActive());
    for (int wait = 0; wait < 500 && idle.Timer1()->isActive(); ++wait) {
        QThread::msleep(1);
        QCoreApplication::processEvents();
    }
    EXPECT_FALSE(idle.Timer1()->isActive()) << "a tick with nothing to step puts it to sleep";
    idle.Check1()->setCheckState(Qt::Checked);
    EXPECT_TRUE(idle.Timer1()->isActive());
    EXPECT_EQ(idle.Timer1()->interval(), 1);
}

// ---- choosing a mode, the play button ----

TEST_F(FormTest, ChoosingAModeShowsExactlyItsDisplayBeforeRendering)
{
    form->Form_Load();
    PictureBox* displays[] = { &form->Pic2(), &form->Pic3(), &form->Pic4() };
    for (int mode : { 0, 1, 2, 1, 0 }) {
        SCOPED_TRACE(mode);
        std::vector<bool> visibleAtSeek;
        modules.before = [&](const std::string& call) {
            if (call.starts_with("MciCommand 14"))
                for (auto* display : displays)
                    visibleAtSeek.push_back(display->Visible());
        };
        form->Option2(mode)->click();
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(form->View(*displays[i])->isVisibleTo(form.get()), i == mode);
            EXPECT_EQ(visibleAtSeek.at(size_t(i)), i == mode);
        }
    }
}

TEST_F(FormTest, PlayButtonOnlyStartsContinuousPlayback)
{
    form->Check1()->setCheckState(Qt::Checked);
    form->Command1_Click();
    EXPECT_THAT(modules.calls, ElementsAre("MciCommand 2"));
    EXPECT_EQ(form->Check1()->checkState(), Qt::Checked);
}

// ---- errors at the event boundary ----

TEST_F(FormTest, AnErrorReachingTheEventBoundaryIsNamedAndEndsTheProgram)
{
    modules.before = [](const std::string& call) {
        if (call.starts_with("RunMethod"))
            throw platform::RuntimeError(platform::ErrorNumber::SubscriptOutOfRange);
    };
    form->Option1(5)->click();
    ASSERT_EQ(watch.messages.size(), 1u);
    EXPECT_EQ(watch.messages[0].kind, MessageKind::Error);
    EXPECT_THAT(watch.messages[0].text.toStdString(), HasSubstr("Subscript out of range"));
    EXPECT_EQ(watch.programEnds, 1);
    EXPECT_FALSE(form->Timer1()->isActive());
    // Nothing more runs once the program is ending.
    modules.calls.clear();
    form->Option1(6)->click();
    form->Command1()->click();
    EXPECT_TRUE(modules.calls.empty());
}

} // namespace
