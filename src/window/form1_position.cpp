// Form1's menu items for knowing where one is in the video and moving through it: play / pause
// on the open video, the frame line beside the conversion time, the scroll bar fitted to the
// video, and opening a file by the bytes of its name.
#include "form1.h"

#include "layout.h"

#include "video/mci.h"
#include "video/video_device.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QScrollBar>
#include <QSignalBlocker>

#include <algorithm>
#include <filesystem>

namespace pelorin::window {

namespace {
    // "mm:ss.t" of the start of `frame`, tenths cut rather than rounded so the time never runs
    // ahead of the frame's own; minutes run on past 59.
    QString VideoTime(int64_t frame, int rateNumerator, int rateDenominator)
    {
        if (rateNumerator <= 0 || rateDenominator <= 0)
            return QString();
        const __int128 tenths = __int128(frame) * 10 * rateDenominator / rateNumerator;
        const auto minutes = int64_t(tenths / 600);
        const auto rest = int(tenths % 600);
        return QString("%1:%2.%3")
            .arg(minutes, 2, 10, QChar('0'))
            .arg(rest / 10, 2, 10, QChar('0'))
            .arg(rest % 10);
    }
    // The picture types the window opens (those of "Open video…"'s list); the video device shows
    // each as a video of one frame.
    // A TVC file of one frame (a .kep, a picture .cas, a .vram of one frame) is a picture too.
    constexpr const char* kStillPictureExtensions[]
        = { "png", "jpg", "jpeg", "bmp", "ppm", "kep", "cas", "vram" };
} // namespace

bool Form1::OpenInputIsStillPicture()
{
    if (VideoLength() != 1)
        return false;
    const QString suffix
        = QFileInfo(QFile::decodeName(QByteArray::fromStdString(m_videoPath))).suffix().toLower();
    return std::any_of(std::begin(kStillPictureExtensions), std::end(kStillPictureExtensions),
        [&](const char* extension) { return suffix == extension; });
}

void Form1::PlayPause_Click()
{
    if (m_check1->checkState() != Qt::Unchecked) {
        Command2_Click();
        return;
    }
    if (m_videoPath.empty() || !MciOpenVideo("video1")) {
        Command3_Click();
        return;
    }
    // A fitted bar that stands at the video's end would stop again at once: go round.
    if (MenuAction(MenuItem::FitScrollBar)->isChecked() && VideoLength() >= 2
        && m_hscroll1->value() >= m_hscroll1->maximum())
        SetHScroll1Value(0);
    m_check1->setCheckState(Qt::Checked);
}

int64_t Form1::VideoLength()
{
    if (!m_videoLength) {
        const video::VideoDevice* player = m_videoPath.empty() ? nullptr : MciOpenVideo("video1");
        m_videoLength = player ? player->Length() : 0;
    }
    return *m_videoLength;
}

void Form1::ApplyScrollRange()
{
    int maximum = kScrollMaximum;
    int pageStep = kScrollPageStep;
    const int64_t length = VideoLength();
    if (MenuAction(MenuItem::FitScrollBar)->isChecked() && length >= 1) {
        maximum = int(std::min<int64_t>(length - 1, kScrollMaximum));
        // Ten pages to the video, so Page Down crosses it in ten presses and never jumps it.
        pageStep = int(std::clamp<int64_t>(length / 10, 1, kScrollPageStep));
    }
    if (maximum == m_hscroll1->maximum() && pageStep == m_hscroll1->pageStep())
        return;
    const int before = m_hscroll1->value();
    {
        const QSignalBlocker quiet(m_hscroll1);
        m_hscroll1->setRange(0, maximum);
        m_hscroll1->setPageStep(pageStep);
    }
    if (m_hscroll1->value() != before)
        HScroll1_Change();
}

void Form1::UpdateFrameLine()
{
    // The conversion time only with "Show conversion time"; "Show frame position" alone is
    // where the frame is.
    const QString ms = MenuAction(MenuItem::ShowTime)->isChecked()
        ? " · " + QString::number(m_modules.StopwatchLastElapsedMs(), 'f', 2) + " ms"
        : QString();
    const video::VideoDevice* player = m_videoPath.empty() ? nullptr : MciOpenVideo("video1");
    if (!player) {
        m_frameLine->setText("no video" + ms);
        return;
    }
    const int64_t frame = player->Position();
    m_frameLine->setText(
        QString("frame %1 of %2 · %3%4")
            .arg(QString::number(frame), QString::number(player->Length()),
                VideoTime(frame, player->RateNumerator(), player->RateDenominator()), ms));
}

void Form1::StepFrame_Click(int frames)
{
    Command2_Click();
    const int position
        = std::clamp(m_hscroll1->value() + frames, m_hscroll1->minimum(), m_hscroll1->maximum());
    SetHScroll1Value(position);
}

QString Form1::DialogFolder() const
{
    return m_dialogFolder.isEmpty() ? QDir::currentPath() : m_dialogFolder;
}

void Form1::OpenLocalFile(const std::string& path)
{
    RunEvent([this, path] {
        std::error_code error;
        // Made absolute by its bytes: nothing trimmed, nothing decoded.
        const std::filesystem::path absolute = std::filesystem::absolute(path, error);
        OpenFileByName(error ? path : absolute.string());
    });
}

void Form1::OpenFileByName(const std::string& path)
{
    // Opening closes whatever was open first, so a file that cannot be opened is found out
    // before: the video, its frame and the source view stay as they were.
    std::string why;
    if (!CanOpen(path, &why)) {
        m_check1->setCheckState(Qt::Unchecked);
        const std::string name = std::filesystem::path(path).filename().string();
        for (size_t at = why.find(path); at != std::string::npos;
             at = why.find(path, at + name.size()))
            why.replace(at, path.size(), name);
        m_environment.showMessage(MessageKind::Warning,
            QString("Cannot open \"%1\": %2. %3")
                .arg(QFile::decodeName(QByteArray::fromStdString(path)),
                    QString::fromStdString(
                        why.empty() ? "it holds no video this program can decode" : why),
                    m_videoPath.empty() ? QString("Nothing else was opened.")
                                        : QString("The video that was open stays open.")));
        return;
    }
    if (OpenVideo(path)) {
        m_dialogFolder
            = QFileInfo(QFile::decodeName(QByteArray::fromStdString(path))).absolutePath();
        m_check1->setCheckState(Qt::Checked);
    } else
        ReportOpenFailure(path);
}

bool Form1::CanOpen(const std::string& path, std::string* why)
{
    // A trial with facts of its own: the open file's stay as they are.
    tvc::TvcFileFacts trial;
    return video::VideoDevice::Open(
               path, static_cast<platform::FrameTarget*>(nullptr), why, {}, MakeTvcOpener(&trial))
        != nullptr;
}

} // namespace pelorin::window
