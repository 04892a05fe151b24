#include "form1.h"

#include "convert/palette.h"
#include "dither/method_table.h"
#include "layout.h"
#include "picture_view.h"
#include "platform/runtime_error.h"
#include "platform/sample_picture.h"
#include "window_icon.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOptionButton>
#include <QTimer>

#include <cassert>
#include <limits>
#include <ranges>
#include <span>
#include <stdexcept>
#include <vector>

namespace pelorin::window {

namespace {
    using platform::ErrorNumber;
    using platform::PictureBox;
    using platform::RuntimeError;

    constexpr const char* kSampleVideo = "tom.avi";
    constexpr int kTimerIntervalMs = 1;
    constexpr int kScrollMaximum = 32000;
    constexpr int kScrollPageStep = 1000;

    QColor ToQColor(uint32_t rgb)
    {
        return QColor(int(rgb >> 16) & 0xFF, int(rgb >> 8) & 0xFF, int(rgb) & 0xFF);
    }

    void SetBackground(QWidget* widget, QPalette::ColorRole role, uint32_t rgb)
    {
        QPalette palette = widget->palette();
        palette.setColor(role, ToQColor(rgb));
        widget->setPalette(palette);
    }

    int RoundedScale(double scale) { return platform::RoundHalfEven(scale); }

    // The fonts tried for the captions, best first. The layout was drawn for an 8-point sans
    // font of about 11 pixels; the narrow Helvetica-like faces match it best, and DejaVu Sans
    // (always present where Qt is) fits at 10 or 9 pixels.
    struct FontChoice {
        const char* family;
        int pixelSize;
    };
    constexpr FontChoice kFontChoices[] = {
        { "Nimbus Sans", 11 },
        { "Liberation Sans", 11 },
        { "Arial", 11 },
        { "DejaVu Sans Condensed", 11 },
        { "DejaVu Sans", 10 },
        { "DejaVu Sans", 9 },
        { "Sans Serif", 9 },
        { "Sans Serif", 8 },
    };

    // True when the caption of every visible captioned control of `form` can be drawn whole in
    // the room its style gives the text.
    bool CaptionsFit(QWidget& form)
    {
        for (QAbstractButton* button : form.findChildren<QAbstractButton*>()) {
            if (!button->isVisibleTo(&form) || button->text().isEmpty())
                continue;
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            QStyle::SubElement contents = QStyle::SE_PushButtonContents;
            if (qobject_cast<QRadioButton*>(button))
                contents = QStyle::SE_RadioButtonContents;
            else if (qobject_cast<QCheckBox*>(button))
                contents = QStyle::SE_CheckBoxContents;
            const QRect room = button->style()->subElementRect(contents, &option, button);
            const QFontMetrics metrics(button->font());
            // The ink of a glyph may reach past its advance; both have to fit.
            const int needed = std::max(metrics.horizontalAdvance(button->text()),
                metrics.boundingRect(button->text()).width());
            if (needed > room.width() || metrics.height() > room.height())
                return false;
        }
        for (QGroupBox* frame : form.findChildren<QGroupBox*>()) {
            const QFontMetrics metrics(frame->font());
            // The title is inset from the frame's corner on both sides.
            if (metrics.horizontalAdvance(frame->title()) + 16 > frame->width())
                return false;
        }
        return true;
    }

    std::string MciModeText(const std::string& answer)
    {
        // A status answer may arrive as a whole fixed-length answer buffer: the text ends at
        // the first NUL.
        return answer.substr(0, answer.find('\0'));
    }

    QStyle* BaseStyle()
    {
        // The classic Windows look: frame captions sit in the frame's top line, so the controls
        // inside, laid out from 16 pixels down, lie under the line rather than across it.
        if (QStyle* classic = QStyleFactory::create("Windows"))
            return classic;
        return QStyleFactory::create("Fusion");
    }

    // The base style, with the gap between a radio or check indicator and its caption narrowed
    // to what the layout was drawn with; the widest method caption needs those pixels.
    class FormStyle : public QProxyStyle {
    public:
        FormStyle()
            : QProxyStyle(BaseStyle())
        {
        }
        int pixelMetric(
            PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override
        {
            if (metric == PM_RadioButtonLabelSpacing || metric == PM_CheckBoxLabelSpacing)
                return 4;
            return QProxyStyle::pixelMetric(metric, option, widget);
        }
    };
} // namespace

void ApplyFormStyle() { QApplication::setStyle(new FormStyle); }

Form1::Form1(FormEnvironment environment)
    : QWidget(nullptr)
    , m_environment(std::move(environment))
    , m_modules(m_environment.modules ? *m_environment.modules : DefaultFormModules())
{
    if (!m_environment.showMessage)
        m_environment.showMessage = [this](MessageKind kind, const QString& text) {
            QMessageBox box(
                kind == MessageKind::Error ? QMessageBox::Critical : QMessageBox::Warning,
                windowTitle(), text, QMessageBox::Ok, isVisible() ? this : nullptr);
            box.exec();
        };
    if (!m_environment.endProgram)
        m_environment.endProgram = [] { QCoreApplication::exit(1); };

    setWindowTitle(QString::fromUtf8(kFormCaption.data(), qsizetype(kFormCaption.size())));
    setWindowIcon(MakeWindowIcon());
    setFixedSize(kClientWidth, kClientHeight);
    setAcceptDrops(true);
    CreateControls();
    ChooseCaptionFont();
    ConnectEvents();
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

void Form1::CreateControls()
{
    m_option1Group = new QButtonGroup(this);
    m_option2Group = new QButtonGroup(this);
    std::vector<std::pair<const ControlLayout*, QWidget*>> created;
    auto containerOf = [this](const ControlLayout& row) -> QWidget* {
        if (row.container.empty())
            return this;
        const int number = row.container.back() - '0';
        assert(number >= 1 && number <= 3 && m_frames[size_t(number)]);
        return m_frames[size_t(number)];
    };
    size_t viewCount = 0;

    // Frames first, so that the controls inside them have their parent.
    for (int pass = 0; pass < 2; ++pass) {
        for (const ControlLayout& row : FormLayout()) {
            if ((row.kind == ControlKind::Frame) != (pass == 0))
                continue;
            const QString caption
                = QString::fromUtf8(row.caption.data(), qsizetype(row.caption.size()));
            QWidget* parent = containerOf(row);
            QWidget* widget = nullptr;
            switch (row.kind) {
            case ControlKind::Frame: {
                auto* frame = new QGroupBox(caption, parent);
                m_frames[size_t(row.control.back() - '0')] = frame;
                widget = frame;
                break;
            }
            case ControlKind::Button: {
                auto* button = new QPushButton(caption, parent);
                (row.control == "Command1"          ? m_command1
                        : row.control == "Command2" ? m_command2
                                                    : m_command3)
                    = button;
                widget = button;
                break;
            }
            case ControlKind::TextBox: {
                auto* text = new QLineEdit(caption, parent);
                (row.control == "Text1" ? m_text1 : m_text2) = text;
                widget = text;
                break;
            }
            case ControlKind::OptionButton: {
                auto* option = new QRadioButton(parent);
                if (row.control == "Option1") {
                    const Method* method = FindMethod(row.index);
                    if (!method)
                        throw std::logic_error(
                            "no method for Option1 index " + std::to_string(row.index));
                    option->setText(QString::fromUtf8(
                        method->caption.data(), qsizetype(method->caption.size())));
                    m_option1[size_t(row.index)] = option;
                    m_option1Group->addButton(option, row.index);
                } else {
                    option->setText(caption);
                    m_option2[size_t(row.index)] = option;
                    m_option2Group->addButton(option, row.index);
                }
                widget = option;
                break;
            }
            case ControlKind::CheckBox:
                m_check1 = new QCheckBox(caption, parent);
                widget = m_check1;
                break;
            case ControlKind::Timer:
                m_timer1 = new QTimer(this);
                m_timer1->setObjectName("Timer1");
                m_timer1->setTimerType(Qt::PreciseTimer);
                m_timer1->setInterval(kTimerIntervalMs);
                continue;
            case ControlKind::ScrollBar:
                m_hscroll1 = new QScrollBar(Qt::Horizontal, parent);
                m_hscroll1->setRange(0, kScrollMaximum);
                m_hscroll1->setPageStep(kScrollPageStep);
                m_hscroll1->setSingleStep(1);
                m_hscroll1->setValue(0);
                // A position is taken when the thumb is let go, not at every pixel of a drag.
                m_hscroll1->setTracking(false);
                widget = m_hscroll1;
                break;
            case ControlKind::FileList: {
                m_file1 = new QListWidget(parent);
                QPalette palette = m_file1->palette();
                palette.setColor(QPalette::Base, Qt::white);
                palette.setColor(QPalette::Text, Qt::black);
                m_file1->setPalette(palette);
                // The list shows the process's working folder, which the program never sets.
                const QStringList names
                    = QDir::current().entryList({ "*.avi" }, QDir::Files, QDir::Name);
                m_file1->addItems(names);
                widget = m_file1;
                break;
            }
            case ControlKind::Label: {
                auto* swatch = new QLabel(parent);
                swatch->setAutoFillBackground(true);
                SetBackground(swatch, QPalette::Window, row.backColor);
                const std::span<QLabel*> array = row.control == "Label1"
                    ? std::span<QLabel*>(m_label1)
                    : row.control == "Label2" ? std::span<QLabel*>(m_label2)
                                              : std::span<QLabel*>(m_label3);
                array[size_t(row.index)] = swatch;
                widget = swatch;
                break;
            }
            case ControlKind::PictureBox: {
                auto& box = PictureBoxSlot(row.control);
                box = std::make_unique<PictureBox>(row.width, row.height, row.backColor);
                if (row.control == "Pic1")
                    box->Image() = platform::MakeSamplePicture(row.width, row.height);
                auto* view = new PictureView(*box, parent);
                m_views[viewCount++] = view;
                widget = view;
                break;
            }
            }
            widget->setObjectName(
                QString::fromStdString(ControlObjectName(row.control, row.index)));
            widget->setGeometry(row.left, row.top, row.width, row.height);
            widget->setVisible(row.visibleAtStart);
            if (auto* view = qobject_cast<PictureView*>(widget))
                view->Box().SetVisible(row.visibleAtStart);
            created.emplace_back(&row, widget);
        }
    }
    m_option1[1]->setChecked(true);
    m_option2[2]->setChecked(true);

    // Later siblings are drawn over earlier ones; raising from the bottom row up leaves the
    // first row of the table on top.
    for (const ControlLayout& row : std::views::reverse(FormLayout()))
        for (auto& [createdRow, widget] : created)
            if (createdRow == &row)
                widget->raise();
}

void Form1::ChooseCaptionFont()
{
    for (const FontChoice& choice : kFontChoices) {
        QFont font(choice.family);
        font.setPixelSize(choice.pixelSize);
        setFont(font);
        if (CaptionsFit(*this))
            return;
    }
    // Nothing fits whole: keep the smallest choice, which cuts the least.
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
    connect(m_timer1, &QTimer::timeout, this, [this] { RunEvent([this] { Timer1_Timer(); }); });
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
    m_modules.MciCommand(14, {}, nullptr, MciValue(int64_t(m_hscroll1->value())));
    m_modules.StopwatchStart();
    for (const TvcMode& mode : TvcModes())
        if (m_option2[size_t(mode.option2Index)]->isChecked())
            ConvertToWorking(m_modules, mode, CheckedMethod(), m_pic1.get(), WorkingPicture(mode));
    m_text2->setText(QString::number(m_modules.StopwatchElapsedMs()));
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

PictureBox& Form1::WorkingPicture(const TvcMode& mode) { return *PictureBoxSlot(mode.workingPicture); }
PictureBox& Form1::DisplayPicture(const TvcMode& mode) { return *PictureBoxSlot(mode.displayPicture); }

// ---- the handlers ----

void Form1::Form_Load()
{
    // Each mode's palette in turn, read back from the palette table into the mode's swatches.
    for (const TvcMode& mode : TvcModes()) {
        m_modules.LoadPalette(mode);
        const std::span<QLabel*> swatches = mode.swatches == "Label1" ? std::span<QLabel*>(m_label1)
            : mode.swatches == "Label2"                                ? std::span<QLabel*>(m_label2)
                                                                       : std::span<QLabel*>(m_label3);
        for (size_t i = 0; i < swatches.size(); ++i)
            SetSwatch(swatches[i], int(i));
    }
    m_pic4->SetVisible(true);
}

void Form1::SetSwatch(QLabel* swatch, int paletteIndex)
{
    if (paletteIndex < 0 || size_t(paletteIndex) >= Palette.size())
        throw RuntimeError(ErrorNumber::SubscriptOutOfRange,
            "Palette(" + std::to_string(paletteIndex) + ") of " + std::to_string(Palette.size())
                + " entries");
    const PaletteEntry& entry = Palette[size_t(paletteIndex)];
    SetBackground(swatch, QPalette::Window, platform::Rgb(entry.Red, entry.Green, entry.Blue));
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
    m_pic1->SetAutoRedraw(false);
    m_modules.MciCommand(1, path, m_pic1.get(), {});
    m_modules.MciCommand(9, {}, nullptr, {});
    // The operations report no failure, so ask the device: an open device answers with its mode.
    return !MciModeText(m_modules.MciCommand(12, {}, nullptr, {})).empty();
}

void Form1::ReportOpenFailure(const std::string& path)
{
    // Opening closed whatever video was open, so there is nothing left to step through.
    m_check1->setCheckState(Qt::Unchecked);
    m_environment.showMessage(MessageKind::Warning,
        QString("Cannot open the video \"%1\": the file is missing or holds no video this "
                "program can decode.")
            .arg(QString::fromStdString(path)));
}

void Form1::Command3_Click()
{
    const std::string path = ProgramFolder() + "/" + kSampleVideo;
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
    const std::string fullPath = QFileInfo(path).absoluteFilePath().toStdString();
    if (OpenVideo(fullPath))
        m_check1->setCheckState(Qt::Checked);
    else
        ReportOpenFailure(fullPath);
}

void Form1::Command1_Click() { m_modules.MciCommand(2, {}, nullptr, {}); }

void Form1::Command2_Click() { m_check1->setCheckState(Qt::Unchecked); }

void Form1::Timer1_Timer()
{
    try {
        if (m_check1->checkState() != Qt::Unchecked) {
            // The position is a 16-bit signed number; one past 32767 overflows.
            const int position = m_hscroll1->value();
            if (position < std::numeric_limits<int16_t>::min()
                || position >= std::numeric_limits<int16_t>::max())
                throw RuntimeError(
                    ErrorNumber::Overflow, "HScroll1.Value " + std::to_string(position) + " + 1");
            SetHScroll1Value(position + 1);
        }
    } catch (...) {
        // Past the scroll bar's end (or on any other error of the step) stepping restarts at
        // frame 1, not 0.
        SetHScroll1Value(1);
    }
}

void Form1::SetHScroll1Value(int value)
{
    if (value < m_hscroll1->minimum() || value > m_hscroll1->maximum())
        throw RuntimeError(ErrorNumber::InvalidProcedureCall,
            "HScroll1.Value " + std::to_string(value) + " outside "
                + std::to_string(m_hscroll1->minimum()) + " ... "
                + std::to_string(m_hscroll1->maximum()));
    if (value == m_hscroll1->value())
        return;
    {
        const QSignalBlocker quiet(m_hscroll1);
        m_hscroll1->setValue(value);
    }
    HScroll1_Change();
}

void Form1::Option1_Click(int /*index*/) { HScroll1_Change(); }

void Form1::Option2_Click(int /*index*/)
{
    // Exactly the chosen mode's display picture shows, before the frame is rendered again.
    for (const TvcMode& mode : TvcModes())
        DisplayPicture(mode).SetVisible(m_option2[size_t(mode.option2Index)]->isChecked());
    HScroll1_Change();
}

void Form1::Form_QueryUnload()
{
    m_modules.MciCommand(5, {}, nullptr, {});
    m_modules.MciCommand(15, {}, nullptr, {});
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
