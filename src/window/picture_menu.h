#pragma once
// The window's menu items that change the picture before and around the method: "Best palette
// for the picture" and "Best palette for each scene" (the registers of "Graphics 2" and
// "Graphics 4" chosen for the video, once, or for each of its scenes, as pelorin-convert
// --palette best and best-per-scene choose them) and "Adjust picture…" (brightness, contrast,
// saturation and gamma before the capture, in a small dialog whose sliders act at once), and
// "Picture shape" (the video drawn into the host picture stretched, as always, or at its display
// aspect, fitted with black bars or filling the screen) and "Exact diffusion" (the
// error-diffusion methods by the exact engine). All are off (Stretch) at start; off, the
// frame's road is exactly the plain one. Kept apart from Form1: the form asks it for the host to
// capture from and the choices, which go into the recipe of the form's conversion session, and it
// asks the form to convert the frame again when a choice changes.
#include "convert/palette.h"
#include "convert/picture_adjust.h"
#include "pipeline/tvc_mode.h"
#include "platform/picture_box.h"
#include "session/recipe.h"
#include "video/picture_shape.h"

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QStringList>

#include <array>

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

class QAction;
class QActionGroup;
class QDialog;
class QLabel;
class QMenu;
class QSlider;
class QWidget;

namespace pelorin::window {

// Where the adjust dialog of size `dialog` first opens, as the top-left corner of its frame: beside
// the window `window` (right, else left, else below, else above) when it fits whole on `screen`;
// else over the window's source view, right of `picture` (the converted picture, which is what
// the user watches while adjusting), kept on the screen as far as that allows. All rectangles
// in screen coordinates, frames included.
QPoint AdjustDialogPlace(
    const QRect& window, const QRect& picture, const QSize& dialog, const QRect& screen);

class PictureMenu : public QObject {
    Q_OBJECT
public:
    // `reconvert` runs the frame's road again (through the form's event boundary) when a choice
    // changes, so its effect shows at once.
    PictureMenu(QWidget* parent, std::function<void()> reconvert);
    ~PictureMenu() override;

    // Appends the items to `menu`.
    void AddTo(QMenu* menu);
    QAction* BestPaletteAction() const { return m_bestPalette; }
    QAction* AdjustAction() const { return m_adjust; }
    // The adjust dialog (created on first use), for tests and for a look at it.
    QDialog* AdjustDialog();

    const PictureAdjustments& Adjustments() const { return m_adjustments; }
    // Sets the adjustments as the sliders would (values outside the ranges are clamped) and
    // converts again.
    void SetAdjustments(const PictureAdjustments& adjustments);

    // The host picture the capture reads: `pic1` itself while the adjustments are neutral,
    // else an adjusted copy of it (owned here, valid until the next call) in which only the
    // rectangle PlaceVideo put the video in is adjusted: the bars stay black.
    platform::PictureBox& HostFor(platform::PictureBox& pic1);
    QAction* BestPerSceneAction() const { return m_bestPerScene; }
    // The registers asked for: best or best per scene while an item is checked, else those the
    // program's command line gave (until an item is checked), else none: the mode's own.
    std::optional<session::PaletteRequest> PaletteChoice() const;
    // Sets the choice as the program's command line gives it, without converting again.
    void SetPaletteChoice(const std::optional<session::PaletteRequest>& choice);
    // "Picture shape": the item of each shape, and the shape chosen (Stretch at start). The items
    // convert again when the user picks one; checking one from code (as the program's command
    // line does before the form loads) does not.
    QAction* ShapeAction(video::Aspect aspect) const;
    video::Aspect Shape() const;
    // Places the video's picture in `pic1` for the chosen shape before a frame is drawn: with
    // Fit or Fill, the open video ("video1") draws into the rectangle of its display aspect
    // (its pixel shape read from `videoPath`) and the rest of `pic1` is black, as in
    // pelorin-convert --aspect; back at Stretch, it fills `pic1` again. With Stretch and nothing
    // to undo it does nothing at all. Call from the thread that sends the MCI strings. Returns,
    // once per file and shape, why the video cannot be drawn at its shape (it then stays where
    // it was, as pelorin-convert --aspect refuses it); otherwise empty.
    std::string PlaceVideo(platform::PictureBox& pic1, const std::string& videoPath);

    // "Exact diffusion": the error-diffusion methods by the exact engine, as pelorin-convert
    // --diffusion exact (off at start). Linear light and the perceptual distance have no item;
    // given on the program's command line they hold while the item is checked.
    QAction* ExactAction() const { return m_exact; }
    // Checks the item as the program's command line asks, without converting again, and keeps
    // its light and distance.
    void SetDiffusionChoice(const session::Recipe& given);
    // Writes the diffusion chosen into `recipe`: exact with the light and distance given while
    // the item is checked, else the integer diffusion.
    void ApplyDiffusion(session::Recipe& recipe) const;

private:
    QWidget* m_parent;
    PictureAdjustments FromSliders() const;
    // Moves the adjust dialog to AdjustDialogPlace for the window as it stands.
    void PlaceAdjustDialog();

    std::function<void()> m_reconvert;
    QAction* m_bestPalette = nullptr;
    QAction* m_bestPerScene = nullptr;
    std::optional<session::PaletteRequest> m_givenPalette;
    QAction* m_adjust = nullptr;
    QAction* m_exact = nullptr;
    bool m_givenLinearLight = false;
    session::Distance m_givenDistance = session::Distance::Rgb;
    QActionGroup* m_shapes = nullptr;
    std::array<QAction*, 3> m_shapeActions {}; // by Aspect
    // The window rectangle PlaceVideo last put, and the pixel shape read for which file and width.
    std::optional<video::WindowRect> m_placed;
    std::optional<video::WindowRect> m_refused; // the rectangle whose problem was told last
    std::string m_shapePath;
    int m_shapeWidth = 0;
    double m_pixelAspect = 1.0;
    QDialog* m_dialog = nullptr;
    bool m_dialogPlaced = false; // placed beside the window once; then where the user puts it
    std::array<QSlider*, 4> m_sliders {}; // brightness, contrast, saturation, gamma × 100
    std::array<QLabel*, 4> m_values {}; // each slider's number
    PictureAdjustments m_adjustments;
    std::unique_ptr<platform::PictureBox> m_adjustedHost;
};

} // namespace pelorin::window
