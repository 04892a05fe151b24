// The TVC's own files in the window: "Save picture…" writes the .kep and .cas pelorin-convert
// writes for the frame shown, and a .kep, a clip .cas and a .vram open as inputs in their own
// mode with their own registers, so that "Treshold" gives back exactly the picture in the file.
#include "form1.h"
#include "picture_menu.h"
#include "testing/form_test_support.h"

#include "dither/method_table.h"
#include "tvc/tvc_files.h"
#include "tvc/tvc_read.h"
#include "video/mci.h"
#include "video/picture_shape.h"
#include "video/video_device.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QPalette>
#include <QProcess>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

using namespace pelorin;
using namespace pelorin::window;
using ::testing::HasSubstr;

namespace {

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString SampleVideo() { return QCoreApplication::applicationDirPath() + "/tom.avi"; }

// Runs pelorin-convert with `arguments`; fails the test when it does not succeed.
void RunTool(const QStringList& arguments)
{
    QProcess run;
    run.start(QCoreApplication::applicationDirPath() + "/pelorin-convert", arguments);
    ASSERT_TRUE(run.waitForFinished(60'000));
    ASSERT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
}

int MethodIndex(std::string_view name) { return FindMethodByName(name)->index; }

int Option2Of(int modeNumber)
{
    for (size_t i = 0; i < TvcModes().size(); ++i)
        if (TvcModes()[i].number == modeNumber)
            return int(i);
    return -1;
}

class FormTvcTest : public ::testing::Test {
protected:
    FormTvcTest()
    {
        FormEnvironment environment = watch.Environment();
        environment.chooseSaveFile = [this](const QString&) { return saveChoice; };
        form = std::make_unique<Form1>(environment);
        form->Timer1()->stop(); // the tests step by hand
        form->Form_Load();
    }
    ~FormTvcTest() override
    {
        form.reset();
        MciCommand(15);
    }

    platform::PictureBox& Working(int modeNumber)
    {
        return modeNumber == 2 ? form->TVC2() : modeNumber == 4 ? form->TVC4() : form->TVC16();
    }

    // Saves the shown picture of the shown mode as `kind` to `path` and returns its bytes.
    QByteArray Save(const QString& path, SavedPicture kind)
    {
        saveChoice = { path, kind };
        form->MenuAction(MenuItem::SavePicture)->trigger();
        return FileBytes(path);
    }

    QTemporaryDir folder;
    SaveChoice saveChoice;
    FormWatch watch;
    std::unique_ptr<Form1> form;
};

// In every mode the saved .kep and .cas are, byte for byte, what the tool writes for the same
// frame, mode and method; a name typed with .kep or .cas wins over the dialog's type.
TEST_F(FormTvcTest, SavedKepAndCasAreTheToolsBytesForTheSameFrame)
{
    form->Command3_Click();
    form->Command2_Click();
    const struct {
        int mode;
        const char* method;
        int frame;
    } cases[] = { { 2, "floyd", 40 }, { 4, "bayer-4x4", 120 }, { 16, "stucki", 300 } };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        form->Option2(Option2Of(c.mode))->click();
        form->Option1(MethodIndex(c.method))->click();
        form->SetHScroll1Value(c.frame);
        for (const char* extension : { "kep", "cas" }) {
            const QString name = QString("g%1.%2").arg(c.mode).arg(extension);
            // The dialog's type says "display picture"; the typed extension decides.
            const QByteArray saved = Save(folder.filePath("saved-" + name), SavedPicture::Display);
            ASSERT_TRUE(watch.messages.empty()) << watch.messages[0].text.toStdString();
            RunTool({ "--mode", QString::number(c.mode), "--method", c.method, "--frames",
                QString::number(c.frame), SampleVideo(), folder.filePath("tool-" + name) });
            const QByteArray written = FileBytes(folder.filePath("tool-" + name));
            EXPECT_FALSE(saved.isEmpty());
            EXPECT_TRUE(saved == written) << name.toStdString() << ": " << saved.size()
                                          << " bytes, the tool's " << written.size();
        }
    }
    // With no method set the picture's colours are not the palette's: nothing is written.
    form->Option1Group()->setExclusive(false);
    for (QAbstractButton* button : form->Option1Group()->buttons())
        button->setChecked(false);
    form->Option1Group()->setExclusive(true);
    EXPECT_TRUE(Save(folder.filePath("none.kep"), SavedPicture::Kep).isEmpty());
    ASSERT_EQ(watch.messages.size(), 1u);
    EXPECT_THAT(watch.messages[0].text.toStdString(), HasSubstr("no method set"));
    EXPECT_FALSE(QFile::exists(folder.filePath("none.kep")));
}

// A .kep the tool wrote opens in its own mode (the window was in another), and converted with
// "Treshold" gives back the file's picture: the working picture is the file's, and saved again
// it is the same file — also with registers that are not the mode's own.
TEST_F(FormTvcTest, OpenedKepConvertsBackToItsOwnPictureWithTreshold)
{
    const struct {
        int mode;
        QStringList palette;
    } cases[] = { { 2, {} }, { 4, {} }, { 16, {} }, { 4, { "--palette", "0,15,6,9" } } };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        const QString kep
            = folder.filePath(QString("in-%1-%2.kep").arg(c.mode).arg(c.palette.size()));
        RunTool(QStringList {
                    "--mode", QString::number(c.mode), "--method", "stucki", "--frames", "60" }
            + c.palette + QStringList { SampleVideo(), kep });
        // Start in another mode than the file's.
        form->Option2(Option2Of(c.mode == 16 ? 2 : 16))->click();
        form->Option1(MethodIndex("treshold"))->click();
        form->OpenDroppedFile(kep);
        ASSERT_TRUE(watch.messages.empty()) << watch.messages[0].text.toStdString();
        EXPECT_EQ(form->SelectedMode(), Option2Of(c.mode));
        form->HScroll1_Change();

        const tvc::TvcFile file = tvc::ReadTvcFile(kep.toStdString(), nullptr);
        EXPECT_TRUE(Working(c.mode).Snapshot() == tvc::WorkingPicture(file, 0));
        const QByteArray again = Save(folder.filePath("again.kep"), SavedPicture::Kep);
        EXPECT_TRUE(again == FileBytes(kep)) << again.size() << " bytes";
        if (!c.palette.isEmpty()) {
            // The palette panel shows the file's registers: dim yellow (6) and bright blue (9).
            const auto swatch
                = [&](int i) { return form->Label2(i)->palette().color(QPalette::Window); };
            EXPECT_EQ(swatch(2),
                QColor(kTvcPalette16[6].Red, kTvcPalette16[6].Green, kTvcPalette16[6].Blue));
            EXPECT_EQ(swatch(3),
                QColor(kTvcPalette16[9].Red, kTvcPalette16[9].Green, kTvcPalette16[9].Blue));
            // A video opened after it gets the mode's own palette back.
            form->Command3_Click();
            form->HScroll1_Change();
            const PaletteEntry& own = TvcModes()[size_t(Option2Of(4))].palette[2];
            EXPECT_EQ(swatch(2), QColor(own.Red, own.Green, own.Blue));
            continue;
        }
        // One picture: like a still, it is converted once and stepping stops.
        EXPECT_EQ(form->Check1()->checkState(), Qt::Checked);
        form->Timer1_Timer();
        EXPECT_EQ(form->Check1()->checkState(), Qt::Unchecked);
    }
}

// A clip .cas opens as its frames at its own rate; each step shows the next frame.
TEST_F(FormTvcTest, ClipCasStepsThroughItsFrames)
{
    const QString clip = folder.filePath("clip.cas");
    RunTool({ "--mode", "4", "--method", "bayer-8x8", "--steady", "--frames", "0:5", SampleVideo(),
        clip });
    const tvc::TvcFile file = tvc::ReadTvcFile(clip.toStdString(), nullptr);
    ASSERT_EQ(file.FrameCount(), 6u);
    ASSERT_NE(file.Frame(0), file.Frame(5)); // the stepping below can tell frames apart

    form->Option1(MethodIndex("treshold"))->click();
    // The file is the screen itself: a chosen picture shape leaves it whole.
    form->PictureChoices()->ShapeAction(video::Aspect::Fit)->trigger();
    form->OpenDroppedFile(clip);
    ASSERT_TRUE(watch.messages.empty()) << watch.messages[0].text.toStdString();
    EXPECT_EQ(form->SelectedMode(), Option2Of(4));
    const video::VideoDevice* player = MciOpenVideo("video1");
    ASSERT_NE(player, nullptr);
    EXPECT_EQ(player->Length(), 6);
    EXPECT_EQ(double(player->RateNumerator()) / player->RateDenominator(),
        double(file.rateNumerator) / double(file.rateDenominator));
    for (int frame = 0; frame < 6; ++frame) {
        SCOPED_TRACE(frame);
        form->SetHScroll1Value(frame);
        form->HScroll1_Change();
        EXPECT_EQ(player->Position(), frame);
        EXPECT_TRUE(form->TVC4().Snapshot() == tvc::WorkingPicture(file, size_t(frame)));
    }
}

// A .vram opens in the mode "TVC MODE" has, its frames one after another.
TEST_F(FormTvcTest, VramOpensInTheShownModeFrameAfterFrame)
{
    const QString vram = folder.filePath("frames.vram");
    RunTool({ "--mode", "16", "--method", "floyd", "--frames", "0:2", SampleVideo(), vram });
    form->Option2(Option2Of(16))->click();
    form->Option1(MethodIndex("treshold"))->click();
    form->OpenDroppedFile(vram);
    ASSERT_TRUE(watch.messages.empty()) << watch.messages[0].text.toStdString();
    const video::VideoDevice* player = MciOpenVideo("video1");
    ASSERT_NE(player, nullptr);
    EXPECT_EQ(player->Length(), 3);
    form->SetHScroll1Value(2);
    form->HScroll1_Change();
    const tvc::TvcFile file
        = tvc::ReadTvcFile(vram.toStdString(), &TvcModes()[size_t(Option2Of(16))]);
    EXPECT_TRUE(form->TVC16().Snapshot() == tvc::WorkingPicture(file, 2));
}

// Another program's .cas is refused with what the reader found in it, and nothing is open.
TEST_F(FormTvcTest, AnotherProgramsCasIsRefusedNamingWhatItHolds)
{
    // "10 END" in a file of the same layout, as another tool would write it.
    std::vector<uint8_t> bytes = tvc::CasBytes({}, {});
    bytes.resize(tvc::kCasHeaderBytes);
    for (const uint8_t b : { 5, 10, 0, 0xEE, 0xFF, 0 })
        bytes.push_back(b);
    bytes[0x82] = 6;
    const QString other = folder.filePath("other.cas");
    {
        QFile out(other);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
    }
    form->OpenDroppedFile(other);
    ASSERT_EQ(watch.messages.size(), 1u);
    const std::string text = watch.messages[0].text.toStdString();
    EXPECT_THAT(text, HasSubstr("Cannot open \"" + other.toStdString() + "\""));
    EXPECT_THAT(text, HasSubstr("Pelorin did not write"));
    EXPECT_THAT(text, HasSubstr("a BASIC program of 1 line"));
    EXPECT_EQ(MciOpenVideo("video1"), nullptr);
    EXPECT_FALSE(form->Ended());
    // A video opens afterwards as always, with the plain message for a file that is no video.
    form->Command3_Click();
    EXPECT_NE(MciOpenVideo("video1"), nullptr);
}

} // namespace
