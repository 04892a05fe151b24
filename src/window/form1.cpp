#include "form1.h"

#include "convert/palette.h"
#include "dither/method_table.h"
#include "layout.h"
#include "picture_view.h"
#include "platform/runtime_error.h"
#include "platform/sample_picture.h"
#include "window_icon.h"

#include "picture_file/atomic_output.h"
#include "picture_file/file_error.h"
#include "picture_file/picture_encoder.h"
#include "pipeline/vram.h"

#include "video/mci.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>
#include <QStyleOptionSlider>
#include <QTimer>

#include <cassert>
#include <charconv>
#include <cmath>
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

    // A status answer read as a whole non-negative number; empty when it is not one.
    std::optional<int64_t> MciNumber(const std::string& answer)
    {
        const std::string text = MciModeText(answer);
        int64_t value = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < 0)
            return std::nullopt;
        return value;
    }

    // How long one frame of the open video lasts, from the device's frame rate; zero when no
    // video is open or it has no rate.
    std::chrono::nanoseconds VideoFrameDuration()
    {
        std::string answer;
        if (mciSendStringA("status video1 frame rate", &answer, 255, 0) != 0)
            return {};
        const std::optional<int64_t> milliFramesPerSecond = MciNumber(answer);
        if (!milliFramesPerSecond || *milliFramesPerSecond <= 0)
            return {};
        return std::chrono::nanoseconds(std::llround(1e12 / double(*milliFramesPerSecond)));
    }

    // `word` as one word of a POSIX shell command: as it is when nothing in it is special to
    // the shell, else in single quotes (a quote inside becomes '\'').
    QString ShellQuoted(const QString& word)
    {
        static const QRegularExpression plain("^[A-Za-z0-9_@%+=:,./-]+$");
        if (plain.match(word).hasMatch())
            return word;
        QString quoted = word;
        quoted.replace("'", "'\\''");
        return "'" + quoted + "'";
    }

    // The name pelorin-convert knows a method by: its caption in lower case, blanks as dashes.
    QString CommandLineMethodName(int index)
    {
        const Method* method = FindMethod(index);
        if (!method)
            return "none";
        return QString::fromUtf8(method->caption.data(), qsizetype(method->caption.size()))
            .toLower()
            .replace(' ', '-');
    }

    constexpr int kTvcModeNumbers[] = { 2, 4, 16 }; // by Option2 index

    // The save dialog's file types, in SavedPicture order, and the extension each adds to a name
    // given without one. Two of them are PNG, so the type, not the name, says what is saved.
    struct SaveType {
        const char* filter;
        const char* extension;
    };
    constexpr SaveType kSaveTypes[] = {
        { "Display picture as shown, 512 × 480 (*.png)", "png" },
        { "Working picture at TVC resolution (*.png)", "png" },
        { "TVC video memory (*.vram)", "vram" },
    };

    // HScroll1: the toolkit's scroll bar takes no keys, so this one does, as a scroll bar of the
    // desktop does: the arrows one frame, Page Up / Page Down a page back or on, Home and End
    // the ends. Focused, its thumb carries the focus frame.
    class FrameScrollBar : public QScrollBar {
    public:
        using QScrollBar::QScrollBar;

    protected:
        void keyPressEvent(QKeyEvent* event) override
        {
            SliderAction action = SliderNoAction;
            switch (event->key()) {
            case Qt::Key_Left:
            case Qt::Key_Up:
                action = SliderSingleStepSub;
                break;
            case Qt::Key_Right:
            case Qt::Key_Down:
                action = SliderSingleStepAdd;
                break;
            case Qt::Key_PageUp:
                action = SliderPageStepSub;
                break;
            case Qt::Key_PageDown:
                action = SliderPageStepAdd;
                break;
            case Qt::Key_Home:
                action = SliderToMinimum;
                break;
            case Qt::Key_End:
                action = SliderToMaximum;
                break;
            default:
                QScrollBar::keyPressEvent(event);
                return;
            }
            triggerAction(action);
            event->accept();
        }

        void paintEvent(QPaintEvent* event) override
        {
            QScrollBar::paintEvent(event);
            if (!hasFocus())
                return;
            QStyleOptionSlider option;
            initStyleOption(&option);
            QStyleOptionFocusRect focus;
            focus.initFrom(this);
            focus.rect = style()
                             ->subControlRect(
                                 QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this)
                             .adjusted(3, 3, -3, -3);
            QPainter painter(this);
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
        }
    };

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
    if (!m_environment.clock)
        m_environment.clock = [] { return std::chrono::steady_clock::now(); };
    if (!m_environment.chooseFile)
        m_environment.chooseFile = [this] {
            const QString folder = m_videoPath.empty()
                ? QString::fromStdString(ProgramFolder())
                : QFileInfo(QString::fromStdString(m_videoPath)).absolutePath();
            return QFileDialog::getOpenFileName(this, "Open video", folder,
                "Videos and pictures (*.avi *.mkv *.mp4 *.m4v *.mov *.webm *.mpg *.mpeg *.ts "
                "*.wmv *.flv *.ogv *.gif *.png *.jpg *.jpeg *.bmp *.ppm);;All files (*)");
        };
    if (!m_environment.chooseSaveFile)
        m_environment.chooseSaveFile = [this](const QString& suggestedPath) {
            QFileDialog dialog(this, "Save picture");
            dialog.setAcceptMode(QFileDialog::AcceptSave);
            QStringList filters;
            for (const SaveType& type : kSaveTypes)
                filters << QString::fromUtf8(type.filter);
            dialog.setNameFilters(filters);
            dialog.selectNameFilter(filters.front());
            dialog.setDefaultSuffix(kSaveTypes[0].extension);
            connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString& filter) {
                const qsizetype type = filters.indexOf(filter);
                dialog.setDefaultSuffix(kSaveTypes[type < 0 ? 0 : type].extension);
            });
            dialog.selectFile(suggestedPath);
            if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
                return SaveChoice {};
            const qsizetype type
                = std::max<qsizetype>(0, filters.indexOf(dialog.selectedNameFilter()));
            QString path = dialog.selectedFiles().front();
            // A platform's own dialog may hand back the name as typed.
            if (QFileInfo(path).suffix().isEmpty())
                path += QString(".") + kSaveTypes[type].extension;
            return SaveChoice { path, SavedPicture(type) };
        };

    setWindowTitle(QString::fromUtf8(kFormCaption.data(), qsizetype(kFormCaption.size())));
    setWindowIcon(MakeWindowIcon());
    setFixedSize(kClientWidth, kClientHeight);
    setAcceptDrops(true);
    CreateControls();
    ChooseCaptionFont();
    CreateContextMenu();
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
                m_hscroll1 = new FrameScrollBar(Qt::Horizontal, parent);
                m_hscroll1->setRange(0, kScrollMaximum);
                m_hscroll1->setPageStep(kScrollPageStep);
                m_hscroll1->setSingleStep(1);
                m_hscroll1->setValue(0);
                // A position is taken when the thumb is let go, not at every pixel of a drag;
                // while stepping, the tick shows the frame under a held thumb.
                m_hscroll1->setTracking(false);
                // Reached with Tab: arrows move one frame, Page Up / Page Down 1000.
                m_hscroll1->setFocusPolicy(Qt::StrongFocus);
                // A right click on the bar opens the window's menu, not the bar's own.
                m_hscroll1->setContextMenuPolicy(Qt::NoContextMenu);
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
    m_text2->setContextMenuPolicy(Qt::NoContextMenu);

    // Later siblings are drawn over earlier ones; raising from the bottom row up leaves the
    // first row of the table on top.
    for (const ControlLayout& row : std::views::reverse(FormLayout()))
        for (auto& [createdRow, widget] : created)
            if (createdRow == &row)
                widget->raise();

    // The unit of the conversion time, just right of Text2 and shown with it. It covers no
    // control of the table.
    const ControlLayout* text2 = FindLayout("Text2");
    assert(text2);
    m_timeUnit = new QLabel("ms", this);
    m_timeUnit->setObjectName("TimeUnit");
    m_timeUnit->setGeometry(text2->left + text2->width + 4, text2->top, 20, text2->height);
    m_timeUnit->setVisible(false);
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

void Form1::SleepTimer1IfIdle()
{
    // A tick without stepping does nothing; a timer firing every millisecond for nothing keeps
    // the machine from resting.
    if (m_ended || m_check1->checkState() != Qt::Unchecked || !m_timer1->isActive())
        return;
    m_timer1->stop();
    m_timer1Asleep = true;
}

void Form1::WakeTimer1()
{
    // Only a timer the form put to sleep: one stopped from outside (ticks delivered by hand)
    // stays stopped.
    if (!m_timer1Asleep || m_ended)
        return;
    m_timer1Asleep = false;
    m_timer1->start();
}

// ---- the context menu ----

void Form1::CreateContextMenu()
{
    m_menu = new QMenu(this);
    m_menu->setObjectName("ContextMenu");
    auto add = [this](MenuItem item, const QString& text, bool checkable) {
        QAction* action = m_menu->addAction(text);
        action->setCheckable(checkable);
        m_menuActions[size_t(item)] = action;
        return action;
    };
    QAction* open = add(MenuItem::OpenVideo, "Open video…", false);
    open->setShortcut(QKeySequence::Open);
    open->setShortcutContext(Qt::WindowShortcut);
    addAction(open); // Ctrl+O works without the menu open
    connect(open, &QAction::triggered, this, [this] { RunEvent([this] { OpenVideo_Click(); }); });
    m_menu->addSeparator();

    QAction* realTime = add(MenuItem::RealTime, "Step at the video's own frame rate", true);
    connect(realTime, &QAction::toggled, this, [this] { m_lastAdvance.reset(); });
    add(MenuItem::Loop, "Loop at the end of the video", true);
    QAction* showTime = add(MenuItem::ShowTime, "Show conversion time", true);
    connect(showTime, &QAction::toggled, this, [this](bool on) { ShowTime(on); });
    // Read by HScroll1_Change at each frame; switching it changes nothing until the next one.
    add(MenuItem::Steady, "Steady dithering", true);
    m_menu->addSeparator();

    QAction* save = add(MenuItem::SavePicture, "Save picture…", false);
    connect(save, &QAction::triggered, this, [this] { RunEvent([this] { SavePicture_Click(); }); });
    QAction* copy = add(MenuItem::CopyCommandLine, "Copy command line", false);
    connect(
        copy, &QAction::triggered, this, [this] { RunEvent([this] { CopyCommandLine_Click(); }); });

    // The keyboard's menu key and Shift+F10 open the menu at the control that has the focus.
    auto* menuKey = new QAction(this);
    menuKey->setShortcuts({ QKeySequence(Qt::SHIFT | Qt::Key_F10), QKeySequence(Qt::Key_Menu) });
    menuKey->setShortcutContext(Qt::WindowShortcut);
    addAction(menuKey);
    connect(menuKey, &QAction::triggered, this, [this] { PopUpMenuAtFocus(); });
}

QAction* Form1::MenuAction(MenuItem item) const { return m_menuActions.at(size_t(item)); }

void Form1::contextMenuEvent(QContextMenuEvent* event)
{
    // Controls without a menu of their own pass the right click on to the form.
    m_menu->popup(event->globalPos());
    event->accept();
}

void Form1::PopUpMenuAtFocus()
{
    const QWidget* focus = focusWidget();
    const QPoint at = focus && focus->isVisible() ? focus->mapToGlobal(focus->rect().center())
                                                  : mapToGlobal(QPoint(width() / 2, height() / 2));
    m_menu->popup(at);
}

void Form1::ShowTime(bool on)
{
    m_text2->setReadOnly(true);
    m_text2->setVisible(on);
    m_timeUnit->setVisible(on);
}

void Form1::OpenFile(const QString& path)
{
    RunEvent([this, path] { OpenDroppedFile(path); });
}

void Form1::OpenVideo_Click()
{
    const QString path = m_environment.chooseFile();
    if (!path.isEmpty())
        OpenDroppedFile(path);
}

void Form1::CopyCommandLine_Click()
{
    const QString command = CommandLineForCurrentFrame();
    if (!command.isEmpty())
        QGuiApplication::clipboard()->setText(command);
}

std::optional<int64_t> Form1::ShownFrame()
{
    // The device's position, not the scroll bar's: past the video's end a seek shows nothing new
    // and the window keeps converting the last frame that was shown.
    if (m_videoPath.empty())
        return std::nullopt;
    return MciNumber(m_modules.MciCommand(13, {}, nullptr, {}));
}

QString Form1::FrameName(const QString& video, int64_t frame, int modeIndex) const
{
    // One pass of arg(), so that a "%1" in the file's name stays text.
    return QString("%1-%2-g%3-%4")
        .arg(QFileInfo(video).completeBaseName(), QString::number(frame),
            QString::number(kTvcModeNumbers[modeIndex]),
            CommandLineMethodName(m_option1Group->checkedId()));
}

void Form1::SavePicture_Click()
{
    const int modeIndex = SelectedMode();
    if (modeIndex < 0) {
        m_environment.showMessage(
            MessageKind::Warning, "No TVC mode is chosen, so there is no picture to save.");
        return;
    }
    const TvcMode* mode = nullptr;
    for (const TvcMode& row : TvcModes())
        if (row.option2Index == modeIndex)
            mode = &row;
    assert(mode);

    const std::optional<int64_t> frame = ShownFrame();
    const QString folder = m_videoPath.empty()
        ? QDir::currentPath()
        : QFileInfo(QString::fromStdString(m_videoPath)).absolutePath();
    // The start picture is the program's own; it has no video or frame to be named after.
    const QString suggested = QDir(folder).filePath(frame
            ? FrameName(QString::fromStdString(m_videoPath), *frame, modeIndex)
            : QString("pelorin-g%1-%2")
                  .arg(QString::number(kTvcModeNumbers[modeIndex]),
                      CommandLineMethodName(m_option1Group->checkedId())));
    const SaveChoice choice = m_environment.chooseSaveFile(suggested);
    if (choice.path.isEmpty())
        return;
    const auto refuse = [&](const QString& reason) {
        m_environment.showMessage(
            MessageKind::Warning, QString("Cannot save \"%1\": %2").arg(choice.path, reason));
    };
    if (choice.kind == SavedPicture::Vram && CheckedMethod() == kNoMethod) {
        refuse("the TVC video memory holds palette indices, and with no method set the "
               "picture's colours are not the palette's. Choose a method, or save a PNG.");
        return;
    }
    std::vector<uint8_t> bytes;
    try {
        switch (choice.kind) {
        case SavedPicture::Display:
            bytes = picture_file::EncodePicture(
                DisplayPicture(*mode).Snapshot(), picture_file::PictureFormat::Png);
            break;
        case SavedPicture::Working:
            bytes = picture_file::EncodePicture(
                WorkingPicture(*mode).Snapshot(), picture_file::PictureFormat::Png);
            break;
        case SavedPicture::Vram:
            PackVram(WorkingPicture(*mode).Snapshot(), *mode, bytes);
            break;
        }
        picture_file::WriteFileWhole(QFile::encodeName(choice.path).toStdString(), bytes);
    } catch (const picture_file::FileError& error) {
        refuse(QString::fromUtf8(error.what()) + ".");
    } catch (const std::invalid_argument& error) {
        refuse(QString::fromUtf8(error.what()) + ".");
    }
}

QString Form1::CommandLineForCurrentFrame()
{
    const std::optional<int64_t> frame = ShownFrame();
    const int mode = SelectedMode();
    if (!frame || mode < 0) {
        m_environment.showMessage(MessageKind::Warning,
            !frame ? QString("No video is open, so there is no command line to copy: open a "
                             "video first (\"Play AVI\" or \"Open video…\").")
                   : QString("No TVC mode is chosen, so there is no command line to copy."));
        return {};
    }
    const QString input = QString::fromStdString(m_videoPath);
    const QString methodName = CommandLineMethodName(m_option1Group->checkedId());
    // pelorin-convert reads a "%" in an output name as the start of a frame number, so every
    // "%" is doubled.
    QString output = FrameName(input, *frame, mode) + ".png";
    output.replace("%", "%%");
    if (output.startsWith('-'))
        output.prepend("./");
    // The tool beside this program when it is there (as in the build folder), else from PATH.
    const QString besideUs
        = QDir(QString::fromStdString(ProgramFolder())).filePath("pelorin-convert");
    const QString program = QFileInfo(besideUs).isExecutable() ? besideUs : "pelorin-convert";
    const QStringList words = { program, "--mode", QString::number(kTvcModeNumbers[mode]),
        "--method", methodName, "--frames", QString::number(*frame), input, output };
    QStringList quoted;
    for (const QString& word : words)
        quoted << ShellQuoted(word);
    return quoted.join(' ');
}

// ---- stepping beside the plain rule ----

bool Form1::FrameDueAtVideoRate()
{
    if (!m_frameDuration)
        m_frameDuration = VideoFrameDuration();
    const std::chrono::nanoseconds duration = *m_frameDuration;
    if (duration.count() <= 0)
        return true; // no rate to keep: every tick steps
    const auto now = m_environment.clock();
    if (!m_lastAdvance) {
        m_lastAdvance = now;
        return true;
    }
    const auto since = now - *m_lastAdvance;
    if (since < duration)
        return false;
    // The next frame is due one frame after this one was, which keeps the video's rate on
    // average though ticks come only every millisecond; a window that has fallen more than a
    // frame behind (slow conversions) counts afresh from now instead of rushing to catch up.
    m_lastAdvance = since < 2 * duration ? *m_lastAdvance + duration : now;
    return true;
}

bool Form1::AtLastFrameOfVideo(int position)
{
    if (!m_videoLength)
        m_videoLength = MciNumber(m_modules.MciCommand(11, {}, nullptr, {})).value_or(0);
    // A single picture has no end to loop from.
    return *m_videoLength >= 2 && position >= *m_videoLength - 1;
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
            ConvertToWorking(m_modules, mode, CheckedMethod(), m_pic1.get(), WorkingPicture(mode),
                { MenuAction(MenuItem::Steady)->isChecked(), int64_t(m_hscroll1->value()) });
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
    m_videoPath.clear();
    m_frameDuration.reset();
    m_videoLength.reset();
    m_lastAdvance.reset();
    m_pic1->SetAutoRedraw(false);
    m_modules.MciCommand(1, path, m_pic1.get(), {});
    m_modules.MciCommand(9, {}, nullptr, {});
    // The operations report no failure, so ask the device: an open device answers with its mode.
    if (MciModeText(m_modules.MciCommand(12, {}, nullptr, {})).empty())
        return false;
    m_videoPath = path;
    return true;
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
            if (m_hscroll1->isSliderDown()) {
                // The user holds the thumb: show the frame under it. Stepping goes on from
                // where the thumb is let go.
                SetHScroll1Value(m_hscroll1->sliderPosition());
                return;
            }
            if (MenuAction(MenuItem::RealTime)->isChecked() && !FrameDueAtVideoRate())
                return;
            const int position = m_hscroll1->value();
            if (MenuAction(MenuItem::Loop)->isChecked() && AtLastFrameOfVideo(position)) {
                SetHScroll1Value(1);
                return;
            }
            // The position is a 16-bit signed number; one past 32767 overflows.
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
