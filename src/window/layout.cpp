#include "layout.h"

#include <array>
#include <stdexcept>

namespace pelorin::window {

namespace {
    using K = ControlKind;

    constexpr uint32_t kPictureBack = 0xC0C0FF; // 192, 192, 255
    constexpr uint32_t kDisplay2Back = 0xC0FFFF; // 192, 255, 255
    constexpr uint32_t kDisplay4Back = 0x8080FF; // 128, 128, 255
    constexpr uint32_t kSwatchBack = 0x404040; // dark grey until Form_Load paints the palette
    constexpr uint32_t kWhite = 0xFFFFFF;

    // clang-format off
    constexpr std::array kLayout = std::to_array<ControlLayout>({
        { "Command3", kNoIndex, K::Button, "", 528, 288, 113, 41, "Play AVI", kDefaultBackColor, true },
        { "Pic2", kNoIndex, K::PictureBox, "", 8, 8, 512, 480, "", kDisplay2Back, false },
        { "Text2", kNoIndex, K::TextBox, "", 240, 504, 81, 19, "Text2", kDefaultBackColor, false },
        { "Text1", kNoIndex, K::TextBox, "", 192, 504, 41, 19, "Text1", kDefaultBackColor, false },
        { "Frame2", kNoIndex, K::Frame, "", 648, 280, 97, 289, "TVC MODE", kDefaultBackColor, true },
        { "Option2", 2, K::OptionButton, "Frame2", 8, 80, 81, 17, "Graphics 16", kDefaultBackColor, true },
        { "Option2", 1, K::OptionButton, "Frame2", 8, 56, 81, 17, "Graphics 4", kDefaultBackColor, true },
        { "Option2", 0, K::OptionButton, "Frame2", 8, 32, 81, 17, "Graphics 2", kDefaultBackColor, true },
        { "Frame1", kNoIndex, K::Frame, "", 744, 280, 129, 289, "Mode", kDefaultBackColor, true },
        { "Option1", 3, K::OptionButton, "Frame1", 16, 24, 89, 17, "", kDefaultBackColor, true },
        { "Option1", 4, K::OptionButton, "Frame1", 16, 40, 97, 17, "", kDefaultBackColor, true },
        { "Option1", 5, K::OptionButton, "Frame1", 16, 56, 105, 17, "", kDefaultBackColor, true },
        { "Option1", 6, K::OptionButton, "Frame1", 16, 72, 89, 17, "", kDefaultBackColor, true },
        { "Option1", 7, K::OptionButton, "Frame1", 16, 88, 89, 17, "", kDefaultBackColor, true },
        { "Option1", 8, K::OptionButton, "Frame1", 16, 104, 89, 17, "", kDefaultBackColor, true },
        { "Option1", 9, K::OptionButton, "Frame1", 16, 120, 105, 17, "", kDefaultBackColor, true },
        { "Option1", 10, K::OptionButton, "Frame1", 16, 136, 97, 17, "", kDefaultBackColor, true },
        { "Option1", 11, K::OptionButton, "Frame1", 16, 152, 89, 17, "", kDefaultBackColor, true },
        { "Option1", 12, K::OptionButton, "Frame1", 16, 168, 73, 17, "", kDefaultBackColor, true },
        { "Option1", 13, K::OptionButton, "Frame1", 16, 184, 81, 17, "", kDefaultBackColor, true },
        { "Option1", 14, K::OptionButton, "Frame1", 16, 200, 81, 17, "", kDefaultBackColor, true },
        { "Option1", 15, K::OptionButton, "Frame1", 16, 216, 81, 17, "", kDefaultBackColor, true },
        { "Option1", 16, K::OptionButton, "Frame1", 16, 232, 81, 17, "", kDefaultBackColor, true },
        { "Option1", 1, K::OptionButton, "Frame1", 16, 248, 81, 17, "", kDefaultBackColor, true },
        { "Option1", 2, K::OptionButton, "Frame1", 16, 264, 81, 17, "", kDefaultBackColor, true },
        { "Check1", kNoIndex, K::CheckBox, "", 416, 496, 105, 17, "PLAY", kDefaultBackColor, false },
        { "Timer1", kNoIndex, K::Timer, "", 0, 0, 0, 0, "", kDefaultBackColor, false },
        { "Pic3", kNoIndex, K::PictureBox, "", 8, 8, 512, 480, "", kDisplay4Back, false },
        { "Pic4", kNoIndex, K::PictureBox, "", 8, 8, 512, 480, "", kPictureBack, false },
        { "TVC16", kNoIndex, K::PictureBox, "", 392, 248, 128, 240, "", kPictureBack, false },
        { "TVC4", kNoIndex, K::PictureBox, "", 264, 248, 256, 240, "", kPictureBack, false },
        { "Command2", kNoIndex, K::Button, "", 528, 336, 113, 33, "STOP", kDefaultBackColor, true },
        { "Command1", kNoIndex, K::Button, "", 240, 528, 113, 33, "PLAY", kDefaultBackColor, false },
        { "HScroll1", kNoIndex, K::ScrollBar, "", 528, 256, 513, 17, "", kDefaultBackColor, true },
        { "Pic1", kNoIndex, K::PictureBox, "", 528, 8, 512, 240, "", kPictureBack, true },
        { "File1", kNoIndex, K::FileList, "", 496, 528, 113, 32, "", kWhite, false },
        { "Frame3", kNoIndex, K::Frame, "", 872, 280, 153, 289, "Palette", kDefaultBackColor, true },
        { "Label3", 0, K::Label, "Frame3", 80, 112, 57, 17, "", kSwatchBack, true },
        { "Label3", 1, K::Label, "Frame3", 80, 128, 57, 17, "", kSwatchBack, true },
        { "Label2", 0, K::Label, "Frame3", 80, 16, 57, 17, "", kSwatchBack, true },
        { "Label2", 1, K::Label, "Frame3", 80, 32, 57, 17, "", kSwatchBack, true },
        { "Label2", 2, K::Label, "Frame3", 80, 48, 57, 17, "", kSwatchBack, true },
        { "Label2", 3, K::Label, "Frame3", 80, 64, 57, 17, "", kSwatchBack, true },
        { "Label1", 0, K::Label, "Frame3", 8, 16, 57, 17, "", kSwatchBack, true },
        { "Label1", 1, K::Label, "Frame3", 8, 32, 57, 17, "", kSwatchBack, true },
        { "Label1", 2, K::Label, "Frame3", 8, 48, 57, 17, "", kSwatchBack, true },
        { "Label1", 3, K::Label, "Frame3", 8, 64, 57, 17, "", kSwatchBack, true },
        { "Label1", 4, K::Label, "Frame3", 8, 80, 57, 17, "", kSwatchBack, true },
        { "Label1", 5, K::Label, "Frame3", 8, 96, 57, 17, "", kSwatchBack, true },
        { "Label1", 6, K::Label, "Frame3", 8, 112, 57, 17, "", kSwatchBack, true },
        { "Label1", 7, K::Label, "Frame3", 8, 128, 57, 17, "", kSwatchBack, true },
        { "Label1", 8, K::Label, "Frame3", 8, 144, 57, 17, "", kSwatchBack, true },
        { "Label1", 9, K::Label, "Frame3", 8, 160, 57, 17, "", kSwatchBack, true },
        { "Label1", 10, K::Label, "Frame3", 8, 176, 57, 17, "", kSwatchBack, true },
        { "Label1", 11, K::Label, "Frame3", 8, 192, 57, 17, "", kSwatchBack, true },
        { "Label1", 12, K::Label, "Frame3", 8, 208, 57, 17, "", kSwatchBack, true },
        { "Label1", 13, K::Label, "Frame3", 8, 224, 57, 17, "", kSwatchBack, true },
        { "Label1", 14, K::Label, "Frame3", 8, 240, 57, 17, "", kSwatchBack, true },
        { "Label1", 15, K::Label, "Frame3", 8, 256, 57, 17, "", kSwatchBack, true },
        { "TVC2", kNoIndex, K::PictureBox, "", 8, 8, 512, 240, "", kPictureBack, true },
    });
    // clang-format on

    constexpr bool IsInside(const ControlLayout& row, const ControlLayout& frame)
    {
        return row.left >= 0 && row.top >= 0 && row.left + row.width <= frame.width
            && row.top + row.height <= frame.height;
    }

    constexpr bool ControlsFitTheirContainers()
    {
        for (const ControlLayout& row : kLayout) {
            if (row.container.empty()) {
                if (row.left + row.width > kClientWidth || row.top + row.height > kClientHeight)
                    return false;
                continue;
            }
            bool found = false;
            for (const ControlLayout& frame : kLayout)
                if (frame.control == row.container && frame.kind == K::Frame) {
                    found = true;
                    if (!IsInside(row, frame))
                        return false;
                }
            if (!found)
                return false;
        }
        return true;
    }
    static_assert(ControlsFitTheirContainers(), "a control lies outside the form or its frame");
    // clang-format off
    constexpr std::array kModeControls = std::to_array<ModeControls>({
        { 2, 0, "TVC2", "Pic2", "Label3", false },
        { 4, 1, "TVC4", "Pic3", "Label2", false },
        { 16, 2, "TVC16", "Pic4", "Label1", true },
    });
    // clang-format on
} // namespace

std::span<const ControlLayout> FormLayout() { return kLayout; }

const ControlLayout* FindLayout(std::string_view control, int index)
{
    for (const ControlLayout& row : kLayout)
        if (row.control == control && row.index == index)
            return &row;
    return nullptr;
}

std::string ControlObjectName(std::string_view control, int index)
{
    std::string name(control);
    if (index != kNoIndex)
        name += "(" + std::to_string(index) + ")";
    return name;
}

std::span<const ModeControls> FormModeControls() { return kModeControls; }

const ModeControls& ControlsOfMode(int modeNumber)
{
    for (const ModeControls& row : kModeControls)
        if (row.modeNumber == modeNumber)
            return row;
    throw std::out_of_range(
        "the window has no controls for TVC mode " + std::to_string(modeNumber));
}

const TvcMode* ModeOfOption2(int option2Index)
{
    for (const TvcMode& mode : TvcModes())
        if (ControlsOfMode(mode.number).option2Index == option2Index)
            return &mode;
    return nullptr;
}

} // namespace pelorin::window
