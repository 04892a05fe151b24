// The window's context menu with the real video device: stepping at the video's frame rate,
// looping at its end, the conversion time shown, the saved picture, the command line that
// reproduces a frame.
#include "form1.h"
#include "testing/form_test_support.h"

#include "video/mci.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>

using namespace pelorin;
using namespace pelorin::window;
using ::testing::HasSubstr;

namespace {

// A status answer without the rest of the answer buffer.
std::string Answer(int operation)
{
    const std::string answer = MciCommand(operation);
    return answer.substr(0, answer.find('\0'));
}

class FormMenuTest : public ::testing::Test {
protected:
    FormMenuTest()
    {
        FormEnvironment environment = watch.Environment();
        environment.clock = [this] { return now; };
        environment.chooseFile = [this] { return chosenFile; };
        environment.chooseSaveFile = [this](const QString& suggested) {
            suggestedSave = suggested;
            return saveChoice;
        };
        form = std::make_unique<Form1>(environment);
        form->Timer1()->stop(); // the tests tick by hand
        form->Form_Load();
    }
    ~FormMenuTest() override
    {
        form.reset();
        MciCommand(15);
    }

    void ClearMethods()
    {
        form->Option1Group()->setExclusive(false);
        for (QAbstractButton* button : form->Option1Group()->buttons())
            button->setChecked(false);
        form->Option1Group()->setExclusive(true);
    }

    void Tick(std::chrono::microseconds later = std::chrono::milliseconds(1))
    {
        now += later;
        form->Timer1_Timer();
    }

    std::chrono::steady_clock::time_point now {};
    QString chosenFile; // what the file dialog answers
    SaveChoice saveChoice; // what the save dialog answers
    QString suggestedSave; // the name the form proposed to it
    FormWatch watch;
    std::unique_ptr<Form1> form;
};

TEST_F(FormMenuTest, EveryItemIsOffAtStartAndARightClickAnywhereOpensTheMenu)
{
    for (MenuItem item :
        { MenuItem::RealTime, MenuItem::Loop, MenuItem::ShowTime, MenuItem::Steady })
        EXPECT_FALSE(form->MenuAction(item)->isChecked()) << int(item);
    EXPECT_FALSE(form->Text2()->isVisibleTo(form.get()));
    form->show();
    for (QWidget* target : { static_cast<QWidget*>(form->Command3()),
             static_cast<QWidget*>(form->HScroll1()), static_cast<QWidget*>(form.get()) }) {
        const QPoint at = target->rect().center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, target->mapToGlobal(at));
        QApplication::sendEvent(target, &event);
        EXPECT_TRUE(form->ContextMenu()->isVisible()) << target->objectName().toStdString();
        form->ContextMenu()->hide();
    }
}

TEST_F(FormMenuTest, OpenVideoOpensTheChosenFileAndStartsStepping)
{
    form->MenuAction(MenuItem::OpenVideo)->trigger(); // cancelled: nothing happens
    EXPECT_EQ(form->Check1()->checkState(), Qt::Unchecked);
    EXPECT_EQ(Answer(12), "");
    chosenFile = QCoreApplication::applicationDirPath() + "/tom.avi";
    form->MenuAction(MenuItem::OpenVideo)->trigger();
    EXPECT_EQ(Answer(12), "stopped");
    EXPECT_EQ(form->Check1()->checkState(), Qt::Checked);
    EXPECT_TRUE(watch.messages.empty());
}

TEST_F(FormMenuTest, ShowConversionTimeShowsText2AtItsPlaceWithItsUnit)
{
    form->MenuAction(MenuItem::ShowTime)->setChecked(true);
    EXPECT_TRUE(form->Text2()->isVisibleTo(form.get()));
    EXPECT_EQ(form->Text2()->geometry(), QRect(240, 504, 81, 19));
    EXPECT_TRUE(form->TimeUnit()->isVisibleTo(form.get()));
    EXPECT_EQ(form->TimeUnit()->text(), "ms");
    EXPECT_GE(form->TimeUnit()->x(), 240 + 81);
    form->MenuAction(MenuItem::ShowTime)->setChecked(false);
    EXPECT_FALSE(form->Text2()->isVisibleTo(form.get()));
    EXPECT_FALSE(form->TimeUnit()->isVisibleTo(form.get()));
}

// The dialogs start in the current folder, then where the user last opened or saved a file; the
// sample of "Play AVI" (in the program's folder) is no place the user went.
TEST_F(FormMenuTest, TheDialogsStartWhereTheUserLastWas)
{
    EXPECT_EQ(form->DialogFolder(), QDir::currentPath());
    form->Command3_Click();
    form->Command2_Click();
    EXPECT_EQ(form->DialogFolder(), QDir::currentPath());
    saveChoice = {};
    form->MenuAction(MenuItem::SavePicture)->trigger(); // cancelled
    EXPECT_TRUE(suggestedSave.startsWith(QDir::currentPath() + "/tom-"))
        << suggestedSave.toStdString();

    QTemporaryDir videos;
    const QString mine = videos.filePath("mine.avi");
    ASSERT_TRUE(QFile::copy(QCoreApplication::applicationDirPath() + "/tom.avi", mine));
    chosenFile = mine;
    form->MenuAction(MenuItem::OpenVideo)->trigger();
    form->Command2_Click();
    EXPECT_EQ(form->DialogFolder(), QDir(videos.path()).absolutePath());
    form->MenuAction(MenuItem::SavePicture)->trigger(); // cancelled
    EXPECT_TRUE(suggestedSave.startsWith(QDir(videos.path()).absolutePath() + "/mine-"))
        << suggestedSave.toStdString();

    QTemporaryDir pictures;
    saveChoice = { pictures.filePath("shown.png"), SavedPicture::Display };
    form->MenuAction(MenuItem::SavePicture)->trigger();
    EXPECT_TRUE(QFile::exists(saveChoice.path));
    EXPECT_EQ(form->DialogFolder(), QDir(pictures.path()).absolutePath());
    EXPECT_TRUE(watch.messages.empty());
}

// tom.avi runs at 25 frames a second: one frame every 40 ms of the clock, whatever the ticks.
TEST_F(FormMenuTest, PacedSteppingAdvancesAtTheVideosFrameRate)
{
    form->MenuAction(MenuItem::RealTime)->setChecked(true);
    form->Command3_Click();
    ASSERT_EQ(form->Check1()->checkState(), Qt::Checked);
    Tick();
    EXPECT_EQ(form->HScroll1()->value(), 1) << "the first frame comes at once";
    for (int ms = 1; ms < 1000; ++ms)
        Tick();
    EXPECT_EQ(form->HScroll1()->value(), 25);
    // Ticks 3 ms apart for two seconds: still 25 frames a second, not one per 42 ms.
    for (int i = 0; i < 666; ++i)
        Tick(std::chrono::milliseconds(3));
    EXPECT_EQ(form->HScroll1()->value(), 75);
    // A conversion that took 300 ms: one frame, then the pace counts on from there.
    Tick(std::chrono::milliseconds(300));
    EXPECT_EQ(form->HScroll1()->value(), 76);
    Tick(std::chrono::milliseconds(39));
    EXPECT_EQ(form->HScroll1()->value(), 76);
    Tick(std::chrono::milliseconds(1));
    EXPECT_EQ(form->HScroll1()->value(), 77);
    // Off again: every tick steps.
    form->MenuAction(MenuItem::RealTime)->setChecked(false);
    Tick();
    Tick();
    EXPECT_EQ(form->HScroll1()->value(), 79);
}

TEST_F(FormMenuTest, LoopingWrapsFromTheVideosLastFrameToFrameOne)
{
    form->MenuAction(MenuItem::Loop)->setChecked(true);
    form->Command3_Click();
    ASSERT_EQ(Answer(11), "500");
    form->SetHScroll1Value(498);
    Tick();
    EXPECT_EQ(form->HScroll1()->value(), 499);
    Tick();
    EXPECT_EQ(form->HScroll1()->value(), 1);
    EXPECT_EQ(Answer(13), "1");
    // Moved past the end by hand: back to the start as well.
    form->SetHScroll1Value(3000);
    Tick();
    EXPECT_EQ(form->HScroll1()->value(), 1);
}

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Each of the three saved files is, byte for byte, what pelorin-convert writes for the frame, the
// mode and the method shown, in every mode.
TEST_F(FormMenuTest, SavedPicturesAreTheToolsBytesForTheSameFrame)
{
    form->Command3_Click();
    form->Command2_Click();
    const struct {
        int option2;
        int method;
        int frame;
    } cases[] = { { 0, 13, 75 }, { 1, 7, 210 }, { 2, 2, 433 } };
    const QString tool = QCoreApplication::applicationDirPath() + "/pelorin-convert";
    QTemporaryDir folder;
    for (const auto& c : cases) {
        form->Option2(c.option2)->click();
        form->Option1(c.method)->click();
        form->SetHScroll1Value(c.frame);
        ASSERT_EQ(Answer(13), std::to_string(c.frame));
        const QString mode = QString::number(TvcModes()[size_t(c.option2)].number);
        const struct {
            SavedPicture kind;
            const char* extension;
            QStringList size;
        } types[] = { { SavedPicture::Display, ".png", {} },
            { SavedPicture::Working, ".png", { "--working" } },
            { SavedPicture::Vram, ".vram", { "--working" } } };
        for (const auto& type : types) {
            const QString name = QString("g%1-%2-%3").arg(mode).arg(c.method).arg(int(type.kind));
            saveChoice = { folder.filePath(name + "-saved" + type.extension), type.kind };
            form->MenuAction(MenuItem::SavePicture)->trigger();
            ASSERT_TRUE(watch.messages.empty()) << watch.messages[0].text.toStdString();
            EXPECT_THAT(suggestedSave.toStdString(),
                HasSubstr("tom-" + std::to_string(c.frame) + "-g" + mode.toStdString() + "-"));

            const QString expected = folder.filePath(name + "-tool" + type.extension);
            QProcess run;
            run.start(tool,
                QStringList { "--mode", mode, "--method", QString::number(c.method), "--frames",
                    QString::number(c.frame) }
                    + type.size
                    + QStringList {
                        QCoreApplication::applicationDirPath() + "/tom.avi", expected });
            ASSERT_TRUE(run.waitForFinished(60'000));
            ASSERT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
            const QByteArray saved = FileBytes(saveChoice.path);
            const QByteArray written = FileBytes(expected);
            EXPECT_FALSE(saved.isEmpty()) << name.toStdString();
            EXPECT_TRUE(saved == written)
                << name.toStdString() << ": " << saved.size() << " bytes, "
                << "the tool's " << written.size();
        }
    }
}

TEST_F(FormMenuTest, SavingThatCannotBeDoneSaysWhyAndLeavesNoFile)
{
    QTemporaryDir folder;
    // No method set: the video memory would hold colours outside the palette.
    ClearMethods();
    saveChoice = { folder.filePath("none.vram"), SavedPicture::Vram };
    form->MenuAction(MenuItem::SavePicture)->trigger();
    ASSERT_EQ(watch.messages.size(), 1u);
    EXPECT_THAT(watch.messages[0].text.toStdString(),
        HasSubstr("Cannot save \"" + saveChoice.path.toStdString() + "\": the TVC video memory"));
    // A folder that is not there.
    saveChoice = { folder.filePath("missing/shown.png"), SavedPicture::Display };
    form->MenuAction(MenuItem::SavePicture)->trigger();
    ASSERT_EQ(watch.messages.size(), 2u);
    EXPECT_THAT(watch.messages[1].text.toStdString(),
        HasSubstr("Cannot save \"" + saveChoice.path.toStdString() + "\": the output folder"));
    EXPECT_TRUE(QDir(folder.path())
                    .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                    .isEmpty());
    EXPECT_FALSE(form->Ended());
}

// The copied command, run in a shell, writes exactly the picture the window shows; a file name
// with a blank, a quote and a "%1" survives the shell and the tool's numbered output names.
TEST_F(FormMenuTest, TheCopiedCommandLineReproducesTheShownPicture)
{
    QTemporaryDir videoFolder;
    const QString video = videoFolder.filePath("it's 100%1.avi");
    ASSERT_TRUE(QFile::copy(QCoreApplication::applicationDirPath() + "/tom.avi", video));
    form->OpenDroppedFile(video);
    form->Command2_Click();
    form->Option2(1)->click(); // Graphics 4
    form->Option1(2)->click(); // Floyd
    form->SetHScroll1Value(120);
    // Past the video's end the seek shows nothing new: the window goes on showing frame 120.
    form->SetHScroll1Value(4000);
    form->MenuAction(MenuItem::CopyCommandLine)->trigger();
    const QString command = QGuiApplication::clipboard()->text();
    EXPECT_THAT(command.toStdString(), HasSubstr("--mode 4 --method floyd --frames 120 "));
    ASSERT_TRUE(watch.messages.empty());

    QTemporaryDir folder;
    QProcess shell;
    shell.setWorkingDirectory(folder.path());
    shell.start("/bin/sh", { "-c", command });
    ASSERT_TRUE(shell.waitForFinished(60'000));
    ASSERT_EQ(shell.exitCode(), 0) << command.toStdString() << "\n"
                                   << shell.readAllStandardError().toStdString();
    const QStringList written = QDir(folder.path()).entryList({ "*.png" });
    ASSERT_EQ(written.size(), 1) << command.toStdString();
    const QImage picture
        = QImage(folder.filePath(written[0])).convertToFormat(QImage::Format_RGB32);
    const platform::Surface shown = form->Pic3().Snapshot();
    ASSERT_EQ(picture.width(), shown.width);
    ASSERT_EQ(picture.height(), shown.height);
    int differing = 0;
    for (int y = 0; y < shown.height; ++y)
        for (int x = 0; x < shown.width; ++x)
            differing += (picture.pixel(x, y) & 0xFFFFFFu) != (shown.At(x, y) & 0xFFFFFFu);
    EXPECT_EQ(differing, 0) << command.toStdString();
}

TEST_F(FormMenuTest, CopyingWithNoVideoOpenSaysSoAndCopiesNothing)
{
    QGuiApplication::clipboard()->setText("before");
    form->MenuAction(MenuItem::CopyCommandLine)->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "before");
    ASSERT_EQ(watch.messages.size(), 1u);
    EXPECT_THAT(watch.messages[0].text.toStdString(), HasSubstr("No video is open"));
}

} // namespace
