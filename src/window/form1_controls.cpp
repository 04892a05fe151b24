// Form1's controls: the widget style the layout was measured for, the caption font that fits it,
// HScroll1's scroll bar with keys and a focus frame, and the factory that builds every control
// from the layout table.
#include "form1.h"

#include "convert/palette.h"
#include "dither/method_table.h"
#include "layout.h"
#include "picture_view.h"
#include "platform/runtime_error.h"
#include "platform/sample_picture.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>
#include <QStyleOptionSlider>
#include <QTimer>

#include <cassert>
#include <ranges>
#include <span>
#include <stdexcept>
#include <vector>

namespace pelorin::window {

namespace {
    using platform::ErrorNumber;
    using platform::PictureBox;
    using platform::RuntimeError;

    constexpr int kTimerIntervalMs = 1;

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

    QString Caption(std::string_view text)
    {
        return QString::fromUtf8(text.data(), qsizetype(text.size()));
    }

    // The form, or the frame (made before) that the row names as its container.
    QWidget* ContainerOf(
        const ControlLayout& row, QWidget* form, std::span<QGroupBox* const> frames)
    {
        if (row.container.empty())
            return form;
        const int number = row.container.back() - '0';
        assert(number >= 1 && number <= 3 && frames[size_t(number)]);
        return frames[size_t(number)];
    }

    // An Option1 button shows its method's caption from the method table; Option2's its own.
    QRadioButton* MakeOptionButton(const ControlLayout& row, QWidget* parent, QButtonGroup* group)
    {
        auto* option = new QRadioButton(parent);
        if (row.control == "Option1") {
            const Method* method = FindMethod(row.index);
            if (!method)
                throw std::logic_error("no method for Option1 index " + std::to_string(row.index));
            option->setText(Caption(method->caption));
        } else {
            option->setText(Caption(row.caption));
        }
        group->addButton(option, row.index);
        return option;
    }

    QTimer* MakeTimer(QObject* parent)
    {
        auto* timer = new QTimer(parent);
        timer->setObjectName("Timer1");
        timer->setTimerType(Qt::PreciseTimer);
        timer->setInterval(kTimerIntervalMs);
        return timer;
    }

    QScrollBar* MakeScrollBar(QWidget* parent)
    {
        auto* bar = new FrameScrollBar(Qt::Horizontal, parent);
        bar->setRange(0, kScrollMaximum);
        bar->setPageStep(kScrollPageStep);
        bar->setSingleStep(1);
        bar->setValue(0);
        // A position is taken when the thumb is let go, not at every pixel of a drag; while
        // stepping, the tick shows the frame under a held thumb.
        bar->setTracking(false);
        // Reached with Tab: arrows move one frame, Page Up / Page Down 1000.
        bar->setFocusPolicy(Qt::StrongFocus);
        // A right click on the bar opens the window's menu, not the bar's own.
        bar->setContextMenuPolicy(Qt::NoContextMenu);
        return bar;
    }

    QListWidget* MakeFileList(QWidget* parent)
    {
        auto* list = new QListWidget(parent);
        QPalette palette = list->palette();
        palette.setColor(QPalette::Base, Qt::white);
        palette.setColor(QPalette::Text, Qt::black);
        list->setPalette(palette);
        // The list shows the process's working folder, which the program never sets.
        list->addItems(QDir::current().entryList({ "*.avi" }, QDir::Files, QDir::Name));
        return list;
    }

    QLabel* MakeSwatch(const ControlLayout& row, QWidget* parent)
    {
        auto* swatch = new QLabel(parent);
        swatch->setAutoFillBackground(true);
        SetBackground(swatch, QPalette::Window, row.backColor);
        return swatch;
    }

    // The row's name, place, size and visibility, for the widget made for it.
    void PlaceControl(QWidget* widget, const ControlLayout& row)
    {
        widget->setObjectName(QString::fromStdString(ControlObjectName(row.control, row.index)));
        widget->setGeometry(row.left, row.top, row.width, row.height);
        widget->setVisible(row.visibleAtStart);
        if (auto* view = qobject_cast<PictureView*>(widget))
            view->Box().SetVisible(row.visibleAtStart);
    }

    // Later siblings are drawn over earlier ones; raising from the bottom row up leaves the
    // first row of the table on top.
    void StackInTableOrder(const std::vector<std::pair<const ControlLayout*, QWidget*>>& created)
    {
        for (const ControlLayout& row : std::views::reverse(FormLayout()))
            for (auto& [createdRow, widget] : created)
                if (createdRow == &row)
                    widget->raise();
    }

    // The unit of the conversion time, just right of Text2 and shown with it. It covers no
    // control of the table.
    QLabel* MakeTimeUnit(QWidget* form)
    {
        const ControlLayout* text2 = FindLayout("Text2");
        assert(text2);
        auto* unit = new QLabel("ms", form);
        unit->setObjectName("TimeUnit");
        unit->setGeometry(text2->left + text2->width + 4, text2->top, 20, text2->height);
        unit->setVisible(false);
        return unit;
    }

    // Where the frame is, right of the unit and left of the "TVC MODE" frame, below the display
    // pictures; every control under it is hidden.
    QLabel* MakeFrameLine(QWidget* form, const QLabel* timeUnit)
    {
        const ControlLayout* text2 = FindLayout("Text2");
        const ControlLayout* frame2 = FindLayout("Frame2");
        assert(text2 && frame2);
        const int left = timeUnit->geometry().right() + 5;
        auto* line = new QLabel(form);
        line->setObjectName("FrameLine");
        line->setGeometry(left, text2->top, frame2->left - 4 - left, text2->height);
        line->setVisible(false);
        return line;
    }
} // namespace

void ApplyFormStyle() { QApplication::setStyle(new FormStyle); }

void Form1::CreateControls()
{
    m_option1Group = new QButtonGroup(this);
    m_option2Group = new QButtonGroup(this);
    std::vector<std::pair<const ControlLayout*, QWidget*>> created;
    size_t viewCount = 0;

    // Frames first, so that the controls inside them have their parent.
    for (int pass = 0; pass < 2; ++pass) {
        for (const ControlLayout& row : FormLayout()) {
            if ((row.kind == ControlKind::Frame) != (pass == 0))
                continue;
            const QString caption = Caption(row.caption);
            QWidget* parent = ContainerOf(row, this, m_frames);
            QWidget* widget = nullptr;
            switch (row.kind) {
            case ControlKind::Frame:
                widget = m_frames[size_t(row.control.back() - '0')]
                    = new QGroupBox(caption, parent);
                break;
            case ControlKind::Button:
                widget = (row.control == "Command1" ? m_command1
                        : row.control == "Command2" ? m_command2
                                                    : m_command3)
                    = new QPushButton(caption, parent);
                break;
            case ControlKind::TextBox:
                widget = (row.control == "Text1" ? m_text1 : m_text2)
                    = new QLineEdit(caption, parent);
                break;
            case ControlKind::OptionButton:
                widget = (row.control == "Option1" ? m_option1[size_t(row.index)]
                                                   : m_option2[size_t(row.index)])
                    = MakeOptionButton(
                        row, parent, row.control == "Option1" ? m_option1Group : m_option2Group);
                break;
            case ControlKind::CheckBox:
                widget = m_check1 = new QCheckBox(caption, parent);
                break;
            case ControlKind::Timer:
                m_timer1 = MakeTimer(this);
                continue;
            case ControlKind::ScrollBar:
                widget = m_hscroll1 = MakeScrollBar(parent);
                break;
            case ControlKind::FileList:
                widget = m_file1 = MakeFileList(parent);
                break;
            case ControlKind::Label: {
                const std::span<QLabel*> array = row.control == "Label1"
                    ? std::span<QLabel*>(m_label1)
                    : row.control == "Label2" ? std::span<QLabel*>(m_label2)
                                              : std::span<QLabel*>(m_label3);
                widget = array[size_t(row.index)] = MakeSwatch(row, parent);
                break;
            }
            case ControlKind::PictureBox: {
                auto& box = PictureBoxSlot(row.control);
                box = std::make_unique<PictureBox>(row.width, row.height, row.backColor);
                if (row.control == "Pic1")
                    box->Image() = platform::MakeSamplePicture(row.width, row.height);
                widget = m_views[viewCount++] = new PictureView(*box, parent);
                break;
            }
            }
            PlaceControl(widget, row);
            created.emplace_back(&row, widget);
        }
    }
    m_option1[1]->setChecked(true);
    m_option2[2]->setChecked(true);
    m_text2->setContextMenuPolicy(Qt::NoContextMenu);
    StackInTableOrder(created);
    m_timeUnit = MakeTimeUnit(this);
    m_frameLine = MakeFrameLine(this, m_timeUnit);
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

void Form1::SetSwatch(QLabel* swatch, int paletteIndex)
{
    if (paletteIndex < 0 || size_t(paletteIndex) >= Palette.size())
        throw RuntimeError(ErrorNumber::SubscriptOutOfRange,
            "Palette(" + std::to_string(paletteIndex) + ") of " + std::to_string(Palette.size())
                + " entries");
    const PaletteEntry& entry = Palette[size_t(paletteIndex)];
    SetBackground(swatch, QPalette::Window, platform::Rgb(entry.Red, entry.Green, entry.Blue));
}

} // namespace pelorin::window
