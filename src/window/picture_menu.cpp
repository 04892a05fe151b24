#include "picture_menu.h"

#include "layout.h"

#include "convert/stretch_picture.h"
#include "convert/tvc_colours.h"
#include "convert/working_bitmap.h"
#include "pipeline/frame_pipeline.h"
#include "video/mci.h"
#include "video/video_device.h"

#include <QAction>
#include <QActionGroup>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>

#include <algorithm>
#include <cassert>
#include <cmath>

namespace pelorin::window {

namespace {
    // The sliders: the setting, its range and its neutral value. Gamma moves in hundredths.
    struct SliderRow {
        const char* caption;
        int minimum, maximum, neutral;
    };
    constexpr SliderRow kSliderRows[] = {
        { "Brightness", -100, 100, 0 },
        { "Contrast", -100, 100, 0 },
        { "Saturation", -100, 100, 0 },
        { "Gamma (× 100)", 20, 500, 100 },
    };

    // The shape items, in Aspect order, and the word pelorin-convert takes for each.
    struct ShapeRow {
        video::Aspect aspect;
        const char* caption;
        const char* objectName;
        const char* word;
    };
    constexpr ShapeRow kShapeRows[] = {
        { video::Aspect::Stretch, "Stretch to the screen", "ShapeStretch", "stretch" },
        { video::Aspect::Fit, "Fit, with black bars", "ShapeFit", "fit" },
        { video::Aspect::Fill, "Fill, cropping the sides", "ShapeFill", "fill" },
    };

    // Paints black every pixel of `image` outside `rect`.
    void BlackenOutside(platform::Surface& image, const video::WindowRect& rect)
    {
        for (int y = 0; y < image.height; ++y) {
            const bool rowInside = y >= rect.y && y < rect.y + rect.height;
            for (int x = 0; x < image.width; ++x)
                if (!rowInside || x < rect.x || x >= rect.x + rect.width)
                    image.At(x, y) = 0;
        }
    }
} // namespace

QPoint AdjustDialogPlace(
    const QRect& window, const QRect& picture, const QSize& dialog, const QRect& screen)
{
    constexpr int kGap = 8;
    const int centredY = window.top() + (window.height() - dialog.height()) / 2;
    const int centredX = window.left() + (window.width() - dialog.width()) / 2;
    const QPoint beside[] = {
        { window.right() + 1 + kGap, std::clamp(centredY, screen.top(), screen.bottom()) },
        { window.left() - kGap - dialog.width(),
            std::clamp(centredY, screen.top(), screen.bottom()) },
        { std::clamp(centredX, screen.left(), screen.right()), window.bottom() + 1 + kGap },
        { std::clamp(centredX, screen.left(), screen.right()),
            window.top() - kGap - dialog.height() },
    };
    for (const QPoint& at : beside)
        if (screen.contains(QRect(at, dialog)))
            return at;
    // No room beside the window: over its right side, where the source view is, which matters
    // less while adjusting than the converted picture on the left.
    QPoint at(picture.right() + 1 + kGap, picture.top());
    at.setX(std::max(picture.right() + 1, std::min(at.x(), screen.right() + 1 - dialog.width())));
    at.setY(std::clamp(
        at.y(), screen.top(), std::max(screen.top(), screen.bottom() + 1 - dialog.height())));
    return at;
}

PictureMenu::PictureMenu(QWidget* parent, std::function<void()> reconvert)
    : QObject(parent)
    , m_parent(parent)
    , m_reconvert(std::move(reconvert))
{
}

PictureMenu::~PictureMenu() = default;

void PictureMenu::AddTo(QMenu* menu)
{
    m_bestPalette = menu->addAction("Best palette for the picture");
    m_bestPalette->setObjectName("BestPalette");
    m_bestPerScene = menu->addAction("Best palette for each scene");
    m_bestPerScene->setObjectName("BestPalettePerScene");
    // One of the two, or neither.
    auto* palettes = new QActionGroup(this);
    palettes->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (QAction* item : { m_bestPalette, m_bestPerScene }) {
        item->setCheckable(true);
        palettes->addAction(item);
        // The form colours the swatches of every mode it converts with the registers it used.
        connect(item, &QAction::toggled, this, [this](bool on) {
            if (on)
                m_givenPalette.reset();
            m_reconvert();
        });
    }
    m_adjust = menu->addAction("Adjust picture…");
    m_adjust->setObjectName("AdjustPicture");
    connect(m_adjust, &QAction::triggered, this, [this] {
        QDialog* dialog = AdjustDialog();
        if (!m_dialogPlaced)
            PlaceAdjustDialog();
        m_dialogPlaced = true;
        dialog->show();
        dialog->raise();
    });

    QMenu* shape = menu->addMenu("Picture shape");
    shape->setObjectName("PictureShape");
    m_shapes = new QActionGroup(this);
    m_shapes->setExclusive(true);
    for (const ShapeRow& row : kShapeRows) {
        QAction* action = shape->addAction(row.caption);
        action->setObjectName(row.objectName);
        action->setCheckable(true);
        action->setChecked(row.aspect == video::Aspect::Stretch);
        m_shapes->addAction(action);
        m_shapeActions[size_t(row.aspect)] = action;
    }
    connect(m_shapes, &QActionGroup::triggered, this, [this] { m_reconvert(); });

    m_exact = menu->addAction("Exact diffusion");
    m_exact->setObjectName("ExactDiffusion");
    m_exact->setCheckable(true);
    connect(m_exact, &QAction::toggled, this, [this] { m_reconvert(); });
}

void PictureMenu::SetDiffusionChoice(const session::Recipe& given)
{
    const QSignalBlocker quiet(m_exact);
    m_exact->setChecked(given.diffusion == session::Diffusion::Exact);
    m_givenLinearLight = given.linearLight;
    m_givenDistance = given.distance;
}

void PictureMenu::ApplyDiffusion(session::Recipe& recipe) const
{
    const bool exact = m_exact && m_exact->isChecked();
    recipe.diffusion = exact ? session::Diffusion::Exact : session::Diffusion::Integer;
    recipe.linearLight = exact && m_givenLinearLight;
    recipe.distance = exact ? m_givenDistance : session::Distance::Rgb;
}

QAction* PictureMenu::ShapeAction(video::Aspect aspect) const
{
    return m_shapeActions.at(size_t(aspect));
}

video::Aspect PictureMenu::Shape() const
{
    for (const ShapeRow& row : kShapeRows)
        if (m_shapeActions[size_t(row.aspect)] && m_shapeActions[size_t(row.aspect)]->isChecked())
            return row.aspect;
    return video::Aspect::Stretch;
}

std::string PictureMenu::PlaceVideo(platform::PictureBox& pic1, const std::string& videoPath)
{
    const video::Aspect aspect = Shape();
    // Stretch is the shell's own placing (the open's "put ... window at"): nothing to do unless
    // another shape placed the picture last.
    if (aspect == video::Aspect::Stretch && !m_placed)
        return {};
    video::VideoDevice* player = videoPath.empty() ? nullptr : MciOpenVideoToPlace("video1");
    if (!player) {
        m_placed.reset();
        return {};
    }
    const video::WindowRect whole { 0, 0, kHostWidth, kHostHeight };
    video::WindowRect wanted = whole;
    if (aspect != video::Aspect::Stretch) {
        // The pixel shape takes a second look at the file: read once per file.
        if (videoPath != m_shapePath || player->VideoWidth() != m_shapeWidth) {
            m_pixelAspect = video::PixelAspect(videoPath, player->VideoWidth());
            m_shapePath = videoPath;
            m_shapeWidth = player->VideoWidth();
        }
        wanted = video::AspectRect(aspect, kHostWidth, kHostHeight, player->VideoWidth(),
            player->VideoHeight(), m_pixelAspect);
    }
    // A video opened since (the shell puts its window over the whole host) or another shape.
    const bool moved = player->Window() != wanted;
    if (moved && !player->PutWindow(wanted)) {
        // A frame too far from the screen's shape to be filled (one of its pixels drawn past
        // what the device scales): it stays where it was, and the user is told why once.
        m_placed.reset();
        if (m_refused == wanted)
            return {};
        m_refused = wanted;
        return std::string("\"") + kShapeRows[size_t(aspect)].caption
            + "\" cannot show this picture: " + player->WindowProblem(wanted) + ".";
    }
    m_refused.reset();
    if (aspect == video::Aspect::Stretch) {
        m_placed.reset();
        return {};
    }
    // Moving the window shows the box's own back colour where the picture was; the screen
    // around the picture is black, as in pelorin-convert.
    if (moved || m_placed != wanted) {
        std::lock_guard lock(pic1.Lock());
        BlackenOutside(pic1.Image(), wanted);
    }
    m_placed = wanted;
    return {};
}

QDialog* PictureMenu::AdjustDialog()
{
    if (m_dialog)
        return m_dialog;
    m_dialog = new QDialog(m_parent);
    m_dialog->setObjectName("AdjustDialog");
    m_dialog->setWindowTitle("Adjust picture");
    auto* form = new QFormLayout(m_dialog);
    for (size_t i = 0; i < m_sliders.size(); ++i) {
        const SliderRow& row = kSliderRows[i];
        auto* slider = new QSlider(Qt::Horizontal, m_dialog);
        slider->setRange(row.minimum, row.maximum);
        slider->setValue(row.neutral);
        slider->setMinimumWidth(240);
        auto* value = new QLabel(QString::number(row.neutral), m_dialog);
        value->setMinimumWidth(32);
        auto* line = new QHBoxLayout;
        line->addWidget(slider);
        line->addWidget(value);
        form->addRow(row.caption, line);
        m_sliders[i] = slider;
        m_values[i] = value;
        // Each move converts the frame again, so the effect shows at once.
        connect(slider, &QSlider::valueChanged, this, [this, i](int v) {
            m_values[i]->setNum(v);
            const PictureAdjustments a = FromSliders();
            if (a == m_adjustments)
                return;
            m_adjustments = a;
            m_reconvert();
        });
    }
    auto* buttons
        = new QDialogButtonBox(QDialogButtonBox::Reset | QDialogButtonBox::Close, m_dialog);
    connect(buttons->button(QDialogButtonBox::Reset), &QPushButton::clicked, this,
        [this] { SetAdjustments({}); });
    connect(buttons, &QDialogButtonBox::rejected, m_dialog, &QDialog::hide);
    form->addRow(buttons);
    return m_dialog;
}

void PictureMenu::PlaceAdjustDialog()
{
    // Beside the window, not over the picture it adjusts; where the user moves it later, it
    // stays.
    QWidget* window = m_parent->window();
    const QScreen* screen = window->screen();
    if (!screen)
        return;
    m_dialog->adjustSize();
    // The dialog's frame is not known before it first shows: take the window's as its like.
    const QMargins frame(window->geometry().left() - window->frameGeometry().left(),
        window->geometry().top() - window->frameGeometry().top(),
        window->frameGeometry().right() - window->geometry().right(),
        window->frameGeometry().bottom() - window->geometry().bottom());
    // The display pictures all lie where Pic2 does.
    const ControlLayout* display = FindLayout("Pic2");
    assert(display);
    const QRect picture(m_parent->mapToGlobal(QPoint(display->left, display->top)),
        QSize(display->width, display->height));
    const QSize framed = m_dialog->size().grownBy(frame);
    const QPoint at
        = AdjustDialogPlace(window->frameGeometry(), picture, framed, screen->availableGeometry());
    m_dialog->move(at);
}

PictureAdjustments PictureMenu::FromSliders() const
{
    PictureAdjustments a;
    a.brightness = m_sliders[0]->value();
    a.contrast = m_sliders[1]->value();
    a.saturation = m_sliders[2]->value();
    a.gamma = m_sliders[3]->value() / 100.0;
    return a;
}

void PictureMenu::SetAdjustments(const PictureAdjustments& adjustments)
{
    AdjustDialog();
    const int values[4] = { adjustments.brightness, adjustments.contrast, adjustments.saturation,
        int(std::lround(adjustments.gamma * 100)) };
    for (size_t i = 0; i < m_sliders.size(); ++i) {
        // One conversion for the whole change, not one per slider.
        const QSignalBlocker block(m_sliders[i]);
        m_sliders[i]->setValue(values[i]);
        m_values[i]->setNum(m_sliders[i]->value());
    }
    m_adjustments = FromSliders();
    m_reconvert();
}

platform::PictureBox& PictureMenu::HostFor(platform::PictureBox& pic1)
{
    if (m_adjustments.IsNeutral())
        return pic1;
    const platform::Surface& frame = pic1.Image();
    if (!m_adjustedHost || m_adjustedHost->Image().width != frame.width
        || m_adjustedHost->Image().height != frame.height)
        m_adjustedHost = std::make_unique<platform::PictureBox>(frame.width, frame.height);
    {
        std::lock_guard lock(pic1.Lock());
        m_adjustedHost->Image() = frame;
    }
    // Only the video's own rectangle: the bars around a fitted picture stay black.
    if (m_placed)
        AdjustPicture(m_adjustedHost->Image(), m_adjustments, m_placed->x, m_placed->y,
            m_placed->width, m_placed->height);
    else
        AdjustPicture(m_adjustedHost->Image(), m_adjustments);
    return *m_adjustedHost;
}

std::optional<session::PaletteRequest> PictureMenu::PaletteChoice() const
{
    session::PaletteRequest chosen;
    if (m_bestPalette && m_bestPalette->isChecked())
        chosen.kind = session::PaletteRequest::Kind::Best;
    else if (m_bestPerScene && m_bestPerScene->isChecked())
        chosen.kind = session::PaletteRequest::Kind::BestPerScene;
    else
        return m_givenPalette;
    return chosen;
}

void PictureMenu::SetPaletteChoice(const std::optional<session::PaletteRequest>& choice)
{
    using Kind = session::PaletteRequest::Kind;
    const QSignalBlocker quietBest(m_bestPalette);
    const QSignalBlocker quietScenes(m_bestPerScene);
    m_bestPalette->setChecked(choice && choice->kind == Kind::Best);
    m_bestPerScene->setChecked(choice && choice->kind == Kind::BestPerScene);
    m_givenPalette.reset();
    if (choice && choice->kind == Kind::Registers)
        m_givenPalette = choice;
}

} // namespace pelorin::window
