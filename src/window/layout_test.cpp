// The window as it opens: every control where the form's design puts it, with its caption,
// colours and initial state. The expectations are written out here from the design, not read
// back from the layout table, so a wrong row in the table fails.
#include "form1.h"
#include "testing/form_test_support.h"
#include "layout.h"
#include "picture_view.h"
#include "window_icon.h"
#include "dither/method_table.h"
#include "pipeline/frame_pipeline.h"
#include "pipeline/tvc_mode.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSet>
#include <QStyleOptionButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

using namespace pelorin::window;

namespace {

QWidget* Control(Form1& form, const std::string& objectName)
{
    return form.findChild<QWidget*>(QString::fromStdString(objectName));
}

QString CaptionOf(QWidget* widget)
{
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return button->text();
    if (auto* frame = qobject_cast<QGroupBox*>(widget))
        return frame->title();
    if (auto* text = qobject_cast<QLineEdit*>(widget))
        return text->text();
    return {};
}

QColor Rgb(int red, int green, int blue) { return QColor(red, green, blue); }

class WindowLayout : public ::testing::Test {
protected:
    FormWatch watch;
    Form1 form { watch.Environment() };
};

TEST_F(WindowLayout, CaptionAndFixedClientSize)
{
    EXPECT_EQ(form.windowTitle(), "Pelorin 1.0 For WinXP only");
    EXPECT_EQ(form.size(), QSize(1046, 575));
    EXPECT_EQ(form.minimumSize(), QSize(1046, 575));
    EXPECT_EQ(form.maximumSize(), QSize(1046, 575));
    EXPECT_FALSE(form.windowIcon().isNull());
    EXPECT_TRUE(form.acceptDrops());
}

TEST_F(WindowLayout, EveryControlStandsWhereItsRowPutsIt)
{
    for (const ControlLayout& row : FormLayout()) {
        if (row.kind == ControlKind::Timer)
            continue;
        const std::string name = ControlObjectName(row.control, row.index);
        SCOPED_TRACE(name);
        QWidget* widget = Control(form, name);
        ASSERT_NE(widget, nullptr);
        const QWidget* container
            = row.container.empty() ? &form : Control(form, std::string(row.container));
        EXPECT_EQ(widget->parentWidget(), container);
        EXPECT_EQ(widget->geometry(), QRect(row.left, row.top, row.width, row.height));
        if (row.kind != ControlKind::OptionButton || row.control != "Option1") {
            EXPECT_EQ(CaptionOf(widget), QString::fromUtf8(row.caption.data(), qsizetype(row.caption.size())));
        }
        EXPECT_EQ(widget->isVisibleTo(&form), row.visibleAtStart);
    }
}

TEST_F(WindowLayout, ControlsWorkedOutFromTheDesign)
{
    // A few rows checked against the design by hand, so a wrong row in the table fails too.
    EXPECT_EQ(Control(form, "Pic1")->geometry(), QRect(528, 8, 512, 240));
    EXPECT_EQ(Control(form, "HScroll1")->geometry(), QRect(528, 256, 513, 17));
    EXPECT_EQ(Control(form, "Command3")->geometry(), QRect(528, 288, 113, 41));
    EXPECT_EQ(CaptionOf(Control(form, "Command3")), "Play AVI");
    EXPECT_EQ(CaptionOf(Control(form, "Frame2")), "TVC MODE");
    EXPECT_EQ(Control(form, "Option2(1)")->geometry(), QRect(8, 56, 81, 17));
    EXPECT_EQ(Control(form, "Option2(1)")->parentWidget(), Control(form, "Frame2"));
    EXPECT_EQ(Control(form, "Text2")->geometry(), QRect(240, 504, 81, 19));
    EXPECT_FALSE(Control(form, "Text2")->isVisibleTo(&form));
    EXPECT_EQ(Control(form, "TVC16")->geometry(), QRect(392, 248, 128, 240));
    EXPECT_EQ(Control(form, "Frame3")->geometry(), QRect(872, 280, 153, 289));
}

TEST_F(WindowLayout, MethodButtonsInVisualOrderWithTheirCaptions)
{
    // Visual order is not index order: "Treshold" heads the frame, "Atkinson" and "Floyd" close it.
    QWidget* frame = Control(form, "Frame1");
    int previousTop = -1, count = 0;
    for (const ControlLayout& row : FormLayout()) {
        if (row.control != "Option1")
            continue;
        QRadioButton* button = form.Option1(row.index);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->parentWidget(), frame);
        EXPECT_EQ(button->text().toStdString(), pelorin::FindMethod(row.index)->caption);
        EXPECT_GT(row.top, previousTop);
        previousTop = row.top;
        ++count;
    }
    EXPECT_EQ(count, 16);
    EXPECT_EQ(form.Option1(3)->geometry(), QRect(16, 24, 89, 17));
    EXPECT_EQ(form.Option1(4)->text(), "Treshold+Noise");
    EXPECT_EQ(form.Option1(12)->text(), "Burkles");
    EXPECT_EQ(form.Option1(1)->geometry(), QRect(16, 248, 81, 17));
    EXPECT_EQ(form.Option1(2)->geometry(), QRect(16, 264, 81, 17));
}

TEST_F(WindowLayout, OptionGroupsStartWithGraphics16AndAtkinson)
{
    for (int index = 1; index <= 16; ++index)
        EXPECT_EQ(form.Option1(index)->isChecked(), index == 1) << "Option1(" << index << ")";
    for (int index = 0; index <= 2; ++index)
        EXPECT_EQ(form.Option2(index)->isChecked(), index == 2) << "Option2(" << index << ")";
    EXPECT_EQ(form.Option1Group()->buttons().size(), 16);
    EXPECT_EQ(form.Option2Group()->buttons().size(), 3);
    EXPECT_TRUE(form.Option1Group()->exclusive());
    EXPECT_TRUE(form.Option2Group()->exclusive());
}

TEST_F(WindowLayout, SwatchesAreDarkGreyLabelsInTheirColumns)
{
    QWidget* frame = Control(form, "Frame3");
    struct Column {
        const char* array;
        int count;
        int left;
        int firstTop;
    };
    for (const Column& column : { Column { "Label1", 16, 8, 16 }, Column { "Label2", 4, 80, 16 },
             Column { "Label3", 2, 80, 112 } }) {
        for (int i = 0; i < column.count; ++i) {
            const std::string name = std::string(column.array) + "(" + std::to_string(i) + ")";
            SCOPED_TRACE(name);
            auto* swatch = qobject_cast<QLabel*>(Control(form, name));
            ASSERT_NE(swatch, nullptr);
            EXPECT_EQ(swatch->parentWidget(), frame);
            EXPECT_EQ(swatch->geometry(), QRect(column.left, column.firstTop + 16 * i, 57, 17));
            EXPECT_TRUE(swatch->text().isEmpty());
            EXPECT_TRUE(swatch->autoFillBackground());
            EXPECT_EQ(swatch->palette().color(QPalette::Window), Rgb(64, 64, 64));
            EXPECT_TRUE(swatch->isVisibleTo(&form));
        }
    }
}

TEST_F(WindowLayout, PictureBoxesHaveTheirSizesAndBackgrounds)
{
    struct Picture {
        platform::PictureBox& box;
        int width, height;
        QColor background;
    };
    const Picture pictures[] = {
        { form.TVC2(), 512, 240, Rgb(192, 192, 255) },
        { form.TVC4(), 256, 240, Rgb(192, 192, 255) },
        { form.TVC16(), 128, 240, Rgb(192, 192, 255) },
        { form.Pic2(), 512, 480, Rgb(192, 255, 255) },
        { form.Pic3(), 512, 480, Rgb(128, 128, 255) },
        { form.Pic4(), 512, 480, Rgb(192, 192, 255) },
    };
    for (const Picture& picture : pictures) {
        SCOPED_TRACE(form.View(picture.box)->objectName().toStdString());
        EXPECT_EQ(picture.box.ScaleWidth(), picture.width);
        EXPECT_EQ(picture.box.ScaleHeight(), picture.height);
        // Background only.
        const platform::Surface& image = picture.box.Image();
        const uint32_t back = picture.background.rgb() & 0xFFFFFFu;
        EXPECT_EQ(std::count(image.pixels.begin(), image.pixels.end(), back),
            ptrdiff_t(picture.width) * picture.height);
    }
}

TEST_F(WindowLayout, VideoHostStartsWithAColourfulStillPicture)
{
    platform::PictureBox& pic1 = form.Pic1();
    EXPECT_EQ(QSize(int(pic1.ScaleWidth()), int(pic1.ScaleHeight())), QSize(512, 240));
    EXPECT_TRUE(pic1.AutoRedraw());
    EXPECT_EQ(pic1.BackColor(), 0xC0C0FFu);
    const auto& pixels = pic1.Image().pixels;
    EXPECT_GT(QSet<uint32_t>(pixels.begin(), pixels.end()).size(), 1000);
}

TEST_F(WindowLayout, ScrollBarTimerFileListAndHiddenControls)
{
    QScrollBar* scroll = form.HScroll1();
    EXPECT_EQ(scroll->orientation(), Qt::Horizontal);
    EXPECT_EQ(scroll->minimum(), 0);
    EXPECT_EQ(scroll->maximum(), 32000);
    EXPECT_EQ(scroll->value(), 0);
    EXPECT_EQ(scroll->pageStep(), 1000);
    EXPECT_EQ(scroll->singleStep(), 1);

    EXPECT_TRUE(form.Timer1()->isActive());
    EXPECT_EQ(form.Timer1()->interval(), 1);

    EXPECT_EQ(form.Check1()->checkState(), Qt::Unchecked);
    EXPECT_EQ(form.Text2()->text(), "Text2");

    QListWidget* list = form.File1();
    EXPECT_EQ(list->palette().color(QPalette::Base), QColor(Qt::white));
    EXPECT_EQ(list->palette().color(QPalette::Text), QColor(Qt::black));
    // The list shows the "*.avi" files of the working folder.
    QStringList shown;
    for (int i = 0; i < list->count(); ++i)
        shown << list->item(i)->text();
    EXPECT_EQ(shown, QDir::current().entryList({ "*.avi" }, QDir::Files, QDir::Name));
}

// Where two controls of one container overlap, the one listed first in the design lies on top.
TEST_F(WindowLayout, StackingOrderFollowsTheDesign)
{
    auto stackPosition = [&](const char* name) {
        QWidget* widget = Control(form, name);
        return widget->parentWidget()->children().indexOf(widget);
    };
    // Top to bottom.
    const char* order[] = { "Command3", "Pic2", "Text2", "Text1", "Frame2", "Frame1", "Check1",
        "Pic3", "Pic4", "TVC16", "TVC4", "Command2", "Command1", "HScroll1", "Pic1", "File1",
        "Frame3", "TVC2" };
    for (size_t i = 1; i < std::size(order); ++i)
        EXPECT_GT(stackPosition(order[i - 1]), stackPosition(order[i]))
            << order[i - 1] << " must lie over " << order[i];

    // With everything shown, the point (100, 100) of the display area belongs to Pic2, and once
    // Pic2 and Pic3 are hidden, to Pic4; TVC2 lies under all of them.
    for (auto* box : { &form.Pic2(), &form.Pic3(), &form.Pic4(), &form.TVC2() })
        box->SetVisible(true);
    EXPECT_EQ(form.childAt(100, 100), form.View(form.Pic2()));
    form.Pic2().SetVisible(false);
    form.Pic3().SetVisible(false);
    EXPECT_EQ(form.childAt(100, 100), form.View(form.Pic4()));
    form.Pic4().SetVisible(false);
    EXPECT_EQ(form.childAt(100, 100), form.View(form.TVC2()));
}

// Every visible caption must be drawable whole in the room the style leaves for its text.
TEST_F(WindowLayout, EveryVisibleCaptionShowsInFull)
{
    int checked = 0;
    for (QAbstractButton* button : form.findChildren<QAbstractButton*>()) {
        if (!button->isVisibleTo(&form))
            continue;
        SCOPED_TRACE(button->objectName().toStdString());
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const bool radio = qobject_cast<QRadioButton*>(button) != nullptr;
        const QRect room = button->style()->subElementRect(
            radio ? QStyle::SE_RadioButtonContents : QStyle::SE_PushButtonContents, &option,
            button);
        const QFontMetrics metrics(button->font());
        const QRect needed = metrics.boundingRect(button->text());
        EXPECT_LE(metrics.horizontalAdvance(button->text()), room.width());
        EXPECT_LE(needed.width(), room.width());
        EXPECT_LE(metrics.height(), room.height());
        ++checked;
    }
    EXPECT_EQ(checked, 16 + 3 + 2);
    for (QGroupBox* frame : form.findChildren<QGroupBox*>()) {
        QStyleOptionGroupBox option;
        option.initFrom(frame);
        option.text = frame->title();
        option.subControls = QStyle::SC_GroupBoxLabel;
        const QRect label = frame->style()->subControlRect(
            QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, frame);
        EXPECT_TRUE(frame->rect().contains(label)) << frame->title().toStdString();
        EXPECT_GE(label.width(), QFontMetrics(frame->font()).horizontalAdvance(frame->title()));
    }
    // About the size the layout was drawn for: an 8-point sans font of 9 to 11 pixels.
    const QFontInfo font(form.font());
    EXPECT_GE(font.pixelSize(), 9);
    EXPECT_LE(font.pixelSize(), 11);
}

// Each mode's controls are rows of the layout that fit the mode table's row: the Option2 button
// carries the mode's caption, the working picture has the mode's working size, the display
// picture the enlarged size, and the swatch array one label per palette entry.
TEST(WindowModeControls, EachModeHasItsOwnControlsThatFitItsRow)
{
    QSet<int> option2Indices;
    ASSERT_EQ(FormModeControls().size(), pelorin::TvcModes().size());
    for (const pelorin::TvcMode& mode : pelorin::TvcModes()) {
        SCOPED_TRACE("mode " + std::to_string(mode.number));
        const ModeControls& controls = ControlsOfMode(mode.number);
        EXPECT_EQ(controls.modeNumber, mode.number);
        option2Indices.insert(controls.option2Index);

        const ControlLayout* option = FindLayout("Option2", controls.option2Index);
        ASSERT_NE(option, nullptr);
        EXPECT_EQ(option->caption, mode.caption);
        const ControlLayout* working = FindLayout(controls.workingPicture);
        ASSERT_NE(working, nullptr);
        EXPECT_EQ(working->kind, ControlKind::PictureBox);
        EXPECT_EQ(working->width, mode.workingWidth);
        EXPECT_EQ(working->height, mode.workingHeight);
        const ControlLayout* display = FindLayout(controls.displayPicture);
        ASSERT_NE(display, nullptr);
        EXPECT_EQ(display->kind, ControlKind::PictureBox);
        EXPECT_EQ(display->width, pelorin::kDisplayWidth);
        EXPECT_EQ(display->height, pelorin::kDisplayHeight);
        for (size_t entry = 0; entry < mode.palette.size(); ++entry)
            EXPECT_NE(FindLayout(controls.swatches, int(entry)), nullptr) << "entry " << entry;
        EXPECT_EQ(FindLayout(controls.swatches, int(mode.palette.size())), nullptr);
    }
    EXPECT_EQ(option2Indices, (QSet<int> { 0, 1, 2 }));
    EXPECT_THROW(ControlsOfMode(8), std::out_of_range);
}

TEST(WindowIcon, TwoImagesOfSixteenAndTwoHundredFiftySixColours)
{
    QSet<QRgb> shown[2];
    for (int colours : { 16, 256 }) {
        const QImage image = MakeIconImage(colours);
        EXPECT_EQ(image.size(), QSize(32, 32));
        EXPECT_EQ(image.format(), QImage::Format_Indexed8);
        EXPECT_EQ(image.colorCount(), colours);
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                shown[colours == 256].insert(image.pixel(x, y));
        // A picture, not a flat square: the corner is clear, the screen is not.
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
        EXPECT_EQ(qAlpha(image.pixel(16, 12)), 255);
    }
    EXPECT_GE(shown[0].size(), 6);
    // The 256-colour image shows the sweep smoothly, with more colours than the 16-colour one.
    EXPECT_GT(shown[1].size(), shown[0].size());
}

} // namespace
