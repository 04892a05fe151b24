// Form1's context menu and what its items do beside stepping: open a video, show the conversion
// time, save the picture shown, copy the pelorin-convert command that makes it.
#include "form1.h"

#include "command_line.h"
#include "convert/tvc_colours.h"
#include "dither/method_table.h"
#include "dither/steady_history.h"
#include "export_run.h"
#include "layout.h"
#include "picture_menu.h"

#include "picture_file/atomic_output.h"
#include "picture_file/file_error.h"
#include "picture_file/picture_encoder.h"
#include "pipeline/vram.h"
#include "video/video_device.h"

#include <QAction>
#include <QButtonGroup>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>

#include <cassert>
#include <stdexcept>
#include <tuple>
#include <vector>

namespace pelorin::window {

namespace {
    // The save dialog's file types, in SavedPicture order, and the extension each adds to a name
    // given without one. Two of them are PNG: for those the type says which picture is saved.
    // A name typed with an extension of another row's type is saved as that type (the first row
    // of it), as pelorin-convert decides by the name, so no file is ever written under an
    // extension that belongs to another type.
    struct SaveType {
        const char* filter;
        const char* extension;
        SavedPicture kind;
    };
    constexpr SaveType kSaveTypes[] = {
        { "Display picture as shown, 512 × 480 (*.png)", "png", SavedPicture::Display },
        { "Working picture at TVC resolution (*.png)", "png", SavedPicture::Working },
        { "TVC video memory (*.vram)", "vram", SavedPicture::Vram },
        { "TVC picture file (*.kep)", "kep", SavedPicture::Kep },
        { "TVC program showing the picture (*.cas)", "cas", SavedPicture::Cas },
    };

    // What a file named `path` is saved as when the dialog's type chose `chosen`.
    SavedPicture KindForName(const QString& path, SavedPicture chosen)
    {
        const QString suffix = QFileInfo(path).suffix().toLower();
        for (const SaveType& type : kSaveTypes)
            if (type.kind == chosen && suffix == type.extension)
                return chosen;
        for (const SaveType& type : kSaveTypes)
            if (suffix == type.extension)
                return type.kind;
        return chosen; // an extension of no known type: the dialog's type decides
    }
} // namespace

SaveChoice Form1::AskWhereToSave(const QString& suggestedPath)
{
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
    const qsizetype type = std::max<qsizetype>(0, filters.indexOf(dialog.selectedNameFilter()));
    QString path = dialog.selectedFiles().front();
    // A platform's own dialog may hand back the name as typed.
    if (QFileInfo(path).suffix().isEmpty())
        path += QString(".") + kSaveTypes[type].extension;
    return SaveChoice { path, kSaveTypes[type].kind };
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
    QAction* playPause = add(MenuItem::PlayPause, "Play / pause", false);
    playPause->setShortcut(Qt::Key_Space);
    playPause->setShortcutContext(Qt::WindowShortcut);
    addAction(playPause); // Space works without the menu open
    connect(
        playPause, &QAction::triggered, this, [this] { RunEvent([this] { PlayPause_Click(); }); });
    // A frame back or on wherever the focus is, not only on the focused scroll bar.
    for (const auto& [item, text, key, frames] :
        { std::tuple { MenuItem::StepBack, "Previous frame", Qt::Key_Comma, -1 },
            std::tuple { MenuItem::StepOn, "Next frame", Qt::Key_Period, 1 } }) {
        QAction* step = add(item, text, false);
        step->setShortcut(key);
        step->setShortcutContext(Qt::WindowShortcut);
        addAction(step);
        connect(step, &QAction::triggered, this,
            [this, frames = frames] { RunEvent([this, frames] { StepFrame_Click(frames); }); });
    }
    m_menu->addSeparator();

    QAction* realTime = add(MenuItem::RealTime, "Step at the video's own frame rate", true);
    connect(realTime, &QAction::toggled, this, [this] { m_lastAdvance.reset(); });
    add(MenuItem::Loop, "Loop at the end of the video", true);
    QAction* fit = add(MenuItem::FitScrollBar, "Scroll bar fits the video", true);
    connect(fit, &QAction::toggled, this, [this] { RunEvent([this] { ApplyScrollRange(); }); });
    QAction* showTime = add(MenuItem::ShowTime, "Show conversion time", true);
    connect(showTime, &QAction::toggled, this, [this](bool on) { ShowTime(on); });
    QAction* showFrame = add(MenuItem::ShowFrame, "Show frame position", true);
    connect(showFrame, &QAction::toggled, this, [this] { ShowFrameLine(); });
    // Read by HScroll1_Change at each frame; switching it changes nothing until the next one.
    add(MenuItem::Steady, "Steady dithering", true);
    // A new palette choice, adjustment or shape is a new recipe: the session starts a steady
    // run afresh, so the copied command (which applies the choice from its first frame) still
    // makes the picture shown.
    m_pictureMenu = new PictureMenu(this, [this] { RunEvent([this] { HScroll1_Change(); }); });
    m_pictureMenu->AddTo(m_menu);
    m_menu->addSeparator();

    QAction* save = add(MenuItem::SavePicture, "Save picture…", false);
    connect(save, &QAction::triggered, this, [this] { RunEvent([this] { SavePicture_Click(); }); });
    QAction* copy = add(MenuItem::CopyCommandLine, "Copy command line", false);
    connect(
        copy, &QAction::triggered, this, [this] { RunEvent([this] { CopyCommandLine_Click(); }); });
    QAction* exportVideo = add(MenuItem::Export, "Export…", false);
    connect(
        exportVideo, &QAction::triggered, this, [this] { RunEvent([this] { Export_Click(); }); });

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
    ShowFrameLine();
}

void Form1::ShowFrameLine()
{
    const bool on = MenuAction(MenuItem::ShowTime)->isChecked()
        || MenuAction(MenuItem::ShowFrame)->isChecked();
    m_frameLine->setVisible(on);
    if (on)
        UpdateFrameLine();
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
    const video::VideoDevice* player = MciOpenVideo("video1");
    if (!player)
        return std::nullopt;
    return player->Position();
}

QString Form1::FrameName(const QString& video, int64_t frame, const TvcMode& mode) const
{
    // One pass of arg(), so that a "%1" in the file's name stays text.
    return QString("%1-%2-g%3-%4")
        .arg(QFileInfo(video).completeBaseName(), QString::number(frame),
            QString::number(mode.number), CommandLineMethodName(m_option1Group->checkedId()));
}

void Form1::SavePicture_Click()
{
    const int modeIndex = SelectedMode();
    if (modeIndex < 0) {
        m_environment.showMessage(
            MessageKind::Warning, "No TVC mode is chosen, so there is no picture to save.");
        return;
    }
    const TvcMode* mode = ModeOfOption2(modeIndex);
    assert(mode);

    const std::optional<int64_t> frame = ShownFrame();
    const QString folder = DialogFolder();
    // The start picture is the program's own; it has no video or frame to be named after.
    const QString suggested = QDir(folder).filePath(frame
            ? FrameName(QString::fromStdString(m_videoPath), *frame, *mode)
            : QString("pelorin-g%1-%2")
                  .arg(QString::number(mode->number),
                      CommandLineMethodName(m_option1Group->checkedId())));
    SaveChoice choice = m_environment.chooseSaveFile(suggested);
    if (choice.path.isEmpty())
        return;
    choice.kind = KindForName(choice.path, choice.kind);
    m_dialogFolder = QFileInfo(choice.path).absolutePath();
    const auto refuse = [&](const QString& reason) {
        m_environment.showMessage(
            MessageKind::Warning, QString("Cannot save \"%1\": %2").arg(choice.path, reason));
    };
    const bool tvcMemory = choice.kind == SavedPicture::Vram || choice.kind == SavedPicture::Kep
        || choice.kind == SavedPicture::Cas;
    if (tvcMemory && CheckedMethod() == kNoMethod) {
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
            // With registers chosen for the picture, the memory holds their numbers.
            PackVram(WorkingPicture(*mode).Snapshot(), *mode, bytes,
                PaletteOfColours(ShownColours(*mode)));
            break;
        case SavedPicture::Kep:
        case SavedPicture::Cas:
            bytes = TvcPictureFileBytes(*mode, choice.kind);
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
    const TvcMode* mode = ModeOfOption2(SelectedMode());
    if (!frame || !mode) {
        m_environment.showMessage(MessageKind::Warning,
            !frame ? QString("No video is open, so there is no command line to copy: open a "
                             "video first (\"Play AVI\" or \"Open video…\").")
                   : QString("No TVC mode is chosen, so there is no command line to copy."));
        return {};
    }
    const QString input = QString::fromStdString(m_videoPath);
    // The registers the frame was converted with, by name: the tool then converts with exactly
    // those, whichever frames a choice of its own would look at.
    // (A TVC file's own registers need no naming: the tool takes them from the file.) The
    // output is named after the choice, so variants of a frame keep their names apart.
    const session::Recipe asChosen = RecipeOfControls(*mode);
    session::Recipe recipe = asChosen;
    if (recipe.palette && !ShownColours(*mode).empty()) {
        recipe.palette = session::PaletteRequest();
        recipe.palette->colours = ShownColours(*mode);
    }
    // pelorin-convert reads a "%" in an output name as the start of a frame number, so every
    // "%" is doubled.
    QString output = FrameName(input, *frame, *mode)
        + VariantSuffix(RecipeWordsOfChoices(asChosen), m_steadyStart.has_value()) + ".png";
    output.replace("%", "%%");
    if (output.startsWith('-'))
        output.prepend("./");
    const QString program = ConvertProgram(QString::fromStdString(ProgramFolder()));
    std::optional<int64_t> steadyFrom;
    if (m_steadyStart) {
        // The shown picture is the end of a steady sequence: the tool steps through it too.
        steadyFrom = std::min(*m_steadyStart, *frame);
        if (m_steadyLast != *frame)
            m_environment.showMessage(MessageKind::Warning,
                QString("Steady dithering has run on past the video's end (to frame %1 of the "
                        "scroll bar) over its last frame %2; the copied command gives frame %2 "
                        "as it was first reached, which may differ from the picture shown.")
                    .arg(QString::number(m_steadyLast), QString::number(*frame)));
    }
    return ConvertCommand(program, recipe, *frame, input, output, steadyFrom);
}

} // namespace pelorin::window
