// The menu's picture choices: "Best palette for the picture" and "Adjust picture…".
#include "form1.h"
#include "picture_menu.h"
#include "testing/form_test_support.h"

#include "pipeline/palette_choice.h"
#include "video/mci.h"

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
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace pelorin;
using namespace pelorin::window;
using ::testing::HasSubstr;

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

TEST_F(PictureMenuTest, OffAtStartAndOffChangesNothing)
{
    PictureMenu& menu = *form->PictureChoices();
    EXPECT_FALSE(menu.BestPaletteAction()->isChecked());
    EXPECT_TRUE(menu.Adjustments().IsNeutral());
    EXPECT_TRUE(menu.CommandLineOptions().isEmpty());
    EXPECT_EQ(&menu.HostFor(form->Pic1()), &form->Pic1());
}

TEST_F(PictureMenuTest, BestPaletteColoursThePictureAndTheSwatches)
{
    form->Option2(1)->click(); // Graphics 4
    form->Option1(2)->click(); // Floyd
    const platform::Surface own = form->TVC4().Snapshot();
    form->PictureChoices()->BestPaletteAction()->setChecked(true);
    const std::vector<int>& chosen = form->PictureChoices()->ChosenColours(TvcModeOf(4));
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
        HasSubstr("--frames 120 --palette best --brightness 20 --contrast 10 --saturation 30 "
                  "--gamma 1.5 "));
    QTemporaryDir folder;
    QProcess shell;
    shell.setWorkingDirectory(folder.path());
    shell.start("/bin/sh", { "-c", command });
    ASSERT_TRUE(shell.waitForFinished(60'000));
    ASSERT_EQ(shell.exitCode(), 0) << shell.readAllStandardError().toStdString();
    const QStringList written = QDir(folder.path()).entryList({ "*.png" });
    ASSERT_EQ(written.size(), 1);
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

} // namespace
