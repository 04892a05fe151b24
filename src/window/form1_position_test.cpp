// Knowing where one is and moving through the video: play / pause on the open video, the frame
// line, the scroll bar fitted to the video, stills converted once, files with unusual names.
#include "form1.h"
#include "layout.h"
#include "picture_menu.h"
#include "testing/form_test_support.h"

#include "platform/counter.h"
#include "video/mci.h"
#include "video/testing/mci_recorder.h"
#include "video/testing/test_videos.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using namespace pelorin;
using namespace pelorin::window;
using ::testing::HasSubstr;

namespace {

std::string Answer(int operation)
{
    const std::string answer = MciCommand(operation);
    return answer.substr(0, answer.find('\0'));
}

QString SamplePath() { return QCoreApplication::applicationDirPath() + "/tom.avi"; }

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Counts the frame conversions: each starts the stopwatch once.
class CountingModules : public FormModules {
public:
    int conversions = 0;
    void StopwatchStart() override
    {
        ++conversions;
        FormModules::StopwatchStart();
    }
};

class FormPositionTest : public ::testing::Test {
protected:
    FormPositionTest() { Create({}); }
    ~FormPositionTest() override
    {
        form.reset();
        MciCommand(15);
        platform::ResetCounterSource();
    }

    void Create(const QString& programFolder)
    {
        form.reset();
        FormEnvironment environment = watch.Environment(&modules, programFolder);
        environment.chooseSaveFile = [this](const QString&) { return saveChoice; };
        form = std::make_unique<Form1>(environment);
        form->Timer1()->stop(); // the tests tick by hand
        form->Form_Load();
    }

    void Press(QWidget* target, int key)
    {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &press);
    }

    CountingModules modules;
    SaveChoice saveChoice; // what the save dialog answers
    FormWatch watch;
    std::unique_ptr<Form1> form;
};

// ---- play / pause ----

TEST_F(FormPositionTest, PlayPauseResumesTheOpenVideoNotTheSample)
{
    QTemporaryDir folder;
    const QString mine = folder.filePath("mine.avi");
    ASSERT_TRUE(QFile::copy(SamplePath(), mine));
    form->OpenDroppedFile(mine);
    form->Timer1_Timer();
    form->Timer1_Timer();
    form->Command2_Click();
    ASSERT_EQ(form->Check1()->checkState(), Qt::Unchecked);
    EXPECT_EQ(form->MenuAction(MenuItem::PlayPause)->shortcut(), QKeySequence(Qt::Key_Space));

    MciRecorder sent;
    form->MenuAction(MenuItem::PlayPause)->trigger();
    EXPECT_EQ(form->Check1()->checkState(), Qt::Checked);
    form->Timer1_Timer();
    EXPECT_EQ(Answer(13), "3") << "stepping goes on in the open video";
    for (const std::string& command : sent.Sent())
        EXPECT_FALSE(command.starts_with("open")) << command;
    // Pressed again, it pauses: ticks leave the frame alone.
    form->MenuAction(MenuItem::PlayPause)->trigger();
    EXPECT_EQ(form->Check1()->checkState(), Qt::Unchecked);
    form->Timer1_Timer();
    EXPECT_EQ(form->HScroll1()->value(), 3);
    EXPECT_TRUE(watch.messages.empty());

    // "Play AVI" still opens the sample.
    form->Command3_Click();
    EXPECT_THAT(sent.Sent().back(), HasSubstr("status video1 mode"));
    EXPECT_THAT(
        sent.Sent()[sent.Sent().size() - 4], HasSubstr(ShortPathName(SamplePath().toStdString())));
}

TEST_F(FormPositionTest, PlayPauseWithNothingOpenOpensTheSample)
{
    MciRecorder sent;
    form->MenuAction(MenuItem::PlayPause)->trigger();
    EXPECT_EQ(form->Check1()->checkState(), Qt::Checked);
    EXPECT_EQ(Answer(12), "stopped");
    ASSERT_GE(sent.Sent().size(), 2u);
    EXPECT_THAT(sent.Sent()[1], HasSubstr(ShortPathName(SamplePath().toStdString())));
}

// ---- the frame line ----

TEST_F(FormPositionTest, TheFrameLineGivesFrameLengthTimeAndTheStopwatchsReading)
{
    EXPECT_FALSE(form->FrameLine()->isVisibleTo(form.get()));
    form->Command3_Click();
    form->Command2_Click();
    form->MenuAction(MenuItem::ShowTime)->setChecked(true);
    EXPECT_TRUE(form->FrameLine()->isVisibleTo(form.get()));

    // A counter of microseconds that moves on by 1,249 at each reading: the stopwatch's start
    // and stop readings lie 1.249 ms apart, Text2's whole milliseconds are 1.
    int64_t now = 0;
    platform::SetCounterSource([&] { return now += 1'249; }, 1'000'000);
    // tom.avi: 500 frames at 25 a second. Frame 123 starts at 4.92 s.
    form->SetHScroll1Value(123);
    EXPECT_EQ(form->Text2()->text(), "1");
    EXPECT_EQ(form->FrameLine()->text(), "frame 123 of 500 · 00:04.9 · 1.25 ms");
    // Frame 499 starts at 19.96 s: tenths are cut, the time never runs ahead of the frame.
    form->SetHScroll1Value(499);
    EXPECT_EQ(form->FrameLine()->text(), "frame 499 of 500 · 00:19.9 · 1.25 ms");
    // Past the end the video shows its last frame, and the line says so.
    form->SetHScroll1Value(2000);
    EXPECT_THAT(form->FrameLine()->text().toStdString(), HasSubstr("frame 499 of 500"));
}

TEST_F(FormPositionTest, TheFrameLineCoversNoControlThatShows)
{
    const QRect line = form->FrameLine()->geometry();
    EXPECT_EQ(line.top(), 504);
    EXPECT_GT(line.left(), form->TimeUnit()->geometry().right());
    EXPECT_GE(line.width(), 200);
    for (const ControlLayout& row : FormLayout()) {
        // Hidden controls that nothing shows (Check1, Command1, File1, Text1) may lie under it.
        const bool shows
            = row.visibleAtStart || row.kind == ControlKind::PictureBox || row.control == "Text2";
        if (!shows || !row.container.empty())
            continue;
        EXPECT_FALSE(line.intersects(QRect(row.left, row.top, row.width, row.height)))
            << row.control;
    }
    EXPECT_FALSE(line.intersects(form->TimeUnit()->geometry()));
}

// "Show frame position" shows where the frame is without the time, at the same place.
TEST_F(FormPositionTest, TheFrameLineShowsWithoutTheTime)
{
    EXPECT_FALSE(form->MenuAction(MenuItem::ShowFrame)->isChecked());
    form->Command3_Click();
    form->Command2_Click();
    const QRect line = form->FrameLine()->geometry();
    form->MenuAction(MenuItem::ShowFrame)->setChecked(true);
    EXPECT_TRUE(form->FrameLine()->isVisibleTo(form.get()));
    EXPECT_FALSE(form->Text2()->isVisibleTo(form.get()));
    EXPECT_FALSE(form->TimeUnit()->isVisibleTo(form.get()));
    EXPECT_EQ(form->FrameLine()->geometry(), line);
    form->SetHScroll1Value(123);
    EXPECT_EQ(form->FrameLine()->text(), "frame 123 of 500 · 00:04.9");
    // With the time too, the line is the whole one; without either, it goes.
    form->MenuAction(MenuItem::ShowTime)->setChecked(true);
    EXPECT_THAT(
        form->FrameLine()->text().toStdString(), HasSubstr("frame 123 of 500 · 00:04.9 · "));
    form->MenuAction(MenuItem::ShowTime)->setChecked(false);
    EXPECT_EQ(form->FrameLine()->text(), "frame 123 of 500 · 00:04.9");
    EXPECT_TRUE(form->FrameLine()->isVisibleTo(form.get()));
    form->MenuAction(MenuItem::ShowFrame)->setChecked(false);
    EXPECT_FALSE(form->FrameLine()->isVisibleTo(form.get()));
}

// "," and "." step a frame back and on wherever the focus is, stopping stepping first; the
// scroll bar's ends hold.
TEST_F(FormPositionTest, StepKeysWorkWhereverTheFocusIs)
{
    EXPECT_EQ(form->MenuAction(MenuItem::StepBack)->shortcut(), QKeySequence(Qt::Key_Comma));
    EXPECT_EQ(form->MenuAction(MenuItem::StepOn)->shortcut(), QKeySequence(Qt::Key_Period));
    form->Command3_Click();
    form->SetHScroll1Value(40);
    ASSERT_EQ(form->Check1()->checkState(), Qt::Checked);
    form->show();
    QApplication::setActiveWindow(form.get());
    form->Option1(5)->setFocus();
    QCoreApplication::processEvents();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    // As the keyboard does: the shortcut first, else the focused control takes the key.
    const auto press = [](Qt::Key key) { QTest::keyClick(QApplication::focusWidget(), key); };
    press(Qt::Key_Period);
    EXPECT_EQ(form->HScroll1()->value(), 41);
    EXPECT_EQ(form->Check1()->checkState(), Qt::Unchecked);
    form->Option2(1)->setFocus();
    press(Qt::Key_Comma);
    press(Qt::Key_Comma);
    EXPECT_EQ(form->HScroll1()->value(), 39);
    EXPECT_EQ(Answer(13), "39");
    form->SetHScroll1Value(0);
    form->MenuAction(MenuItem::StepBack)->trigger();
    EXPECT_EQ(form->HScroll1()->value(), 0);
    form->SetHScroll1Value(form->HScroll1()->maximum());
    form->MenuAction(MenuItem::StepOn)->trigger();
    EXPECT_EQ(form->HScroll1()->value(), form->HScroll1()->maximum());
    EXPECT_TRUE(watch.messages.empty());
}

// ---- the adjust dialog ----

// The adjust dialog opens beside the window where there is room, else over the source view;
// never over the converted picture.
TEST(AdjustDialogPlace, BesideTheWindowElseClearOfThePicture)
{
    const QSize dialog(360, 200);
    const struct {
        QRect screen, window;
        QPoint expected;
    } cases[] = {
        // Room on the right.
        { QRect(0, 0, 1920, 1080), QRect(100, 100, 1046, 600), QPoint(1154, 300) },
        // Only on the left.
        { QRect(0, 0, 1920, 1080), QRect(860, 100, 1046, 600), QPoint(492, 300) },
        // Only below: a narrow, tall screen.
        { QRect(0, 0, 1100, 1200), QRect(20, 40, 1046, 600), QPoint(363, 648) },
        // No room around it: over the source view, right of the picture.
        { QRect(0, 0, 1366, 768), QRect(160, 80, 1046, 600), QPoint(688, 110) },
    };
    for (const auto& c : cases) {
        const QRect picture(c.window.left() + 8, c.window.top() + 30, 512, 480);
        const QPoint at = AdjustDialogPlace(c.window, picture, dialog, c.screen);
        EXPECT_EQ(at, c.expected) << c.window.x() << " on " << c.screen.width();
        EXPECT_FALSE(QRect(at, dialog).intersects(picture));
    }
}

TEST_F(FormPositionTest, TheAdjustDialogOpensClearOfThePicture)
{
    form->show();
    form->PictureChoices()->AdjustAction()->trigger();
    QDialog* dialog = form->PictureChoices()->AdjustDialog();
    ASSERT_TRUE(dialog->isVisible());
    const QRect picture(form->mapToGlobal(QPoint(8, 8)), QSize(512, 480));
    EXPECT_FALSE(dialog->frameGeometry().intersects(picture));
    // Moved by the user, it stays where it was put.
    dialog->hide();
    dialog->move(dialog->pos() + QPoint(5, 5));
    const QPoint moved = dialog->pos();
    form->PictureChoices()->AdjustAction()->trigger();
    EXPECT_EQ(dialog->pos(), moved);
    dialog->hide();
}

// ---- the fitted scroll bar ----

TEST_F(FormPositionTest, AFittedBarRunsOverTheVideoAndSteppingEndsAtItsLastFrame)
{
    form->MenuAction(MenuItem::FitScrollBar)->setChecked(true);
    EXPECT_EQ(form->HScroll1()->maximum(), kScrollMaximum) << "no video: the bar as always";
    form->Command3_Click();
    EXPECT_EQ(form->HScroll1()->minimum(), 0);
    EXPECT_EQ(form->HScroll1()->maximum(), 499);
    EXPECT_EQ(form->HScroll1()->pageStep(), 50);

    Press(form->HScroll1(), Qt::Key_End);
    EXPECT_EQ(form->HScroll1()->value(), 499);
    EXPECT_EQ(Answer(13), "499");
    Press(form->HScroll1(), Qt::Key_Home);
    for (int page = 1; page <= 10; ++page)
        Press(form->HScroll1(), Qt::Key_PageDown);
    EXPECT_EQ(form->HScroll1()->value(), 499) << "ten pages cross the video";

    form->SetHScroll1Value(497);
    form->Timer1_Timer();
    form->Timer1_Timer();
    EXPECT_EQ(Answer(13), "499");
    EXPECT_EQ(form->Check1()->checkState(), Qt::Checked);
    const int before = modules.conversions;
    form->Timer1_Timer();
    EXPECT_EQ(form->Check1()->checkState(), Qt::Unchecked) << "stepping ends with the video";
    EXPECT_EQ(form->HScroll1()->value(), 499);
    EXPECT_EQ(modules.conversions, before);

    // Looping goes round instead.
    form->MenuAction(MenuItem::Loop)->setChecked(true);
    form->MenuAction(MenuItem::PlayPause)->trigger(); // at the end: round to frame 0 first
    EXPECT_EQ(form->HScroll1()->value(), 0);
    form->SetHScroll1Value(499);
    form->Timer1_Timer();
    EXPECT_EQ(form->HScroll1()->value(), 1);
    EXPECT_TRUE(watch.messages.empty());
}

TEST_F(FormPositionTest, FittingCutsAPositionPastTheEndAndUnfittingGivesTheBarBack)
{
    form->Command3_Click();
    form->Command2_Click();
    form->SetHScroll1Value(3000);
    form->MenuAction(MenuItem::FitScrollBar)->setChecked(true);
    EXPECT_EQ(form->HScroll1()->maximum(), 499);
    EXPECT_EQ(form->HScroll1()->value(), 499);
    EXPECT_EQ(Answer(13), "499");
    form->MenuAction(MenuItem::FitScrollBar)->setChecked(false);
    EXPECT_EQ(form->HScroll1()->maximum(), kScrollMaximum);
    EXPECT_EQ(form->HScroll1()->pageStep(), kScrollPageStep);
    EXPECT_EQ(form->HScroll1()->value(), 499);
    EXPECT_FALSE(form->Ended());
}

// ---- stills and one-frame inputs ----

TEST_F(FormPositionTest, AStillPictureIsConvertedOnceAndSteppingStops)
{
    const std::string still = video::test::MadeVideo(
        "position_still.png", { "-f", "lavfi", "-i", "testsrc2=size=64x48", "-frames:v", "1" });
    ASSERT_FALSE(still.empty());
    form->SetHScroll1Value(40);
    form->OpenDroppedFile(QString::fromStdString(still));
    ASSERT_EQ(form->Check1()->checkState(), Qt::Checked);
    const int before = modules.conversions;
    for (int tick = 0; tick < 5; ++tick)
        form->Timer1_Timer();
    EXPECT_EQ(modules.conversions, before + 1);
    EXPECT_EQ(form->HScroll1()->value(), 0) << "the thumb shows the one frame there is";
    EXPECT_EQ(form->Check1()->checkState(), Qt::Unchecked);
    EXPECT_TRUE(watch.messages.empty());
}

TEST_F(FormPositionTest, AOneFrameVideoDoesNotRunOnWhenLooping)
{
    const std::string clip = video::test::MadeVideo("position_one_frame.avi",
        { "-f", "lavfi", "-i", "testsrc2=size=64x48:rate=25", "-frames:v", "1", "-c:v", "ffv1" });
    ASSERT_FALSE(clip.empty());
    form->MenuAction(MenuItem::Loop)->setChecked(true);
    form->OpenDroppedFile(QString::fromStdString(clip));
    ASSERT_EQ(Answer(11), "1");
    for (int tick = 0; tick < 5; ++tick)
        form->Timer1_Timer();
    EXPECT_EQ(form->HScroll1()->value(), 0);
    EXPECT_EQ(form->Check1()->checkState(), Qt::Unchecked);
}

// ---- saving ----

// A typed extension that names a known type wins over the dialog's type: never a PNG under
// .vram, never video memory under .png.
TEST_F(FormPositionTest, ATypedExtensionDecidesWhatIsSaved)
{
    QTemporaryDir folder;
    form->Command3_Click();
    form->Command2_Click();
    form->SetHScroll1Value(60);
    const auto save = [&](const QString& name, SavedPicture kind) {
        saveChoice = { folder.filePath(name), kind };
        form->MenuAction(MenuItem::SavePicture)->trigger();
        return FileBytes(saveChoice.path);
    };
    const QByteArray vram = save("chosen.vram", SavedPicture::Vram);
    ASSERT_EQ(vram.size(), 15360);
    const QByteArray display = save("chosen.png", SavedPicture::Display);
    const QByteArray working = save("working.png", SavedPicture::Working);
    ASSERT_TRUE(display.startsWith("\x89PNG"));

    EXPECT_EQ(save("typed.vram", SavedPicture::Display), vram);
    EXPECT_EQ(save("TYPED.VRAM", SavedPicture::Working), vram);
    EXPECT_EQ(save("typed.png", SavedPicture::Vram), display);
    // Both PNG types keep their choice under .png; an unknown extension leaves it to the type.
    EXPECT_EQ(save("kept.png", SavedPicture::Working), working);
    EXPECT_EQ(save("other.img", SavedPicture::Vram), vram);
    EXPECT_TRUE(watch.messages.empty());
}

// ---- the copied command with steady dithering ----

// Runs `command` in a shell in `folder` and returns the one PNG it wrote, as 32-bit pixels.
QImage RunForPicture(const QString& command, const QString& folder)
{
    QProcess shell;
    shell.setWorkingDirectory(folder);
    shell.start("/bin/sh", { "-c", command });
    if (!shell.waitForFinished(120'000) || shell.exitCode() != 0) {
        ADD_FAILURE() << command.toStdString() << "\n"
                      << shell.readAllStandardError().toStdString();
        return {};
    }
    const QStringList written = QDir(folder).entryList({ "*.png" });
    if (written.size() != 1) {
        ADD_FAILURE() << command.toStdString() << " wrote " << written.size() << " PNGs";
        return {};
    }
    return QImage(QDir(folder).filePath(written[0])).convertToFormat(QImage::Format_RGB32);
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

// With steady dithering the shown picture depends on the frames stepped through before it; the
// copied command steps through them too and writes exactly the picture shown, and so does
// "Save picture…".
TEST_F(FormPositionTest, WithSteadyDitheringTheCopiedCommandGivesTheShownPicture)
{
    form->Command3_Click();
    form->Command2_Click();
    form->Option2(1)->click(); // Graphics 4
    form->Option1(2)->click(); // Floyd
    form->MenuAction(MenuItem::Steady)->setChecked(true);
    form->SetHScroll1Value(100);
    form->Check1()->setCheckState(Qt::Checked);
    for (int tick = 0; tick < 12; ++tick)
        form->Timer1_Timer();
    form->Command2_Click();
    ASSERT_EQ(Answer(13), "112");

    form->MenuAction(MenuItem::CopyCommandLine)->trigger();
    const QString command = QGuiApplication::clipboard()->text();
    EXPECT_THAT(command.toStdString(),
        HasSubstr("--mode 4 --method floyd --steady --frames 100:112 --last "));
    ASSERT_TRUE(watch.messages.empty());
    const platform::Surface shown = form->Pic3().Snapshot();
    QTemporaryDir steadyFolder;
    EXPECT_EQ(DifferingPixels(RunForPicture(command, steadyFolder.path()), shown), 0)
        << command.toStdString();

    // The frame by itself, without the steps before it, is another picture: the test above
    // tells the two apart.
    QString plain = command;
    plain.replace("--steady --frames 100:112 --last", "--frames 112");
    QTemporaryDir plainFolder;
    EXPECT_GT(DifferingPixels(RunForPicture(plain, plainFolder.path()), shown), 0);

    // Saved, the display picture is the very bytes the copied command writes.
    QTemporaryDir saveFolder;
    saveChoice = { saveFolder.filePath("shown.png"), SavedPicture::Display };
    form->MenuAction(MenuItem::SavePicture)->trigger();
    const QStringList written = QDir(steadyFolder.path()).entryList({ "*.png" });
    ASSERT_EQ(written.size(), 1);
    const QByteArray fromTool = FileBytes(QDir(steadyFolder.path()).filePath(written[0]));
    EXPECT_FALSE(fromTool.isEmpty());
    EXPECT_TRUE(FileBytes(saveChoice.path) == fromTool);
    EXPECT_TRUE(watch.messages.empty());
}

// Moving the frame by hand breaks the sequence: the command starts at the new frame.
TEST_F(FormPositionTest, AJumpStartsTheCopiedSteadyRangeAfresh)
{
    form->Command3_Click();
    form->Command2_Click();
    form->MenuAction(MenuItem::Steady)->setChecked(true);
    form->SetHScroll1Value(10);
    form->SetHScroll1Value(11);
    form->SetHScroll1Value(40);
    form->SetHScroll1Value(41);
    form->SetHScroll1Value(42);
    form->MenuAction(MenuItem::CopyCommandLine)->trigger();
    EXPECT_THAT(QGuiApplication::clipboard()->text().toStdString(),
        HasSubstr("--steady --frames 40:42 --last "));
    // A new picture shape from frame 42 on: the frames before were another picture, so the run
    // starts again where the shape changed.
    form->PictureChoices()->ShapeAction(video::Aspect::Fit)->trigger();
    form->SetHScroll1Value(43);
    form->MenuAction(MenuItem::CopyCommandLine)->trigger();
    EXPECT_THAT(QGuiApplication::clipboard()->text().toStdString(),
        HasSubstr("--steady --aspect fit --frames 42:43 --last "));
    form->PictureChoices()->ShapeAction(video::Aspect::Stretch)->trigger();
    // Steady off again: the plain command of today.
    form->MenuAction(MenuItem::Steady)->setChecked(false);
    form->SetHScroll1Value(44);
    form->MenuAction(MenuItem::CopyCommandLine)->trigger();
    const std::string plain = QGuiApplication::clipboard()->text().toStdString();
    EXPECT_THAT(plain, HasSubstr("--method atkinson --frames 44 "));
    EXPECT_THAT(plain, ::testing::Not(HasSubstr("--steady")));
}

// ---- names ----

// Names the file system holds but a trimmed or re-encoded string would lose: a trailing blank,
// a trailing tab, a byte that is not UTF-8, a leading blank.
TEST_F(FormPositionTest, FilesWithUnusualNamesOpenByTheirBytes)
{
    QTemporaryDir folder;
    const std::string base = QFile::encodeName(folder.path()).toStdString() + "/";
    for (const std::string& name : { std::string("clip.avi "), std::string("clip.avi\t"),
             std::string("clip\xff\xfe.avi"), std::string(" clip.avi") }) {
        SCOPED_TRACE(name);
        const std::string path = base + name;
        std::filesystem::copy_file(SamplePath().toStdString(), path);
        form->Command2_Click();
        form->OpenLocalFile(path);
        EXPECT_TRUE(watch.messages.empty())
            << (watch.messages.empty() ? "" : watch.messages[0].text.toStdString());
        watch.messages.clear();
        EXPECT_EQ(form->Check1()->checkState(), Qt::Checked);
        EXPECT_EQ(Answer(12), "stopped");
        EXPECT_EQ(Answer(11), "500");
    }
    // Dropped names arrive as text; the blank at the end stays.
    form->Command2_Click();
    form->OpenDroppedFile(folder.filePath("clip.avi "));
    EXPECT_TRUE(watch.messages.empty());
    EXPECT_EQ(form->Check1()->checkState(), Qt::Checked);
}

} // namespace
