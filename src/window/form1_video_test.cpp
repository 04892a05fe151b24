// Form1 with the real video device: "Play AVI" on the sample video next to the executable, the
// MCI strings the handlers send, a missing or unplayable file, dropping a file on the window.
#include "form1.h"
#include "testing/form_test_support.h"

#include "convert/palette.h"
#include "convert/working_bitmap.h"
#include "dither/method_table.h"
#include "video/mci.h"
#include "video/testing/mci_recorder.h"
#include "video/testing/test_videos.h"
#include "video/testing/user_media.h"
#include "video/video_device.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QListWidget>
#include <QMimeData>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

using namespace pelorin;
using namespace pelorin::window;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

// The sample is made at build time next to the test executable, which is where the program
// finds it beside itself.
QString SamplePath() { return QCoreApplication::applicationDirPath() + "/tom.avi"; }

// A file named .avi in `folder` that holds no video.
QString NotAVideo(const QTemporaryDir& folder)
{
    const QString path = folder.filePath("notes.avi");
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write("RIFF, but nothing more");
    return path;
}

class FormVideoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QFile::exists(SamplePath())) << SamplePath().toStdString();
        Create({});
    }
    void TearDown() override
    {
        form.reset();
        // Leave no device open for the next test.
        MciCommand(15);
    }

    void Create(const QString& programFolder)
    {
        form.reset();
        form = std::make_unique<Form1>(watch.Environment(nullptr, programFolder));
        form->Timer1()->stop(); // the tests tick by hand
        form->Form_Load();
    }

    FormWatch watch;
    std::unique_ptr<Form1> form;
};

std::vector<uint32_t> PaletteColours(void (*setPalette)())
{
    setPalette();
    std::vector<uint32_t> colours;
    for (const PaletteEntry& entry : Palette)
        colours.push_back(PackEntry(entry));
    return colours;
}

bool OnlyPaletteColours(const platform::Surface& image, const std::vector<uint32_t>& palette)
{
    return std::all_of(image.pixels.begin(), image.pixels.end(), [&](uint32_t pixel) {
        return std::find(palette.begin(), palette.end(), pixel) != palette.end();
    });
}

TEST_F(FormVideoTest, PlayAviOpensTheSampleIntoPic1AndAsksWhetherItOpened)
{
    MciRecorder sent;
    form->Command3_Click();
    const std::string path = ShortPathName(SamplePath().toStdString());
    ASSERT_FALSE(path.empty());
    EXPECT_THAT(sent.Sent(),
        ElementsAre("close all",
            "open " + path + " Type avivideo Alias video1 parent "
                + std::to_string(form->Pic1().hWnd()) + " Style 1073741824",
            "put video1 window at 0 0 512 240", "set video1 time format frames",
            "status video1 mode"));
    EXPECT_FALSE(form->Pic1().AutoRedraw());
    EXPECT_EQ(form->Check1()->checkState(), Qt::Checked);
    EXPECT_TRUE(watch.messages.empty());
    // The scroll bar is not reset by opening.
    EXPECT_EQ(form->HScroll1()->value(), 0);
}

TEST_F(FormVideoTest, SteppingShowsRealFramesInTheModesColours)
{
    form->Command3_Click();
    ASSERT_EQ(form->Check1()->checkState(), Qt::Checked);
    struct Mode {
        int index;
        platform::PictureBox& display;
        void (*setPalette)();
    };
    for (const Mode& mode : { Mode { 2, form->Pic4(), SetPalette16 },
             Mode { 1, form->Pic3(), SetPalette4 }, Mode { 0, form->Pic2(), SetPalette2 } }) {
        SCOPED_TRACE(mode.index);
        form->Option2(mode.index)->click();
        const std::vector<uint32_t> palette = PaletteColours(mode.setPalette);
        platform::Surface previousFrame = form->Pic1().Snapshot();
        platform::Surface previousDisplay = mode.display.Snapshot();
        for (int tick = 0; tick < 3; ++tick) {
            const int before = form->HScroll1()->value();
            form->Timer1_Timer();
            EXPECT_EQ(form->HScroll1()->value(), before + 1);
            const platform::Surface frame = form->Pic1().Snapshot();
            const platform::Surface display = mode.display.Snapshot();
            // The video host holds the next frame, and the display its conversion.
            EXPECT_FALSE(frame == previousFrame) << "tick " << tick;
            EXPECT_FALSE(display == previousDisplay) << "tick " << tick;
            EXPECT_TRUE(OnlyPaletteColours(display, palette)) << "tick " << tick;
            previousFrame = frame;
            previousDisplay = display;
        }
    }
}

TEST_F(FormVideoTest, PlayAviWithoutTheSampleSaysSoAndDoesNotStep)
{
    QTemporaryDir emptyFolder;
    ASSERT_TRUE(emptyFolder.isValid());
    Create(emptyFolder.path());
    form->Command3_Click();
    ASSERT_EQ(watch.messages.size(), 1u);
    EXPECT_EQ(watch.messages[0].kind, MessageKind::Warning);
    EXPECT_THAT(watch.messages[0].text.toStdString(),
        HasSubstr((emptyFolder.path() + "/tom.avi").toStdString()));
    EXPECT_EQ(form->Check1()->checkState(), Qt::Unchecked);
    EXPECT_EQ(watch.programEnds, 0);
    form->Timer1_Timer();
    form->Timer1_Timer();
    EXPECT_EQ(form->HScroll1()->value(), 0);
}

TEST_F(FormVideoTest, PlayAviFindsTheSampleWhereItIsInstalled)
{
    // An installed layout: the program in PREFIX/bin, the sample in PREFIX/share/pelorin.
    QTemporaryDir prefix;
    ASSERT_TRUE(prefix.isValid());
    ASSERT_TRUE(QDir(prefix.path()).mkpath("bin"));
    ASSERT_TRUE(QDir(prefix.path()).mkpath("share/pelorin"));
    ASSERT_TRUE(QFile::copy(SamplePath(), prefix.path() + "/share/pelorin/tom.avi"));
    Create(prefix.path() + "/bin");
    MciRecorder sent;
    form->Command3_Click();
    EXPECT_TRUE(watch.messages.empty());
    EXPECT_EQ(form->Check1()->checkState(), Qt::Checked);
    ASSERT_GE(sent.Sent().size(), 2u);
    EXPECT_THAT(sent.Sent()[1], HasSubstr(prefix.path().toStdString() + "/share/pelorin/tom.avi"));
    form->Timer1_Timer();
    EXPECT_EQ(form->HScroll1()->value(), 1);
}

TEST_F(FormVideoTest, AFailedOpenAfterAGoodOneStopsStepping)
{
    form->Command3_Click();
    ASSERT_EQ(form->Check1()->checkState(), Qt::Checked);
    form->Timer1_Timer();
    // Not a video: the device answered for the sample a moment ago, and must not be taken to
    // answer for this file.
    QTemporaryDir folder;
    const QString notAVideo = NotAVideo(folder);
    form->OpenDroppedFile(notAVideo);
    ASSERT_EQ(watch.messages.size(), 1u);
    EXPECT_THAT(watch.messages[0].text.toStdString(), HasSubstr("notes.avi"));
    EXPECT_EQ(form->Check1()->checkState(), Qt::Unchecked);
    const int position = form->HScroll1()->value();
    form->Timer1_Timer();
    EXPECT_EQ(form->HScroll1()->value(), position);
}

// A file that cannot be opened costs nothing: the video that was open, its frame and the source
// view stay, the message says why, and Space goes on with that video rather than the sample.
TEST_F(FormVideoTest, AFailedOpenKeepsTheVideoThatWasOpen)
{
    const std::string clip = video::test::MadeVideo("kept_open.mkv",
        { "-f", "lavfi", "-i", "testsrc2=size=160x120:rate=25", "-frames:v", "20", "-c:v",
            "ffv1" });
    ASSERT_FALSE(clip.empty());
    form->OpenDroppedFile(QString::fromStdString(clip));
    form->Command2_Click();
    form->SetHScroll1Value(12);
    const platform::Surface source = form->Pic1().Snapshot();
    const platform::Surface shown = form->Pic4().Snapshot();

    QTemporaryDir folder;
    const QString notAVideo = NotAVideo(folder);
    for (const QString& path : { notAVideo, folder.filePath("missing.mkv") }) {
        SCOPED_TRACE(path.toStdString());
        watch.messages.clear();
        form->OpenDroppedFile(path);
        ASSERT_EQ(watch.messages.size(), 1u);
        const std::string text = watch.messages[0].text.toStdString();
        EXPECT_THAT(text, HasSubstr("Cannot open \"" + path.toStdString() + "\": "));
        EXPECT_THAT(text, HasSubstr("The video that was open stays open."));
        // The device's reason, beyond the file's name.
        EXPECT_GT(text.size(), path.size() + 60) << text;
        const video::VideoDevice* player = MciOpenVideo("video1");
        ASSERT_NE(player, nullptr);
        EXPECT_EQ(player->Position(), 12);
        EXPECT_EQ(form->Pic1().Snapshot(), source);
        form->HScroll1_Change();
        EXPECT_EQ(form->Pic1().Snapshot(), source);
        EXPECT_EQ(form->Pic4().Snapshot(), shown);
    }
    EXPECT_THAT(form->CommandLineForCurrentFrame().toStdString(), HasSubstr("kept_open.mkv"));
    form->PlayPause_Click();
    EXPECT_EQ(form->Check1()->checkState(), Qt::Checked);
    form->Timer1_Timer();
    EXPECT_EQ(MciOpenVideo("video1")->Position(), 13);
    EXPECT_THAT(form->CommandLineForCurrentFrame().toStdString(), HasSubstr("kept_open.mkv"));
}

TEST_F(FormVideoTest, DroppingAVideoOpensItAndStartsStepping)
{
    QTemporaryDir folder;
    const QString copy = folder.filePath("my clip.avi"); // a blank in the name
    ASSERT_TRUE(QFile::copy(SamplePath(), copy));

    QMimeData data;
    data.setUrls({ QUrl::fromLocalFile(copy) });
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());

    MciRecorder sent;
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form.get(), &drop);
    ASSERT_GE(sent.Sent().size(), 2u);
    EXPECT_EQ(sent.Sent()[1],
        "open " + ShortPathName(copy.toStdString()) + " Type avivideo Alias video1 parent "
            + std::to_string(form->Pic1().hWnd()) + " Style 1073741824");
    EXPECT_EQ(form->Check1()->checkState(), Qt::Checked);
    EXPECT_TRUE(watch.messages.empty());
    form->Timer1_Timer();
    EXPECT_EQ(form->HScroll1()->value(), 1);
}

// A phone clip stored turned opens upright, and every picture of a GIF with uneven delays is
// stepped through.
TEST_F(FormVideoTest, DroppedTurnedClipsShowUprightAndUnevenGifsShowEveryPicture)
{
    const std::string turned = video::test::TurnedClip(90);
    form->OpenDroppedFile(QString::fromStdString(turned));
    ASSERT_EQ(form->Check1()->checkState(), Qt::Checked);
    // Where FFmpeg's own tool puts the red quarter (top left as stored) when it turns the clip.
    platform::PictureBox ffmpegView(32, 64);
    std::string error;
    const auto ffmpeg
        = video::VideoDevice::Open(video::test::UprightByFfmpeg(turned), &ffmpegView, &error);
    ASSERT_TRUE(ffmpeg) << error;
    const int upright = video::test::RedQuarter(ffmpegView.Snapshot());
    ASSERT_NE(upright, -1);
    EXPECT_EQ(video::test::RedQuarter(form->Pic1().Snapshot()), upright);

    form->OpenDroppedFile(QString::fromStdString(video::test::UnevenGif()));
    ASSERT_EQ(form->Check1()->checkState(), Qt::Checked);
    std::vector<uint64_t> shown { video::test::Hash(form->Pic1().Snapshot()) };
    for (int tick = 0; tick < 40; ++tick) {
        form->Timer1_Timer();
        const uint64_t hash = video::test::Hash(form->Pic1().Snapshot());
        if (hash != shown.back())
            shown.push_back(hash);
    }
    EXPECT_EQ(std::set<uint64_t>(shown.begin(), shown.end()).size(),
        size_t(video::test::kUnevenGifPictures));
    EXPECT_TRUE(watch.messages.empty());
}

TEST_F(FormVideoTest, DoubleClickingAListedFileOpensItFromTheProgramsFolderWithoutStepping)
{
    form->File1()->addItem("tom.avi");
    form->File1()->setCurrentRow(form->File1()->count() - 1);
    MciRecorder sent;
    form->File1_DblClick();
    ASSERT_GE(sent.Sent().size(), 2u);
    EXPECT_THAT(sent.Sent()[1], HasSubstr(ShortPathName(SamplePath().toStdString())));
    EXPECT_EQ(form->Check1()->checkState(), Qt::Unchecked);
    EXPECT_TRUE(watch.messages.empty());
}

TEST_F(FormVideoTest, ClosingTheWindowSendsStopAndClose)
{
    form->Command3_Click();
    form->show();
    MciRecorder sent;
    EXPECT_TRUE(form->close());
    EXPECT_THAT(sent.Sent(), ElementsAre("stop video1", "close video1"));
    // The device is gone: asking for its mode gets no answer.
    EXPECT_EQ(MciCommand(12), "");
}

} // namespace

// The command-line tool converts a frame with the shared frame conversion; the window must give
// the very same bytes for the same frame, in every mode and with every method, so what a user
// sees in the window is what the tool writes.
