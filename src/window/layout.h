#pragma once
// The form's controls in one table: name, array index, kind, the frame that holds it, position,
// size, caption, background and whether it is visible when the window opens.
//
// Rows run from the top of the stacking order to the bottom: where two controls of the same
// container overlap, the earlier row covers the later one. Positions are pixels from the top-left
// corner of the form's client area, or of the holding frame for a control inside a frame. The
// method buttons (Option1) are listed in their visual order, top to bottom, which is not their
// index order; their captions come from the method table, so their rows leave `caption` empty.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace pelorin::window {

constexpr int kClientWidth = 1046;
constexpr int kClientHeight = 575;
constexpr std::string_view kFormCaption = "Pelorin 1.0 For WinXP only";

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

} // namespace pelorin::window
