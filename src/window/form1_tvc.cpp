// The TVC's own files in the window: opened as inputs (a .kep, a .cas that Pelorin wrote, a
// .vram) and written by "Save picture…" (.kep and .cas).
#include "form1.h"

#include "dither/method_table.h"
#include "layout.h"
#include "picture_menu.h"

#include "convert/tvc_colours.h"
#include "pipeline/tvc_mode.h"
#include "pipeline/vram.h"
#include "platform/file_extension.h"
#include "tvc/tvc_files.h"
#include "tvc/tvc_read.h"
#include "tvc/tvc_source.h"

#include <QAction>
#include <QButtonGroup>
#include <QColor>
#include <QLabel>
#include <QPalette>
#include <QRadioButton>

namespace pelorin::window {

video::PictureSourceOpener Form1::MakeTvcOpener(tvc::TvcFileFacts* facts)
{
    tvc::TvcOpenerSettings settings;
    settings.width = int(m_pic1->ScaleWidth());
    settings.height = int(m_pic1->ScaleHeight());
    settings.vramMode = [this](const std::string& path) {
        const TvcMode* shownMode = nullptr;
        for (const TvcMode& mode : TvcModes())
            if (ControlsOfMode(mode.number).option2Index == SelectedMode())
                shownMode = &mode;
        if (!shownMode)
            throw tvc::TvcFileError("'" + path
                + "' holds video memory without its mode: choose its mode under \"TVC MODE\" "
                  "first");
        return shownMode;
    };
    return tvc::TvcPictureOpener(std::move(settings), facts);
}

void Form1::AdoptTvcFile()
{
    if (!m_tvcFile.mode)
        return;
    const int index = ControlsOfMode(m_tvcFile.mode->number).option2Index;
    if (SelectedMode() == index)
        return;
    m_option2[size_t(index)]->setChecked(true);
    Option2_Click(index);
}

void Form1::ShowPaletteInUse(const TvcMode& mode)
{
    // "Graphics 16" has no registers to choose: its swatches are the sixteen colours for good.
    if (mode.palette.size() >= size_t(kTvcColourCount))
        return;
    const std::vector<int> shown = ShownColours(mode);
    // Registers the recipe did not ask for came with the file.
    const bool fromFile = !shown.empty() && !m_session.Given().palette;
    const std::vector<int> colours = shown.empty() ? DefaultColours(mode) : shown;
    const bool named = !shown.empty() || (m_pictureMenu && m_pictureMenu->PaletteChoice());
    const std::string_view names = ControlsOfMode(mode.number).swatches;
    const std::span<QLabel*> swatches
        = names == "Label2" ? std::span<QLabel*>(m_label2) : std::span<QLabel*>(m_label3);
    for (size_t i = 0; i < swatches.size() && i < colours.size(); ++i) {
        const PaletteEntry& e = kTvcPalette16[size_t(colours[i])];
        QPalette palette = swatches[i]->palette();
        palette.setColor(QPalette::Window, QColor(e.Red, e.Green, e.Blue));
        swatches[i]->setPalette(palette);
        swatches[i]->setToolTip(named ? QString("register %1%2: 0x%3 (colour %4)")
                                            .arg(i)
                                            .arg(fromFile ? " of the file" : "")
                                            .arg(QString::number(RegisterValue(colours[i]), 16)
                                                     .toUpper()
                                                     .rightJustified(2, '0'))
                                            .arg(colours[i])
                                      : QString());
    }
}

std::vector<int> Form1::ShownColours(const TvcMode& mode) const
{
    return m_shownColours.at(size_t(mode.number));
}

std::vector<uint8_t> Form1::TvcPictureFileBytes(const TvcMode& mode, SavedPicture kind)
{
    const std::vector<int> colours = ShownColours(mode);
    tvc::TvcPicture picture;
    picture.mode = &mode;
    if (colours.empty()) {
        picture.registers = tvc::PaletteRegistersOf(mode);
        PackVram(WorkingPicture(mode).Snapshot(), mode, picture.vram);
    } else {
        // The memory holds the numbers of the registers the picture was converted with.
        for (size_t i = 0; i < picture.registers.size() && i < colours.size(); ++i)
            picture.registers[i] = RegisterValue(colours[i]);
        PackVram(WorkingPicture(mode).Snapshot(), mode, picture.vram, PaletteOfColours(colours));
    }
    return kind == SavedPicture::Kep ? tvc::KepBytes(picture) : tvc::PictureCasBytes(picture);
}

} // namespace pelorin::window
