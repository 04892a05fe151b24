// The menu's picture choices: "Best palette for the picture", "Adjust picture…" and "Picture
// shape".
#include "command_line.h"
#include "form1.h"
#include "picture_menu.h"
#include "program_options.h"
#include "testing/form_test_support.h"

#include "convert/tvc_colours.h"
#include "pipeline/tvc_mode.h"
#include "video/mci.h"
#include "video/testing/test_videos.h"
#include "video/video_device.h"

#include <QAction>
#include <QClipboard>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <iomanip>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace pelorin;
using namespace pelorin::window;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

class PictureMenuTest : public ::testing::Test {
protected:
    PictureMenuTest()
    {
        FormEnvironment environment = watch.Environment();
        environment.chooseSaveFile = [this](const QString&) { return saveChoice; };
        form = std::make_unique<Form1>(environment);
        form->Timer1()->stop();
        form->Form_Load();
    }
    ~PictureMenuTest() override
    {
        form.reset();
        MciCommand(15);
    }
    SaveChoice saveChoice;
    FormWatch watch;
    std::unique_ptr<Form1> form;
};

// Runs the command "Copy command line" gives in a fresh folder; the one picture it wrote, or a
// null image (the test failed).
QImage RunCopiedCommand(const QString& command)
{
    QTemporaryDir folder;
    QProcess shell;
    shell.setWorkingDirectory(folder.path());
    shell.start("/bin/sh", { "-c", command });
    EXPECT_TRUE(shell.waitForFinished(60'000));
    EXPECT_EQ(shell.exitCode(), 0) << shell.readAllStandardError().toStdString();
    const QStringList written = QDir(folder.path()).entryList({ "*.png" });
    if (written.size() != 1)
        return {};
    return QImage(folder.filePath(written[0])).convertToFormat(QImage::Format_RGB32);
}

int DifferingPixels(const QImage& picture, const platform::Surface& shown)
{
    if (picture.width() != shown.width || picture.height() != shown.height)
        return -1;
    int differing = 0;
    for (int y = 0; y < shown.height; ++y)
        for (int x = 0; x < shown.width; ++x)
            differing += (picture.pixel(x, y) & 0xFFFFFFu) != (shown.At(x, y) & 0xFFFFFFu);
    return differing;
}

bool RowIsBlack(const platform::Surface& picture, int y)
{
    for (int x = 0; x < picture.width; ++x)
        if ((picture.At(x, y) & 0xFFFFFFu) != 0)
            return false;
    return true;
}

TEST_F(PictureMenuTest, OffAtStartAndOffChangesNothing)
{
    PictureMenu& menu = *form->PictureChoices();
    EXPECT_FALSE(menu.BestPaletteAction()->isChecked());
    EXPECT_TRUE(menu.Adjustments().IsNeutral());
    EXPECT_FALSE(menu.PaletteChoice());
    EXPECT_FALSE(menu.ExactAction()->isChecked());
    EXPECT_EQ(&menu.HostFor(form->Pic1()), &form->Pic1());
}

// "Exact diffusion" converts at once, and the copied command line asks for it and writes the
// very picture shown.
TEST_F(PictureMenuTest, ExactDiffusionShowsAtOnceAndTravelsInTheCopiedCommand)
{
    form->OpenDroppedFile(QCoreApplication::applicationDirPath() + "/tom.avi");
    form->Command2_Click();
    form->Option2(1)->click();
    form->Option1(2)->click();
    form->SetHScroll1Value(60);
    const platform::Surface integer = form->Pic3().Snapshot();
    form->PictureChoices()->ExactAction()->setChecked(true);
    EXPECT_FALSE(form->Pic3().Snapshot() == integer);
    form->MenuAction(MenuItem::CopyCommandLine)->trigger();
    const QString command = QGuiApplication::clipboard()->text();
    EXPECT_THAT(command.toStdString(), HasSubstr("--diffusion exact"));
    EXPECT_EQ(DifferingPixels(RunCopiedCommand(command), form->Pic3().Snapshot()), 0)
        << command.toStdString();
    form->PictureChoices()->ExactAction()->setChecked(false);
    EXPECT_TRUE(form->Pic3().Snapshot() == integer);
}

TEST_F(PictureMenuTest, BestPaletteColoursThePictureAndTheSwatches)
{
    form->Option2(1)->click(); // Graphics 4
    form->Option1(2)->click(); // Floyd
    const platform::Surface own = form->TVC4().Snapshot();
    form->PictureChoices()->BestPaletteAction()->setChecked(true);
    const std::vector<int> chosen = form->Session().ColoursFor(form->HScroll1()->value());
    ASSERT_EQ(chosen.size(), 4u);
    EXPECT_NE(chosen, DefaultColours(TvcModeOf(4))) << "the start picture suits other registers";
    EXPECT_NE(form->TVC4().Snapshot(), own);
    // Every pixel is one of the chosen colours, and the swatches show them.
    const std::vector<PaletteEntry> palette = PaletteOfColours(chosen);
    for (const uint32_t pixel : form->TVC4().Snapshot().pixels) {
        bool found = false;
        for (const PaletteEntry& e : palette)
            found = found || PackEntry(e) == (pixel & 0xFFFFFFu);
        ASSERT_TRUE(found);
    }
    for (int i = 0; i < 4; ++i) {
        const PaletteEntry& e = palette[size_t(i)];
        EXPECT_EQ(
            form->Label2(i)->palette().color(QPalette::Window), QColor(e.Red, e.Green, e.Blue));
        EXPECT_THAT(
            form->Label2(i)->toolTip().toStdString(), HasSubstr("register " + std::to_string(i)));
    }
    // Video memory holds the chosen registers' numbers: saved without complaint.
    QTemporaryDir folder;
    saveChoice = { folder.filePath("shown.vram"), SavedPicture::Vram };
    form->MenuAction(MenuItem::SavePicture)->trigger();
    EXPECT_TRUE(watch.messages.empty());
    EXPECT_EQ(QFileInfo(saveChoice.path).size(), 15360);

    // Off again: the mode's own colours and bytes.
    form->PictureChoices()->BestPaletteAction()->setChecked(false);
    EXPECT_EQ(form->TVC4().Snapshot(), own);
    EXPECT_EQ(form->Label2(2)->palette().color(QPalette::Window), QColor(0, 0, 255));
    EXPECT_TRUE(form->Label2(2)->toolTip().isEmpty());
}

// Every colour in the working pictures of "Graphics 2" and "Graphics 4" is one of the mode's
// swatches: the panel shows the registers each picture was converted with. Empty when so, else
// the first colour that is not.
std::string SwatchesMissing(Form1& form)
{
    const struct {
        platform::PictureBox& working;
        QLabel* (Form1::*swatch)(int) const;
        int count;
        const char* mode;
    } modes[] = { { form.TVC2(), &Form1::Label3, 2, "Graphics 2" },
        { form.TVC4(), &Form1::Label2, 4, "Graphics 4" } };
    for (const auto& mode : modes) {
        std::vector<uint32_t> swatches;
        for (int i = 0; i < mode.count; ++i)
            swatches.push_back(
                (form.*mode.swatch)(i)->palette().color(QPalette::Window).rgb() & 0xFFFFFFu);
        for (const uint32_t pixel : mode.working.Snapshot().pixels)
            if (std::find(swatches.begin(), swatches.end(), pixel & 0xFFFFFFu) == swatches.end()) {
                std::ostringstream text;
                text << mode.mode << ": the picture has #" << std::hex << std::setfill('0')
                     << std::setw(6) << (pixel & 0xFFFFFFu) << ", the swatches";
                for (const uint32_t colour : swatches)
                    text << " #" << std::setw(6) << colour;
                return text.str();
            }
    }
    return {};
}

// Modes, "Best palette for the picture" and opened files in many orders, the first of them the
// one users met: on in "Graphics 4", off in "Graphics 2", back to "Graphics 4".
TEST_F(PictureMenuTest, SwatchesShowTheRegistersOfThePictureInEveryOrder)
{
    QTemporaryDir folder;
    const QString kep = folder.filePath("registers.kep");
    QProcess tool;
    tool.start(QCoreApplication::applicationDirPath() + "/pelorin-convert",
        { "--mode", "4", "--method", "stucki", "--frames", "60", "--palette", "0,15,6,9",
            QCoreApplication::applicationDirPath() + "/tom.avi", kep });
    ASSERT_TRUE(tool.waitForFinished(60'000));
    ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();

    QAction* best = form->PictureChoices()->BestPaletteAction();
    const auto mode
        = [this](int index) { return [this, index] { form->Option2(index)->click(); }; };
    const auto bestPalette = [best](bool on) { return [best, on] { best->setChecked(on); }; };
    const auto open = [this](const QString& path) {
        return [this, path] {
            form->OpenDroppedFile(path);
            form->Command2_Click();
            form->SetHScroll1Value(form->HScroll1()->value() == 30 ? 31 : 30);
        };
    };
    const QString sample = QCoreApplication::applicationDirPath() + "/tom.avi";
    const struct {
        const char* step;
        std::function<void()> action;
    } steps[] = {
        { "Graphics 4", mode(1) },
        { "best on in Graphics 4", bestPalette(true) },
        { "Graphics 2", mode(0) },
        { "best off in Graphics 2", bestPalette(false) },
        { "back to Graphics 4", mode(1) },
        { "redraw", [this] { form->HScroll1_Change(); } },
        { "open a video", open(sample) },
        { "best on in Graphics 4", bestPalette(true) },
        { "Graphics 16", mode(2) },
        { "best off in Graphics 16", bestPalette(false) },
        { "Graphics 2", mode(0) },
        { "Graphics 4", mode(1) },
        { "best on", bestPalette(true) },
        { "open a .kep of Graphics 4 with its own registers", open(kep) },
        { "best off", bestPalette(false) },
        { "Graphics 2", mode(0) },
        { "best on in Graphics 2", bestPalette(true) },
        { "open the video again", open(sample) },
        { "best off", bestPalette(false) },
        { "Graphics 4", mode(1) },
        { "open the .kep again", open(kep) },
        { "Graphics 2", mode(0) },
        { "open the video while in Graphics 2", open(sample) },
        { "Graphics 4", mode(1) },
    };
    // Both working pictures converted once, so that neither holds the box's own back colour.
    form->Option1(2)->click(); // Floyd
    form->Option2(0)->click();
    std::string done;
    for (const auto& step : steps) {
        step.action();
        done += std::string(done.empty() ? "" : ", ") + step.step;
        const std::string missing = SwatchesMissing(*form);
        ASSERT_TRUE(missing.empty()) << "after " << done << ": " << missing;
    }
    EXPECT_TRUE(watch.messages.empty());
}

TEST_F(PictureMenuTest, SlidersActAtOnceAndResetGivesTheSameBytes)
{
    form->Option2(1)->click();
    form->Option1(2)->click();
    const platform::Surface plain = form->TVC4().Snapshot();
    QDialog* dialog = form->PictureChoices()->AdjustDialog();
    const QList<QSlider*> sliders = dialog->findChildren<QSlider*>();
    ASSERT_EQ(sliders.size(), 4);
    sliders[0]->setValue(60); // brightness
    EXPECT_EQ(form->PictureChoices()->Adjustments().brightness, 60);
    EXPECT_NE(form->TVC4().Snapshot(), plain);
    form->PictureChoices()->SetAdjustments({});
    EXPECT_EQ(form->TVC4().Snapshot(), plain);
    EXPECT_EQ(sliders[0]->value(), 0);
}

// The copied command line carries the choices and writes exactly the picture the window shows.
TEST_F(PictureMenuTest, TheCopiedCommandLineCarriesTheChoices)
{
    form->OpenDroppedFile(QCoreApplication::applicationDirPath() + "/tom.avi");
    form->Command2_Click();
    form->Option2(1)->click();
    form->Option1(2)->click();
    form->PictureChoices()->BestPaletteAction()->setChecked(true);
    form->PictureChoices()->SetAdjustments({ 20, 10, 30, 1.5 });
    form->SetHScroll1Value(120);
    form->MenuAction(MenuItem::CopyCommandLine)->trigger();
    const QString command = QGuiApplication::clipboard()->text();
    EXPECT_THAT(command.toStdString(),
        HasSubstr("--brightness 20 --contrast 10 --saturation 30 --gamma 1.5 --frames 120 "));
    // The registers the window chose for the video, by name: the tool need not choose again.
    EXPECT_THAT(command.toStdString(), Not(HasSubstr("--palette best")));
    QTemporaryDir folder;
    QProcess shell;
    shell.setWorkingDirectory(folder.path());
    shell.start("/bin/sh", { "-c", command });
    ASSERT_TRUE(shell.waitForFinished(60'000));
    ASSERT_EQ(shell.exitCode(), 0) << shell.readAllStandardError().toStdString();
    const QStringList written = QDir(folder.path()).entryList({ "*.png" });
    ASSERT_EQ(written.size(), 1);
    // The name carries the choices, so another variant of the frame gets a name of its own.
    EXPECT_THAT(written[0].toStdString(),
        HasSubstr("-best-brightness20-contrast10-saturation30-gamma1.5.png"));
    const QImage picture
        = QImage(folder.filePath(written[0])).convertToFormat(QImage::Format_RGB32);
    const platform::Surface shown = form->Pic3().Snapshot();
    ASSERT_EQ(picture.width(), shown.width);
    int differing = 0;
    for (int y = 0; y < shown.height; ++y)
        for (int x = 0; x < shown.width; ++x)
            differing += (picture.pixel(x, y) & 0xFFFFFFu) != (shown.At(x, y) & 0xFFFFFFu);
    EXPECT_EQ(differing, 0) << command.toStdString();
}

// ---- the picture's shape ----

TEST_F(PictureMenuTest, StretchAtStartAndBackAtStretchTheBytesAreTodays)
{
    PictureMenu& menu = *form->PictureChoices();
    EXPECT_EQ(menu.Shape(), video::Aspect::Stretch);
    EXPECT_TRUE(menu.ShapeAction(video::Aspect::Stretch)->isChecked());
    form->OpenDroppedFile(QCoreApplication::applicationDirPath() + "/tom.avi");
    form->Command2_Click();
    form->Option2(1)->click();
    form->Option1(2)->click();
    form->SetHScroll1Value(40);
    const platform::Surface host = form->Pic1().Snapshot();
    const platform::Surface working = form->TVC4().Snapshot();
    EXPECT_EQ(MciOpenVideo("video1")->Window(), (video::WindowRect { 0, 0, 512, 240 }));

    // Filled, tom.avi is cropped at the sides; back at Stretch every byte is as before.
    menu.ShapeAction(video::Aspect::Fill)->trigger();
    menu.ShapeAction(video::Aspect::Stretch)->trigger();
    EXPECT_TRUE(RecipeWordsOfChoices(form->Session().Given()).isEmpty());
    EXPECT_EQ(MciOpenVideo("video1")->Window(), (video::WindowRect { 0, 0, 512, 240 }));
    EXPECT_EQ(form->Pic1().Snapshot(), host);
    EXPECT_EQ(form->TVC4().Snapshot(), working);
}

// Eight frames of 352 × 288 pixels, each 16:11 wide: 16:9 on screen.
std::string WidePixelClip()
{
    return video::test::MadeVideo("shape_wide_pixels.mkv",
        { "-f", "lavfi", "-i", "testsrc2=size=352x288:rate=25", "-vf", "setsar=16/11", "-frames:v",
            "8", "-c:v", "ffv1" });
}

// A 16:9 clip made of pixels 16:11 wide (352 × 288): its pixel shape counts, so fitted to the
// 4:3 screen it takes 3/4 of the height, 180 of the 240 lines, with a bar of 30 lines above and
// below. Whatever the shape, the copied command line writes exactly the picture shown.
TEST_F(PictureMenuTest, FitGivesBarsOfTheRightHeightAndTheToolsPicture)
{
    const std::string clip = WidePixelClip();
    ASSERT_FALSE(clip.empty());
    PictureMenu& menu = *form->PictureChoices();
    form->OpenDroppedFile(QString::fromStdString(clip));
    form->Command2_Click();
    form->Option2(1)->click(); // Graphics 4
    form->Option1(3)->click(); // Treshold: black stays black, nothing spills into the bars
    form->SetHScroll1Value(5);
    menu.ShapeAction(video::Aspect::Fit)->trigger();
    EXPECT_EQ(menu.Shape(), video::Aspect::Fit);

    for (const platform::Surface& picture : { form->Pic1().Snapshot(), form->TVC4().Snapshot() })
        for (int y = 0; y < 240; ++y)
            EXPECT_EQ(RowIsBlack(picture, y), y < 30 || y >= 210)
                << "row " << y << " of a " << picture.width << "-wide picture";

    form->Option1(2)->click(); // Floyd
    for (const video::Aspect aspect : { video::Aspect::Fit, video::Aspect::Fill }) {
        menu.ShapeAction(aspect)->trigger();
        form->MenuAction(MenuItem::CopyCommandLine)->trigger();
        const QString command = QGuiApplication::clipboard()->text();
        const char* word = aspect == video::Aspect::Fit ? "fit" : "fill";
        EXPECT_THAT(
            command.toStdString(), HasSubstr(std::string("--aspect ") + word + " --frames 5 "));
        EXPECT_EQ(DifferingPixels(RunCopiedCommand(command), form->Pic3().Snapshot()), 0)
            << command.toStdString();
    }
    // Filling crops the sides: no bars.
    for (int y = 0; y < 240; ++y)
        ASSERT_FALSE(RowIsBlack(form->Pic1().Snapshot(), y)) << y;

    // Another video opened under Fit is placed too: tom.avi, 512 × 240 of square pixels, is
    // 32:15; in the 4:3 screen it takes 240 · (4/3) / (32/15) = 150 lines, 45 below the top.
    menu.ShapeAction(video::Aspect::Fit)->trigger();
    form->OpenDroppedFile(QCoreApplication::applicationDirPath() + "/tom.avi");
    form->Command2_Click();
    form->SetHScroll1Value(3);
    EXPECT_EQ(MciOpenVideo("video1")->Window(), (video::WindowRect { 0, 45, 512, 150 }));
    EXPECT_TRUE(RowIsBlack(form->Pic1().Snapshot(), 44));
    EXPECT_TRUE(RowIsBlack(form->Pic1().Snapshot(), 195));
    EXPECT_TRUE(watch.messages.empty());
}

// Adjustments change the picture, not the bars around it: fitted, rows 0 ... 29 and 210 ... 239
// of the working picture stay black under any method, as pelorin-convert writes them.
TEST_F(PictureMenuTest, AdjustmentsLeaveTheBarsBlack)
{
    const std::string clip = WidePixelClip();
    ASSERT_FALSE(clip.empty());
    PictureMenu& menu = *form->PictureChoices();
    form->OpenDroppedFile(QString::fromStdString(clip));
    form->Command2_Click();
    form->Option2(1)->click(); // Graphics 4
    form->Option1(2)->click(); // Floyd: a grey bar would come out dithered
    form->SetHScroll1Value(5);
    menu.ShapeAction(video::Aspect::Fit)->trigger();
    for (const PictureAdjustments& adjustments :
        { PictureAdjustments { 30, 0, 0, 1.0 }, PictureAdjustments { 0, -40, 0, 1.0 } }) {
        menu.SetAdjustments(adjustments);
        const platform::Surface working = form->TVC4().Snapshot();
        for (const int y : { 0, 29, 210, 239 })
            EXPECT_TRUE(RowIsBlack(working, y))
                << "row " << y << " with brightness " << adjustments.brightness << ", contrast "
                << adjustments.contrast;
    }
    form->MenuAction(MenuItem::CopyCommandLine)->trigger();
    const QString command = QGuiApplication::clipboard()->text();
    EXPECT_THAT(command.toStdString(), HasSubstr("--contrast -40 --aspect fit "));
    EXPECT_EQ(DifferingPixels(RunCopiedCommand(command), form->Pic3().Snapshot()), 0)
        << command.toStdString();
    EXPECT_TRUE(watch.messages.empty());
}

} // namespace

// ---- one conversion session at both doors ----

// A form started as the program starts with `words` on its command line: its options applied,
// its file opened and its frames shown. Null (the test failed) for a line the program refuses.
std::unique_ptr<Form1> StartedWith(FormWatch& watch, const std::vector<std::string>& words)
{
    const ProgramCommandLine line = ParseProgramCommandLine(words);
    EXPECT_EQ(line.action, ProgramCommandLine::Action::Run) << line.error;
    if (line.action != ProgramCommandLine::Action::Run)
        return nullptr;
    auto form = std::make_unique<Form1>(watch.Environment());
    form->Timer1()->stop();
    form->ApplyStartSettings(line.options);
    EXPECT_TRUE(form->Load());
    form->OpenLocalFile(line.options.file);
    if (line.options.frames)
        form->ShowFrames(*line.options.frames);
    return form;
}

// For every kind of input, with the registers chosen for the video, adjustments, a shape and
// steady dithering: the picture the window shows is the one its copied command writes, and a
// window started with that command (less its program and output) shows it again.
TEST_F(PictureMenuTest, EveryInputConvertsAlikeAtBothDoorsAndTheCopiedCommandReopensIt)
{
    QTemporaryDir folder;
    const QString programs = QCoreApplication::applicationDirPath();
    const std::string sample = (programs + "/tom.avi").toStdString();
    const auto made = [&](QStringList args, const QString& name) {
        QProcess tool;
        tool.start(programs + "/pelorin-convert",
            args << QString::fromStdString(sample) << folder.filePath(name));
        EXPECT_TRUE(tool.waitForFinished(60'000));
        EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
        return folder.filePath(name).toStdString();
    };
    const struct {
        std::string path;
        std::string frames;
    } inputs[] = {
        { sample, "3:6" },
        { made({ "--method", "none", "--frames", "30" }, "still.png"), "0" },
        { made({ "--mode", "4", "--method", "stucki", "--frames", "60", "--palette", "0,15,6,9" },
              "own.kep"),
            "0" },
        { made({ "--mode", "4", "--frames", "10:19", "--steady" }, "clip.cas"), "2:4" },
    };
    for (const auto& input : inputs) {
        std::vector<std::string> words = { "--mode", "4", "--method", "floyd", "--steady",
            "--palette", "best", "--brightness", "20", "--saturation", "30", "--gamma", "1.5",
            "--aspect", "fit", "--frames", input.frames, input.path };
        std::unique_ptr<Form1> window = StartedWith(watch, words);
        ASSERT_TRUE(window);
        ASSERT_TRUE(window->Session().Plan()) << input.path;
        const QString command = window->CommandLineForCurrentFrame();
        ASSERT_FALSE(command.contains('\'')) << "the test splits the command at blanks";
        const QImage written = RunCopiedCommand(command);
        EXPECT_EQ(DifferingPixels(written, window->Pic3().Snapshot()), 0) << command.toStdString();
        window.reset();

        QStringList copied = command.split(' ');
        words.clear();
        for (qsizetype i = 1; i + 1 < copied.size(); ++i)
            words.push_back(copied[i].toStdString());
        std::unique_ptr<Form1> reopened = StartedWith(watch, words);
        ASSERT_TRUE(reopened);
        EXPECT_EQ(DifferingPixels(written, reopened->Pic3().Snapshot()), 0)
            << command.toStdString();
    }
    EXPECT_TRUE(watch.messages.empty());
}
