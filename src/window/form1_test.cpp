// The handlers and the frame pipeline of Form1, watched through a recording layer over the module
// calls: the order of a frame's steps, the stepping rule of the timer, mode switching, errors at
// the event boundary.
#include "form1.h"
#include "picture_view.h"

#include "convert/nearest_color.h"
#include "convert/palette.h"
#include "convert/stretch_picture.h"
#include "dither/method_table.h"
#include "platform/counter.h"
#include "platform/runtime_error.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSet>
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
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

namespace {

std::string ValueText(const MciValue& value)
{
    if (const auto* number = std::get_if<int64_t>(&value))
        return " value " + std::to_string(*number);
    if (const auto* number = std::get_if<double>(&value))
        return " value " + std::to_string(*number);
    if (const auto* text = std::get_if<std::string>(&value))
        return " value \"" + *text + "\"";
    return {};
}

// Records every module call of the form as a line of text, then makes the real call.
class RecordingModules : public FormModules {
public:
    std::vector<std::string> calls;
    std::map<const PictureBox*, std::string> names;
    // Called before each call is forwarded; tests use it to look at the form mid-run or to fail.
    std::function<void(const std::string& call)> before;

    void Name(Form1& form)
    {
        names = { { &form.Pic1(), "Pic1" }, { &form.Pic2(), "Pic2" }, { &form.Pic3(), "Pic3" },
            { &form.Pic4(), "Pic4" }, { &form.TVC2(), "TVC2" }, { &form.TVC4(), "TVC4" },
            { &form.TVC16(), "TVC16" } };
    }
    std::string NameOf(const PictureBox* box) const
    {
        if (!box)
            return "none";
        auto it = names.find(box);
        return it == names.end() ? "?" : it->second;
    }

    std::string MciCommand(int command, const std::string& fileName, PictureBox* parent,
        const MciValue& value) override
    {
        Record("MciCommand " + std::to_string(command)
            + (fileName.empty() ? "" : " \"" + fileName + "\"")
            + (parent ? " parent " + NameOf(parent) : "") + ValueText(value));
        return FormModules::MciCommand(command, fileName, parent, value);
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
    void SetPalette2() override
    {
        Record("SetPalette2");
        FormModules::SetPalette2();
    }
    void SetPalette4() override
    {
        Record("SetPalette4");
        FormModules::SetPalette4();
    }
    void SetPalette16() override
    {
        Record("SetPalette16");
        FormModules::SetPalette16();
    }
    void StretchPicture(
        PictureBox& destination, PictureBox& source, int width, int height, int smoothing) override
    {
        Record("StretchPicture " + NameOf(&destination) + " <- " + NameOf(&source) + " "
            + std::to_string(width) + "x" + std::to_string(height) + " smoothing "
            + std::to_string(smoothing));
        FormModules::StretchPicture(destination, source, width, height, smoothing);
    }
    void RunMethod(int index, PictureBox& picture) override
    {
        const Method* method = FindMethod(index);
        Record("RunMethod " + std::to_string(index) + " "
            + (method ? std::string(method->routineName) : "?") + " on " + NameOf(&picture));
        FormModules::RunMethod(index, picture);
    }
    void Refresh(PictureBox& picture) override
    {
        Record("Refresh " + NameOf(&picture));
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

struct Message {
    MessageKind kind;
    QString text;
};

class FormTest : public ::testing::Test {
protected:
    FormTest()
    {
        FormEnvironment environment;
        environment.modules = &modules;
        environment.showMessage = [this](MessageKind kind, const QString& text) {
            messages.push_back({ kind, text });
        };
        environment.endProgram = [this] { ++programEnds; };
        environment.programFolder = ProgramFolder();
        form = std::make_unique<Form1>(environment);
        modules.Name(*form);
        // The tests drive the ticks themselves.
        form->Timer1()->stop();
    }
    ~FormTest() override { platform::ResetCounterSource(); }

    virtual QString ProgramFolder() const { return {}; }

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
    std::vector<Message> messages;
    int programEnds = 0;
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

// ---- Form_Load ----

TEST_F(FormTest, FormLoadPaintsTheSwatchesFromTheThreePalettes)
{
    form->Form_Load();
    auto colourOf = [](QLabel* swatch) { return swatch->palette().color(QPalette::Window); };
    struct Group {
        void (*setPalette)();
        QLabel* (Form1::*label)(int) const;
        int count;
    };
    for (const Group& group :
        { Group { SetPalette2, &Form1::Label3, 2 }, Group { SetPalette4, &Form1::Label2, 4 },
            Group { SetPalette16, &Form1::Label1, 16 } }) {
        group.setPalette();
        ASSERT_EQ(Palette.size(), size_t(group.count));
        for (int i = 0; i < group.count; ++i) {
            const PaletteEntry& entry = Palette[size_t(i)];
            EXPECT_EQ(
                colourOf((form.get()->*group.label)(i)), QColor(entry.Red, entry.Green, entry.Blue))
                << group.count << " colours, entry " << i;
        }
    }
    // "Graphics 2" is black and white; Form_Load left the 16-colour table loaded.
    EXPECT_EQ(colourOf(form->Label3(0)), QColor(0, 0, 0));
    EXPECT_EQ(colourOf(form->Label3(1)), QColor(255, 255, 255));
    form->Form_Load();
    EXPECT_EQ(Palette.size(), 16u);
}

TEST_F(FormTest, FormLoadShowsTheGraphics16DisplayAndConvertsNothing)
{
    modules.calls.clear();
    form->Form_Load();
    EXPECT_THAT(modules.calls, ElementsAre("SetPalette2", "SetPalette4", "SetPalette16"));
    EXPECT_TRUE(form->Pic4().Visible());
    EXPECT_TRUE(form->View(form->Pic4())->isVisibleTo(form.get()));
    EXPECT_FALSE(form->Pic2().Visible());
    EXPECT_FALSE(form->Pic3().Visible());
    EXPECT_TRUE(form->Option1(1)->isChecked());
    EXPECT_TRUE(form->Option2(2)->isChecked());
    EXPECT_EQ(form->Check1()->checkState(), Qt::Unchecked);
}

TEST_F(FormTest, LoadConvertsTheStartPictureBeforeTheWindowShows)
{
    ASSERT_TRUE(form->Load());
    const platform::Surface& shown = form->Pic4().Image();
    // Every pixel of the display holds one of the 16 colours, in more than a few of them.
    SetPalette16();
    EXPECT_EQ(CountOutside(shown, PaletteColours()), 0u);
    QSet<uint32_t> used(shown.pixels.begin(), shown.pixels.end());
    EXPECT_GE(used.size(), 6);
    EXPECT_TRUE(messages.empty());
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

    // The run is the method followed by the mapping onto the palette: done by hand on the same
    // capture, the result is identical, and only the four colours remain.
    PictureBox expected(256, 240);
    StretchPicture(expected, form->Pic1(), 256, 240, 1);
    SetPalette4();
    FindMethod(8)->routine(expected, expected);
    MapToPalette(expected, expected);
    EXPECT_TRUE(form->TVC4().Image() == expected.Image());
    EXPECT_EQ(CountOutside(form->TVC4().Image(), PaletteColours()), 0u);
    // And the display shows each TVC pixel as a 2 × 2 block.
    for (int y = 0; y < 480; y += 37)
        for (int x = 0; x < 512; x += 29)
            ASSERT_EQ(form->Pic3().Image().At(x, y), expected.Image().At(x / 2, y / 2))
                << x << "," << y;
}

TEST_F(FormTest, GraphicsTwoCapturesAtFullWidthAndLoadsItsPaletteAfterTheCopy)
{
    form->Option2(0)->setChecked(true);
    form->Option1(2)->setChecked(true);
    const std::vector<std::string> calls = RecordOneRun();
    ASSERT_GE(calls.size(), 5u);
    EXPECT_THAT(std::vector(calls.begin() + 2, calls.begin() + 5),
        ElementsAre("StretchPicture TVC2 <- Pic1 512x240 smoothing 1", "SetPalette2",
            "RunMethod 2 DitherFloyd on TVC2"));
    SetPalette2();
    EXPECT_EQ(CountOutside(form->TVC2().Image(), PaletteColours()), 0u);
}

TEST_F(FormTest, EveryMethodButtonRunsItsOwnMethod)
{
    for (int index = 1; index <= kMethodCount; ++index) {
        form->Option1(index)->setChecked(true);
        const std::vector<std::string> calls = RecordOneRun();
        const std::string expected = "RunMethod " + std::to_string(index) + " "
            + std::string(FindMethod(index)->routineName) + " on TVC16";
        EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                      [](const std::string& c) { return c.starts_with("RunMethod"); }),
            1);
        EXPECT_THAT(calls, ::testing::Contains(expected));
        EXPECT_EQ(CountOutside(form->TVC16().Image(), PaletteColours()), 0u) << expected;
    }
}

TEST_F(FormTest, WithNoModeSetNothingIsConvertedButTheDisplaysAreRedrawn)
{
    ClearGroup(form->Option2Group());
    ASSERT_EQ(form->SelectedMode(), -1);
    const platform::Surface tvc16Before = form->TVC16().Image();
    // Something in the display that the run must overwrite from the working picture.
    form->Pic4().Image().Fill(0x123456);
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
    EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                  [](const std::string& c) { return c.starts_with("RunMethod"); }),
        0);
    PictureBox expected(128, 240);
    StretchPicture(expected, form->Pic1(), 128, 240, 1);
    EXPECT_TRUE(form->TVC16().Image() == expected.Image());
    // Unreduced: far more colours than the palette has.
    QSet<uint32_t> used(form->TVC16().Image().pixels.begin(), form->TVC16().Image().pixels.end());
    EXPECT_GT(used.size(), 16);
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
    // Three steps: 22.2 ms, shown rounded as a plain number.
    EXPECT_EQ(form->Text2()->text(), "22");
}

TEST_F(FormTest, AnErrorInTheRunStopsItThere)
{
    modules.before = [](const std::string& call) {
        if (call.starts_with("RunMethod"))
            throw platform::RuntimeError(platform::ErrorNumber::Overflow);
    };
    form->Text2()->setText("unchanged");
    EXPECT_THROW(RecordOneRun(), platform::RuntimeError);
    EXPECT_EQ(modules.calls.back(), "RunMethod 1 DitherAtkinson on TVC16");
    EXPECT_EQ(form->Text2()->text(), "unchanged");
}

// ---- the timer ----

TEST_F(FormTest, TimerStepsOneFrameWhileThePlayFlagIsSet)
{
    form->Timer1_Timer();
    EXPECT_EQ(form->HScroll1()->value(), 0);
    EXPECT_TRUE(modules.calls.empty());

    form->Check1()->setCheckState(Qt::Checked);
    form->Timer1_Timer();
    form->Timer1_Timer();
    EXPECT_EQ(form->HScroll1()->value(), 2);
    EXPECT_THAT(modules.calls, ::testing::Contains("MciCommand 14 value 1"));
    EXPECT_EQ(modules.calls[modules.calls.size() - 12], "MciCommand 14 value 2");

    // A greyed flag is non-zero too.
    form->Check1()->setCheckState(Qt::PartiallyChecked);
    form->Timer1_Timer();
    EXPECT_EQ(form->HScroll1()->value(), 3);
}

TEST_F(FormTest, TimerWrapsFromTheScrollBarsMaximumToFrameOne)
{
    form->SetHScroll1Value(32000);
    form->Check1()->setCheckState(Qt::Checked);
    modules.calls.clear();
    form->Timer1_Timer();
    EXPECT_EQ(form->HScroll1()->value(), 1);
    EXPECT_EQ(modules.calls.front(), "MciCommand 14 value 1");
    form->Timer1_Timer();
    EXPECT_EQ(form->HScroll1()->value(), 2);
}

TEST_F(FormTest, TimerWrapsToFrameOneWhenThePositionOverflows)
{
    form->HScroll1()->setMaximum(40000);
    form->SetHScroll1Value(32767);
    form->Check1()->setCheckState(Qt::Checked);
    form->Timer1_Timer();
    EXPECT_EQ(form->HScroll1()->value(), 1);
}

TEST_F(FormTest, TimerRestartsAtFrameOneWhenTheRunFails)
{
    form->SetHScroll1Value(10);
    form->Check1()->setCheckState(Qt::Checked);
    bool failed = false;
    modules.before = [&](const std::string& call) {
        if (call == "MciCommand 14 value 11" && !failed) {
            failed = true;
            throw platform::RuntimeError(platform::ErrorNumber::DivisionByZero);
        }
    };
    form->Timer1_Timer();
    EXPECT_TRUE(failed);
    EXPECT_EQ(form->HScroll1()->value(), 1);
}

TEST_F(FormTest, StopClearsThePlayFlagAndTicksNoLongerConvert)
{
    form->Check1()->setCheckState(Qt::Checked);
    form->Timer1_Timer();
    ASSERT_EQ(form->HScroll1()->value(), 1);
    modules.calls.clear();
    form->Command2_Click();
    EXPECT_EQ(form->Check1()->checkState(), Qt::Unchecked);
    form->Timer1_Timer();
    form->Timer1_Timer();
    EXPECT_EQ(form->HScroll1()->value(), 1);
    EXPECT_TRUE(modules.calls.empty()) << "STOP sends nothing and the ticks convert nothing";
}

TEST_F(FormTest, ScrollBarWritesOutsideItsRangeFailAndChangeNothing)
{
    form->SetHScroll1Value(5);
    modules.calls.clear();
    EXPECT_THROW(form->SetHScroll1Value(32001), platform::RuntimeError);
    EXPECT_THROW(form->SetHScroll1Value(-1), platform::RuntimeError);
    EXPECT_EQ(form->HScroll1()->value(), 5);
    // Writing the same value again is no change.
    form->SetHScroll1Value(5);
    EXPECT_TRUE(modules.calls.empty());
}

TEST_F(FormTest, MovingTheScrollBarByHandRendersThatFrameOnce)
{
    form->HScroll1()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(form->HScroll1()->value(), 1000);
    EXPECT_EQ(
        std::count(modules.calls.begin(), modules.calls.end(), "MciCommand 14 value 1000"), 1);
    EXPECT_EQ(modules.calls.size(), 12u);
}

// ---- choosing a mode or a method ----

TEST_F(FormTest, ChoosingAModeShowsExactlyItsDisplayBeforeRendering)
{
    form->Form_Load();
    platform::PictureBox* displays[] = { &form->Pic2(), &form->Pic3(), &form->Pic4() };
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
            EXPECT_EQ(displays[i]->Visible(), i == mode);
            EXPECT_EQ(form->View(*displays[i])->isVisibleTo(form.get()), i == mode);
            EXPECT_EQ(visibleAtSeek.at(size_t(i)), i == mode);
        }
    }
}

TEST_F(FormTest, ChoosingAMethodRendersTheCurrentFrameAgain)
{
    form->SetHScroll1Value(3);
    modules.calls.clear();
    form->Option1(11)->click();
    EXPECT_EQ(modules.calls.front(), "MciCommand 14 value 3");
    EXPECT_THAT(modules.calls, ::testing::Contains("RunMethod 11 DitherSierra on TVC16"));
}

// ---- the transport ----

TEST_F(FormTest, PlayButtonOnlyStartsContinuousPlayback)
{
    form->Check1()->setCheckState(Qt::Checked);
    form->Command1_Click();
    EXPECT_THAT(modules.calls, ElementsAre("MciCommand 2"));
    EXPECT_EQ(form->Check1()->checkState(), Qt::Checked);
}

TEST_F(FormTest, ClosingTheWindowStopsAndClosesTheVideo)
{
    form->show();
    modules.calls.clear();
    EXPECT_TRUE(form->close());
    EXPECT_THAT(modules.calls, ElementsAre("MciCommand 5", "MciCommand 15"));
}

// ---- errors at the event boundary ----

TEST_F(FormTest, AnErrorReachingTheEventBoundaryIsNamedAndEndsTheProgram)
{
    modules.before = [](const std::string& call) {
        if (call.starts_with("RunMethod"))
            throw platform::RuntimeError(platform::ErrorNumber::SubscriptOutOfRange);
    };
    form->Option1(5)->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].kind, MessageKind::Error);
    EXPECT_THAT(messages[0].text.toStdString(), HasSubstr("Subscript out of range"));
    EXPECT_EQ(programEnds, 1);
    EXPECT_TRUE(form->Ended());
    EXPECT_FALSE(form->Timer1()->isActive());
    // Nothing more runs once the program is ending.
    modules.calls.clear();
    form->Option1(6)->click();
    form->Command1()->click();
    EXPECT_TRUE(modules.calls.empty());
    EXPECT_EQ(messages.size(), 1u);
}

TEST_F(FormTest, LoadReportsAFailingStart)
{
    modules.before = [](const std::string& call) {
        if (call == "SetPalette4")
            throw platform::RuntimeError(platform::ErrorNumber::OutOfMemory);
    };
    EXPECT_FALSE(form->Load());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_THAT(messages[0].text.toStdString(), HasSubstr("Out of memory"));
    EXPECT_EQ(programEnds, 1);
}

} // namespace
