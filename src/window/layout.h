#pragma once
// The form's controls in one table: name, array index, kind, the frame that holds it, position,
// size, caption, background and whether it is visible when the window opens.
//
// Rows run from the top of the stacking order to the bottom: where two controls of the same
// container overlap, the earlier row covers the later one. Positions are pixels from the top-left
// corner of the form's client area, or of the holding frame for a control inside a frame. The
// method buttons (Option1) are listed in their visual order, top to bottom, which is not their
// index order; their captions come from the method table, so their rows leave `caption` empty.
#include "pipeline/tvc_mode.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace pelorin::window {

constexpr int kClientWidth = 1046;
constexpr int kClientHeight = 575;
constexpr std::string_view kFormCaption = "Pelorin 1.0 For WinXP only";

// HScroll1's range, 0 ... kScrollMaximum, and its page step; the arrow step is 1.
constexpr int kScrollMaximum = 32000;
constexpr int kScrollPageStep = 1000;

enum class ControlKind {
    Button,
    PictureBox,
    TextBox,
    Frame,
    OptionButton,
    CheckBox,
    Timer,
    ScrollBar,
    FileList,
    Label,
};

constexpr int kNoIndex = -1;
// The toolkit's own background for the control kind.
constexpr uint32_t kDefaultBackColor = 0xFFFFFFFFu;

struct ControlLayout {
    std::string_view control; // "Command3", "Option1", "Pic2", ...
    int index; // index within its control array, or kNoIndex
    ControlKind kind;
    std::string_view container; // empty for the form itself, else "Frame1" / "Frame2" / "Frame3"
    int left;
    int top;
    int width;
    int height;
    std::string_view caption;
    uint32_t backColor; // 0x00RRGGBB, or kDefaultBackColor
    bool visibleAtStart;
};

// Every control of the form, top of the stacking order first. Timer1 has no place on screen; its
// row has zero geometry.
std::span<const ControlLayout> FormLayout();

// The row of `control` (with `index` for an array element). Null when there is none.
const ControlLayout* FindLayout(std::string_view control, int index = kNoIndex);

// "Option1(3)" for an array element, "Pic1" otherwise: the object name each control gets.
std::string ControlObjectName(std::string_view control, int index);

// The window's side of a TVC mode: the controls that choose and show it, and the order of its
// frame's calls. The mode's own facts (caption, size, palette) are the mode table's
// (pipeline/tvc_mode.h); a row here names its mode by number.
struct ModeControls {
    int modeNumber; // 2, 4 or 16
    int option2Index; // the Option2 button that chooses the mode
    std::string_view workingPicture; // the working picture at TVC resolution: "TVC16"
    std::string_view displayPicture; // the working picture enlarged: "Pic4"
    std::string_view swatches; // the label array that shows the palette: "Label1"
    // The frame loads the mode's palette before the capture copy, not after it. No pixel depends
    // on it; the window's order of calls does.
    bool paletteBeforeCapture;
};

// One row per TVC mode, in the mode table's order.
std::span<const ModeControls> FormModeControls();

// The row of mode `modeNumber`; throws std::out_of_range for a number that is not a mode's.
const ModeControls& ControlsOfMode(int modeNumber);

// The row of the mode table that Option2(option2Index) chooses; null when none does (-1: no
// Option2 is set).
const TvcMode* ModeOfOption2(int option2Index);

} // namespace pelorin::window
