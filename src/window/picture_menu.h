#pragma once
// The window's menu items that change the picture before and around the method: "Best palette
// for the picture" (the registers of "Graphics 2" and "Graphics 4" chosen for each frame shown)
// and "Adjust picture…" (brightness, contrast, saturation and gamma before the capture, in a
// small dialog whose sliders act at once), and "Picture shape" (the video drawn into the host
// picture stretched, as always, or at its display aspect, fitted with black bars or filling the
// screen). All are off (Stretch) at start; off, the frame's road is exactly the plain one. Kept
// apart from Form1: the form asks it for the host to capture from and the palette to use, and it
// asks the form to convert the frame again when a choice changes.
#include "convert/palette.h"
#include "convert/picture_adjust.h"
#include "pipeline/tvc_mode.h"
#include "platform/picture_box.h"
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
    // The registers to convert `host` with in `mode` by method `methodIndex`: with "Best palette
    // for the picture" on, in "Graphics 2" or "Graphics 4" and with a method, those chosen for
    // this picture (ChoosePalette); otherwise null, the mode's own palette.
    const std::vector<PaletteEntry>* PaletteFor(
        const TvcMode& mode, int methodIndex, platform::PictureBox& host);
    // Whether the last PaletteFor for `mode` gave other registers than the one before it: the
    // pattern steady dithering keeps to is then no pattern for this frame.
    bool PaletteChanged() const { return m_changed; }
    // The colours (0 ... 15) of the registers chosen last for `mode`; empty when the mode's own
    // palette was used.
    const std::vector<int>& ChosenColours(const TvcMode& mode) const;
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

    // The pelorin-convert options that make the same picture: "--palette best", the adjustments
    // that are not neutral and the shape when it is not Stretch.
    QStringList CommandLineOptions() const;

private:
    QWidget* m_parent;
    PictureAdjustments FromSliders() const;
    // Moves the adjust dialog to AdjustDialogPlace for the window as it stands.
    void PlaceAdjustDialog();

    std::function<void()> m_reconvert;
    QAction* m_bestPalette = nullptr;
    QAction* m_adjust = nullptr;
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
    std::unique_ptr<platform::PictureBox> m_unreduced;
    std::vector<PaletteEntry> m_palette;
    std::array<std::vector<int>, 17> m_chosen {}; // by mode number
    bool m_changed = false;
};

} // namespace pelorin::window
