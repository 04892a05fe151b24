// "Export…": the window's recipe run by pelorin-convert writes exactly what the tool writes for
// the same command, reports its frames as it goes, and a cancelled export leaves nothing.
#include "export_run.h"
#include "form1.h"
#include "testing/form_test_support.h"

#include "dither/method_table.h"
#include "video/mci.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRadioButton>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

using namespace pelorin;
using namespace pelorin::window;

namespace {

QString Tool() { return QCoreApplication::applicationDirPath() + "/pelorin-convert"; }

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The video frames' checksums, as FFmpeg decodes them (a Matroska file carries a random ID, so
// two runs' bytes differ where their pictures do not).
QByteArray FrameChecksums(const QString& path)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", { "-v", "error", "-i", path, "-map", "0:v", "-f", "framemd5", "-" });
    ffmpeg.waitForFinished(60'000);
    QByteArray sums;
    for (const QByteArray& line : ffmpeg.readAllStandardOutput().split('\n'))
        if (!line.startsWith('#'))
            sums += line + '\n';
    return sums;
}

class FormExportTest : public ::testing::Test {
protected:
    FormExportTest()
    {
        form = std::make_unique<Form1>(watch.Environment());
        form->Timer1()->stop();
        form->Form_Load();
    }
    ~FormExportTest() override
    {
        form.reset();
        MciCommand(15);
    }

    // Mode 4, Bayer 4x4, steady, on the sample.
    void ChooseRecipe()
    {
        form->OpenDroppedFile(QCoreApplication::applicationDirPath() + "/tom.avi");
        form->Timer1()->stop();
        form->Option2(1)->click();
        form->Option1(FindMethodByName("bayer-4x4")->index)->click();
        form->MenuAction(MenuItem::Steady)->setChecked(true);
    }

    // Waits for `run` to finish; false when it did not within a minute.
    static bool Finish(ExportRun* run)
    {
        if (!run->Running())
            return true;
        QEventLoop loop;
        QObject::connect(run, &ExportRun::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(60'000, &loop, &QEventLoop::quit);
        loop.exec();
        return !run->Running();
    }

    QTemporaryDir folder;
    FormWatch watch;
    std::unique_ptr<Form1> form;
};

TEST_F(FormExportTest, WritesWhatTheToolWritesForTheSameCommand)
{
    ChooseRecipe();
    const QStringList recipe
        = { "--mode", "4", "--method", "bayer-4x4", "--steady", "--frames", "0:59" };
    for (const char* name : { "clip.cas", "video.mkv" }) {
        SCOPED_TRACE(name);
        int64_t lastDone = 0, total = 0;
        ExportRun* run = form->StartExport({ folder.filePath(QString("window-") + name), "0:59" });
        ASSERT_NE(run, nullptr);
        QObject::connect(run, &ExportRun::progressed, [&](qint64 done, qint64 of, double, const QString&) {
            lastDone = done;
            total = of;
        });
        ASSERT_TRUE(Finish(run));
        ASSERT_TRUE(run->Succeeded()) << run->Error().toStdString();
        EXPECT_TRUE(run->Summary().contains("wrote")) << run->Summary().toStdString();
        EXPECT_EQ(total, 60);
        EXPECT_GT(lastDone, 0);

        QProcess tool;
        tool.start(Tool(), recipe + QStringList { QCoreApplication::applicationDirPath() + "/tom.avi",
                                        folder.filePath(QString("tool-") + name) });
        ASSERT_TRUE(tool.waitForFinished(60'000));
        ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
        if (QString(name).endsWith(".cas"))
            EXPECT_EQ(FileBytes(folder.filePath("window-clip.cas")),
                FileBytes(folder.filePath("tool-clip.cas")));
        else
            EXPECT_EQ(FrameChecksums(folder.filePath("window-video.mkv")),
                FrameChecksums(folder.filePath("tool-video.mkv")));
    }
    EXPECT_TRUE(watch.messages.empty());
}

TEST_F(FormExportTest, ACancelledExportLeavesNothingAndAWrongOneSaysWhy)
{
    ChooseRecipe();
    ExportRun* run = form->StartExport({ folder.filePath("all.mkv"), "" });
    ASSERT_NE(run, nullptr);
    int64_t total = 0;
    QObject::connect(run, &ExportRun::progressed, [&](qint64 done, qint64 of, double, const QString&) {
        total = of;
        if (done >= 20)
            run->Cancel();
    });
    ASSERT_TRUE(Finish(run));
    EXPECT_EQ(total, 500);
    EXPECT_TRUE(run->Cancelled());
    EXPECT_FALSE(run->Succeeded());
    EXPECT_LT(run->FramesDone(), 500);
    EXPECT_TRUE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());

    // Frames past the end: the tool's own words reach the user.
    run = form->StartExport({ folder.filePath("late.mkv"), "600:700" });
    ASSERT_NE(run, nullptr);
    ASSERT_TRUE(Finish(run));
    EXPECT_FALSE(run->Succeeded());
    EXPECT_TRUE(run->Error().contains("goes past the end")) << run->Error().toStdString();
}

TEST_F(FormExportTest, NothingToExportWithoutAVideo)
{
    EXPECT_EQ(form->StartExport({ folder.filePath("x.mkv"), "" }), nullptr);
    ASSERT_EQ(watch.messages.size(), 1u);
    EXPECT_TRUE(watch.messages[0].text.contains("No video is open"));
}

} // namespace
