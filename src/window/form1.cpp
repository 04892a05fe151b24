#include "form1.h"
#include "picture_menu.h"

#include "dither/method_table.h"
#include "export_run.h"
#include "layout.h"
#include "picture_view.h"
#include "platform/runtime_error.h"
#include "window_icon.h"

#include "video/mci.h"
#include "video/picture_source.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTimer>

#include <filesystem>
#include <limits>
#include <span>
#include <stdexcept>

namespace pelorin::window {

namespace {
    // A status answer's text: it may arrive as a whole fixed-length answer buffer, so the text
    // ends at the first NUL. Empty when no video is open.
    std::string MciModeText(const std::string& answer)
    {
        return answer.substr(0, answer.find('\0'));
    }

    using platform::ErrorNumber;
    using platform::PictureBox;
    using platform::RuntimeError;

    constexpr const char* kSampleVideo = "tom.avi";

    int RoundedScale(double scale) { return platform::RoundHalfEven(scale); }
} // namespace

Form1::Form1(FormEnvironment environment)
    : QWidget(nullptr)
    , m_environment(std::move(environment))
    , m_modules(m_environment.modules ? *m_environment.modules : DefaultFormModules())
{
    if (!m_environment.showMessage)
        m_environment.showMessage = [this](MessageKind kind, const QString& text) {
            QMessageBox box(kind == MessageKind::Error ? QMessageBox::Critical
                    : kind == MessageKind::Information ? QMessageBox::Information
                                                       : QMessageBox::Warning,
                windowTitle(), text, QMessageBox::Ok, isVisible() ? this : nullptr);
            box.exec();
        };
    if (!m_environment.endProgram)
        m_environment.endProgram = [] { QCoreApplication::exit(1); };
    if (!m_environment.clock)
        m_environment.clock = [] { return std::chrono::steady_clock::now(); };
    if (!m_environment.chooseFile)
        m_environment.chooseFile = [this] {
            return QFileDialog::getOpenFileName(this, "Open video", DialogFolder(),
                "Videos and pictures (*.avi *.mkv *.mp4 *.m4v *.mov *.webm *.mpg *.mpeg *.ts "
                "*.wmv *.flv *.ogv *.gif *.png *.jpg *.jpeg *.bmp *.ppm);;TVC files (*.kep *.cas "
                "*.vram);;All files (*)");
        };
    if (!m_environment.chooseExport)
        m_environment.chooseExport
            = [this](const QString& suggestedPath, const QString& fromShown) {
                  return AskWhereToExport(this, suggestedPath, fromShown);
              };
    if (!m_environment.chooseSaveFile)
        m_environment.chooseSaveFile
            = [this](const QString& suggestedPath) { return AskWhereToSave(suggestedPath); };

    setWindowTitle(QString::fromUtf8(kFormCaption.data(), qsizetype(kFormCaption.size())));
    setWindowIcon(MakeWindowIcon());
    setFixedSize(kClientWidth, kClientHeight);
    setAcceptDrops(true);
    CreateControls();
    ChooseCaptionFont();
    CreateContextMenu();
    ConnectEvents();
    m_tvcOpener = MakeTvcOpener(&m_tvcFile);
}

Form1::~Form1()
{
    // The views refer to the picture boxes, which as members die before the QWidget base
    // deletes its children.
    for (PictureView*& view : m_views) {
        delete view;
        view = nullptr;
    }
}

void Form1::ConnectEvents()
{
    connect(m_command1, &QPushButton::clicked, this,
        [this] { RunEvent([this] { Command1_Click(); }); });
    connect(m_command2, &QPushButton::clicked, this,
        [this] { RunEvent([this] { Command2_Click(); }); });
    connect(m_command3, &QPushButton::clicked, this,
        [this] { RunEvent([this] { Command3_Click(); }); });
    connect(m_file1, &QListWidget::itemDoubleClicked, this,
        [this] { RunEvent([this] { File1_DblClick(); }); });
    // Only the user's moves arrive here; the program's own writes go through SetHScroll1Value.
    connect(m_hscroll1, &QScrollBar::valueChanged, this,
        [this] { RunEvent([this] { HScroll1_Change(); }); });
    connect(m_option1Group, &QButtonGroup::idClicked, this,
        [this](int index) { RunEvent([this, index] { Option1_Click(index); }); });
    connect(m_option2Group, &QButtonGroup::idClicked, this,
        [this](int index) { RunEvent([this, index] { Option2_Click(index); }); });
    connect(m_timer1, &QTimer::timeout, this, [this] {
        RunEvent([this] { Timer1_Timer(); });
        SleepTimer1IfIdle();
    });
    connect(m_check1, &QCheckBox::stateChanged, this, [this](int state) {
        if (state == Qt::Unchecked)
            return;
        // Paced stepping starts with a frame at once and counts on from there.
        m_lastAdvance.reset();
        WakeTimer1();
    });
    m_timer1->start();
}

void Form1::RunEvent(const std::function<void()>& handler)
{
    if (m_ended)
        return;
    QString failure;
    try {
        handler();
        return;
    } catch (const std::exception& error) {
        failure = QString::fromUtf8(error.what());
    } catch (...) {
        failure
            = QString::fromStdString(platform::DescribeError(ErrorNumber::InvalidProcedureCall));
    }
    m_ended = true;
    m_timer1->stop();
    m_environment.showMessage(MessageKind::Error, failure);
    m_environment.endProgram();
}

bool Form1::Load()
{
    RunEvent([this] { Form_Load(); });
    RunEvent([this] { Option2_Click(SelectedMode()); });
    RunEvent([this] { Option1_Click(m_option1Group->checkedId()); });
    return !m_ended;
}

// ---- the frame pipeline ----

void Form1::HScroll1_Change()
{
    // The picture's shape, when one is chosen, places the video in Pic1 before it is drawn.
    // A TVC file is the TVC's screen itself: it fills the screen whatever the shape, as in
    // pelorin-convert.
    if (m_pictureMenu) {
        const std::string problem
            = m_pictureMenu->PlaceVideo(*m_pic1, m_tvcFile.mode ? std::string() : m_videoPath);
        if (!problem.empty())
            m_environment.showMessage(MessageKind::Warning, QString::fromStdString(problem));
    }
    // The session first: choosing registers for the video reads its frames, before the frame
    // shown is sought and timed.
    const TvcMode* shown = ModeOfOption2(SelectedMode());
    if (shown && m_pictureMenu)
        PrepareSession(*shown);
    const int64_t frame = m_hscroll1->value();
    m_modules.MciCommand(MciOperation::SeekTo, {}, nullptr, MciValue(frame));
    m_modules.StopwatchStart();
    m_steadyStart.reset();
    if (shown) {
        const TvcMode& mode = *shown;
        // The menu's picture choices: the host adjusted; with them off, Pic1 itself. The
        // session says which registers and whether steady dithering starts afresh.
        PictureBox& host = m_pictureMenu ? m_pictureMenu->HostFor(*m_pic1) : *m_pic1;
        FrameOptions options = m_session.OptionsFor(frame, &ProgramSteadyHistory());
        options.paletteBeforeCapture = ControlsOfMode(mode.number).paletteBeforeCapture;
        ConvertToWorking(m_modules, mode, CheckedMethod(), &host, WorkingPicture(mode), options);
        m_shownColours[size_t(mode.number)] = m_session.ColoursFor(frame);
        ShowPaletteInUse(mode);
        if (options.steady) {
            m_steadyStart = ProgramSteadyHistory().SequenceStart();
            m_steadyLast = frame;
        }
    }
    m_text2->setText(QString::number(m_modules.StopwatchElapsedMs()));
    if (MenuAction(MenuItem::ShowTime)->isChecked() || MenuAction(MenuItem::ShowFrame)->isChecked())
        UpdateFrameLine();
    // All three, not only the mode converted now: the others keep their last frame, hidden.
    for (const TvcMode& mode : TvcModes()) {
        PictureBox& display = DisplayPicture(mode);
        m_modules.StretchPicture(display, WorkingPicture(mode), RoundedScale(display.ScaleWidth()),
            RoundedScale(display.ScaleHeight()), 0);
    }
    for (const TvcMode& mode : TvcModes())
        m_modules.Refresh(DisplayPicture(mode));
}

int Form1::CheckedMethod() const
{
    // With one option group at most one method is set; none set converts nothing.
    for (int index = 1; index <= kMethodCount; ++index)
        if (m_option1[size_t(index)]->isChecked())
            return index;
    return kNoMethod;
}

std::unique_ptr<PictureBox>& Form1::PictureBoxSlot(std::string_view name)
{
    if (name == "Pic1")
        return m_pic1;
    if (name == "Pic2")
        return m_pic2;
    if (name == "Pic3")
        return m_pic3;
    if (name == "Pic4")
        return m_pic4;
    if (name == "TVC2")
        return m_tvc2;
    if (name == "TVC4")
        return m_tvc4;
    if (name == "TVC16")
        return m_tvc16;
    throw std::logic_error("no picture box named " + std::string(name));
}

PictureBox& Form1::WorkingPicture(const TvcMode& mode)
{
    return *PictureBoxSlot(ControlsOfMode(mode.number).workingPicture);
}
PictureBox& Form1::DisplayPicture(const TvcMode& mode)
{
    return *PictureBoxSlot(ControlsOfMode(mode.number).displayPicture);
}

// ---- the handlers ----

void Form1::Form_Load()
{
    // Each mode's palette in turn, read back from the palette table into the mode's swatches.
    for (const TvcMode& mode : TvcModes()) {
        m_modules.LoadPalette(mode);
        const std::string_view names = ControlsOfMode(mode.number).swatches;
        const std::span<QLabel*> swatches = names == "Label1" ? std::span<QLabel*>(m_label1)
            : names == "Label2"                               ? std::span<QLabel*>(m_label2)
                                                              : std::span<QLabel*>(m_label3);
        for (size_t i = 0; i < swatches.size(); ++i)
            SetSwatch(swatches[i], int(i));
    }
    m_pic4->SetVisible(true);
}

std::string Form1::ProgramFolder() const
{
    const QString folder = m_environment.programFolder.isEmpty()
        ? QCoreApplication::applicationDirPath()
        : m_environment.programFolder;
    return folder.toStdString();
}

bool Form1::OpenVideo(const std::string& path)
{
    m_videoPath.clear();
    m_frameDuration.reset();
    m_videoLength.reset();
    m_lastAdvance.reset();
    // Registers chosen for another video are no choice for this one.
    m_session.DropPlan();
    m_pic1->SetAutoRedraw(false);
    m_modules.MciCommand(MciOperation::OpenAviVideo, path, m_pic1.get(), {}, m_tvcOpener);
    m_modules.MciCommand(MciOperation::TimeFormatFrames);
    // The operations report no failure, so ask the device: an open device answers with its mode.
    const bool opened = !MciModeText(m_modules.MciCommand(MciOperation::Mode)).empty();
    if (opened)
        m_videoPath = path;
    else
        m_tvcFile.mode = nullptr;
    ApplyScrollRange();
    if (opened)
        AdoptTvcFile();
    return opened;
}

void Form1::ReportOpenFailure(const std::string& path)
{
    // Opening closed whatever video was open, so there is nothing left to step through.
    m_check1->setCheckState(Qt::Unchecked);
    if (!m_tvcFile.refusal.empty()) {
        // A TVC file that was recognised by its name: the reader says what is wrong with it.
        m_environment.showMessage(MessageKind::Warning,
            QString("Cannot open \"%1\": %2.")
                .arg(QFile::decodeName(QByteArray::fromStdString(path)),
                    QString::fromStdString(m_tvcFile.refusal)));
        return;
    }
    m_environment.showMessage(MessageKind::Warning,
        QString("Cannot open the video \"%1\": the file is missing or holds no video this "
                "program can decode.")
            .arg(QFile::decodeName(QByteArray::fromStdString(path))));
}

std::string Form1::SampleVideoPath() const
{
    // Beside the program in the build folder; installed, the program is in PREFIX/bin and the
    // sample in PREFIX/share/pelorin. When neither is there, the name beside the program is the
    // one the message gives.
    const std::filesystem::path folder = ProgramFolder();
    const std::filesystem::path beside = folder / kSampleVideo;
    const std::filesystem::path installed = folder / "../share/pelorin" / kSampleVideo;
    std::error_code error;
    if (!std::filesystem::exists(beside, error) && std::filesystem::exists(installed, error)) {
        const std::filesystem::path canonical = std::filesystem::canonical(installed, error);
        return error ? installed.string() : canonical.string();
    }
    return beside.string();
}

void Form1::Command3_Click()
{
    const std::string path = SampleVideoPath();
    if (OpenVideo(path))
        m_check1->setCheckState(Qt::Checked);
    else
        ReportOpenFailure(path);
}

void Form1::File1_DblClick()
{
    const QListWidgetItem* item = m_file1->currentItem();
    const std::string fileName = item ? item->text().toStdString() : std::string();
    // From the program's folder, whatever folder the list shows. Stepping is left as it is.
    const std::string path = ProgramFolder() + "/" + fileName;
    if (!OpenVideo(path))
        ReportOpenFailure(path);
}

void Form1::OpenDroppedFile(const QString& path)
{
    // The name in the file system's own bytes.
    OpenFileByName(QFile::encodeName(QFileInfo(path).absoluteFilePath()).toStdString());
}

void Form1::Command1_Click() { m_modules.MciCommand(MciOperation::Play); }

void Form1::Command2_Click() { m_check1->setCheckState(Qt::Unchecked); }

void Form1::Option1_Click(int /*index*/) { HScroll1_Change(); }

void Form1::Option2_Click(int /*index*/)
{
    // Exactly the chosen mode's display picture shows, before the frame is rendered again.
    for (const TvcMode& mode : TvcModes())
        DisplayPicture(mode).SetVisible(
            m_option2[size_t(ControlsOfMode(mode.number).option2Index)]->isChecked());
    HScroll1_Change();
}

void Form1::Form_QueryUnload()
{
    m_modules.MciCommand(MciOperation::Stop);
    m_modules.MciCommand(MciOperation::Close);
}

// ---- toolkit events ----

void Form1::closeEvent(QCloseEvent* event)
{
    RunEvent([this] { Form_QueryUnload(); });
    event->accept();
}

namespace {
    QString DroppedFile(const QMimeData* data)
    {
        if (!data || !data->hasUrls())
            return {};
        for (const QUrl& url : data->urls())
            if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile())
                return url.toLocalFile();
        return {};
    }
} // namespace

void Form1::dragEnterEvent(QDragEnterEvent* event)
{
    if (!DroppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent* event)
{
    const QString path = DroppedFile(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    RunEvent([this, path] { OpenDroppedFile(path); });
}

// ---- access to the controls ----

PictureView* Form1::View(const PictureBox& box) const
{
    for (PictureView* view : m_views)
        if (view && &view->Box() == &box)
            return view;
    return nullptr;
}

QGroupBox* Form1::Frame(int number) const { return m_frames.at(size_t(number)); }
QRadioButton* Form1::Option1(int index) const { return m_option1.at(size_t(index)); }
QRadioButton* Form1::Option2(int index) const { return m_option2.at(size_t(index)); }
QLabel* Form1::Label1(int index) const { return m_label1.at(size_t(index)); }
QLabel* Form1::Label2(int index) const { return m_label2.at(size_t(index)); }
QLabel* Form1::Label3(int index) const { return m_label3.at(size_t(index)); }

int Form1::SelectedMode() const { return m_option2Group->checkedId(); }

} // namespace pelorin::window
