#pragma once
// Form1, the program's one window: the controls of the layout table, the event handlers and the
// frame pipeline HScroll1_Change.
//
// Every handler runs on the window's thread and runs to completion before the next event is
// taken. Apart from Timer1_Timer, which restarts at frame 1 on any error of its step, handlers
// catch nothing: an error that leaves a handler reaches the event boundary, where a message names
// it and the program ends.
#include "form_modules.h"
#include "pipeline/tvc_mode.h"
#include "platform/picture_box.h"
#include "session/conversion_session.h"
#include "session/option_table.h"
#include "tvc/tvc_source.h"

#include <QString>
#include <QWidget>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QTimer;

namespace pelorin::window {

class ExportRun;
class PictureMenu;
class PictureView;

enum class MessageKind { Warning, Error, Information };

// The items of the window's context menu. All of them are off at start; with none chosen the
// window behaves as it always has.
enum class MenuItem {
    OpenVideo, // "Open video…" (Ctrl+O)
    RealTime, // "Step at the video's own frame rate", checkable
    Loop, // "Loop at the end of the video", checkable
    ShowTime, // "Show conversion time", checkable
    SavePicture, // "Save picture…"
    CopyCommandLine, // "Copy command line"
    Steady, // "Steady dithering", checkable: each frame keeps to the one before's pattern
    PlayPause, // "Play / pause" (Space): stepping on the open video starts or stops
    FitScrollBar, // "Scroll bar fits the video", checkable: HScroll1 runs 0 ... the last frame
    ShowFrame, // "Show frame position", checkable: the frame line, without the time
    StepBack, // "Previous frame" (,): stepping stops, one frame back, wherever the focus is
    StepOn, // "Next frame" (.): stepping stops, one frame on
    Export, // "Export…": the open video converted by pelorin-convert with the window's recipe
};

// Where "Export…" writes and which frames: `frames` as pelorin-convert's --frames takes it
// ("120:", "0:300", "5s:12.5s"), empty for the whole video.
struct ExportChoice {
    QString path; // empty when the user cancelled; the extension chooses the kind of output
    QString frames;
};

// What "Save picture…" writes, chosen by the dialog's file type, or by the extension typed when
// that names another type (".vram" is video memory whatever the type says).
enum class SavedPicture {
    Display, // the display picture as shown, 512 × 480, PNG
    Working, // the working picture at TVC resolution, PNG
    Vram, // the TVC's video memory of the working picture, .vram
    Kep, // the TVC's picture file of the working picture, .kep
    Cas, // the TVC program that shows the working picture, .cas
};

struct SaveChoice {
    QString path; // empty when the user cancelled
    SavedPicture kind = SavedPicture::Display;
};

// What the form needs from its surroundings. Empty members take the defaults.
struct FormEnvironment {
    // The module calls; default DefaultFormModules().
    FormModules* modules = nullptr;
    // Shows a message and returns when the user has read it; default a modal message box.
    std::function<void(MessageKind, const QString& text)> showMessage;
    // Ends the program once an error has reached the event boundary; default: leave the event
    // loop with exit code 1.
    std::function<void()> endProgram;
    // The program's folder, where "Play AVI" finds tom.avi; default the executable's folder.
    QString programFolder;
    // The clock that paces stepping at the video's frame rate; default the steady clock.
    std::function<std::chrono::steady_clock::time_point()> clock;
    // Asks the user for a video or picture to open; empty when cancelled. Default a file dialog.
    std::function<QString()> chooseFile;
    // Asks the user where to save the picture and which picture to save, proposing
    // `suggestedPath` (a name without extension; the chosen type adds it). Default a file dialog.
    std::function<SaveChoice(const QString& suggestedPath)> chooseSaveFile;
    // Asks the user where to export and which frames, proposing `suggestedPath` and, as one
    // choice of frames, `fromShown` (from the frame shown on). Default a dialog.
    std::function<ExportChoice(const QString& suggestedPath, const QString& fromShown)>
        chooseExport;
};

// The widget style the layout was measured for; call once after creating the application.
void ApplyFormStyle();

class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(FormEnvironment environment = {});
    ~Form1() override;

    // Form_Load, then the clicks of the initially set mode and method buttons, so the start
    // picture is converted before the window first shows. False when an error ended the program.
    bool Load();
    // True once an error has reached the event boundary.
    bool Ended() const { return m_ended; }

    // The event handlers. They may throw; events from the toolkit reach them through the event
    // boundary, direct calls (tests, benchmarks) see the error.
    void Form_Load();
    void Form_QueryUnload();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void File1_DblClick();
    void HScroll1_Change();
    void Option1_Click(int index);
    void Option2_Click(int index);
    void Timer1_Timer();
    // A file dropped onto the window: opened like the sample of "Play AVI", stepping starts.
    void OpenDroppedFile(const QString& path);
    // OpenDroppedFile as an event of the toolkit (through the event boundary): the menu's "Open
    // video…" and a file named on the program's command line.
    void OpenFile(const QString& path);
    // The same for a name given as the file system's bytes (the program's command line): the
    // file is opened by exactly those bytes, whatever they are in the locale's encoding.
    void OpenLocalFile(const std::string& path);

    // The context menu's actions.
    // Stops stepping while it runs; otherwise starts it on the open video, opening the sample
    // as "Play AVI" does when none is open. At the end of a fitted scroll bar it starts again
    // from frame 0.
    void PlayPause_Click();
    void OpenVideo_Click(); // asks for a file, then OpenDroppedFile
    // "Previous frame" and "Next frame": stepping stops and the scroll bar moves `frames` (−1 or
    // 1), staying within its range.
    void StepFrame_Click(int frames);
    // Where the open and save dialogs start: the folder of the last file the user opened by name
    // or saved, else the current folder.
    QString DialogFolder() const;
    void CopyCommandLine_Click(); // the clipboard gets CommandLineForCurrentFrame()
    // Asks for a file and writes the chosen picture of the shown mode to it, whole or not at
    // all; the bytes are those pelorin-convert writes for the same frame, mode and method.
    void SavePicture_Click();
    // The pelorin-convert command, quoted for a POSIX shell, that writes the frame now shown,
    // converted as now shown, to a PNG in the current folder. Empty, after telling the user why,
    // when no video is open (the start picture is the program's own).
    QString CommandLineForCurrentFrame();
    // Asks where to export, then StartExport with a progress dialog; at the end the tool's
    // summary, or why nothing was written, is shown.
    void Export_Click();
    // Starts pelorin-convert on the open video with the window's recipe (mode, method, steady,
    // the picture menu's choices) writing `choice`; null, after telling the user why, when no
    // video or mode is there or an export is already running. The run belongs to the form.
    ExportRun* StartExport(const ExportChoice& choice);
    QMenu* ContextMenu() const { return m_menu; }
    // "Best palette for the picture" and "Adjust picture…" (picture_menu.h).
    PictureMenu* PictureChoices() const { return m_pictureMenu; }
    QAction* MenuAction(MenuItem item) const;
    // The "ms" caption beside Text2, shown with it.
    QLabel* TimeUnit() const { return m_timeUnit; }
    // The line beside the time shown with "Show conversion time" or "Show frame position": the
    // frame shown, the video's length, the time in the video and, with "Show conversion time",
    // the conversion time to a hundredth of a millisecond, from the same stopwatch reading as
    // Text2.
    QLabel* FrameLine() const { return m_frameLine; }

    // The program's command line (session/option_table.h) applied before Load: the menu's
    // items, the picture choices, the mode and the method.
    void ApplyStartSettings(const session::Settings& settings);
    // --frames once a file is open, as an event of the toolkit: stepping stops and frame A is
    // shown, or frames A ... B are converted in turn and B is shown. Times are read at the open
    // video's rate.
    void ShowFrames(const session::FrameRange& range);
    // The conversion session the window converts by.
    const session::ConversionSession& Session() const { return m_session; }

    // Writes HScroll1's Value like the program's code does: a value outside the scroll bar's range
    // is an error (nothing changes); a new value runs HScroll1_Change before this returns.
    void SetHScroll1Value(int value);

    // The controls, by their names.
    platform::PictureBox& Pic1() { return *m_pic1; }
    platform::PictureBox& Pic2() { return *m_pic2; }
    platform::PictureBox& Pic3() { return *m_pic3; }
    platform::PictureBox& Pic4() { return *m_pic4; }
    platform::PictureBox& TVC2() { return *m_tvc2; }
    platform::PictureBox& TVC4() { return *m_tvc4; }
    platform::PictureBox& TVC16() { return *m_tvc16; }
    PictureView* View(const platform::PictureBox& box) const;
    QPushButton* Command1() const { return m_command1; }
    QPushButton* Command2() const { return m_command2; }
    QPushButton* Command3() const { return m_command3; }
    QLineEdit* Text1() const { return m_text1; }
    QLineEdit* Text2() const { return m_text2; }
    QCheckBox* Check1() const { return m_check1; }
    QScrollBar* HScroll1() const { return m_hscroll1; }
    QTimer* Timer1() const { return m_timer1; }
    QListWidget* File1() const { return m_file1; }
    QGroupBox* Frame(int number) const; // 1 ... 3
    QRadioButton* Option1(int index) const; // 1 ... 16
    QRadioButton* Option2(int index) const; // 0 ... 2
    QButtonGroup* Option1Group() const { return m_option1Group; }
    QButtonGroup* Option2Group() const { return m_option2Group; }
    QLabel* Label1(int index) const; // 0 ... 15
    QLabel* Label2(int index) const; // 0 ... 3
    QLabel* Label3(int index) const; // 0 ... 1

    // Which Option2 index is set, or -1.
    int SelectedMode() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // The controls (form1_controls.cpp): built from the layout table, then the caption font that
    // lets every caption fit.
    void CreateControls();
    void ChooseCaptionFont();
    void SetSwatch(QLabel* swatch, int paletteIndex);

    // The handlers and the frame pipeline (form1.cpp).
    void ConnectEvents();
    // Runs a handler for an event of the toolkit: the event boundary.
    void RunEvent(const std::function<void()>& handler);
    // Opens `path` into Pic1 (operations 1 and 9) and asks the device whether it did.
    bool OpenVideo(const std::string& path);
    void ReportOpenFailure(const std::string& path);
    // The Option1 index that is set, or kNoMethod.
    int CheckedMethod() const;
    std::unique_ptr<platform::PictureBox>& PictureBoxSlot(std::string_view name);
    // The mode's working picture (TVC2 / TVC4 / TVC16) and display picture (Pic2 / Pic3 / Pic4).
    platform::PictureBox& WorkingPicture(const TvcMode& mode);
    platform::PictureBox& DisplayPicture(const TvcMode& mode);
    std::string ProgramFolder() const;
    // Where "Play AVI" finds tom.avi: beside the program, or where it is installed.
    std::string SampleVideoPath() const;

    // The context menu, Save picture and the command line (form1_menu.cpp).
    void CreateContextMenu();
    void PopUpMenuAtFocus();
    void ShowTime(bool on);
    // Shows the frame line while "Show conversion time" or "Show frame position" is on.
    void ShowFrameLine();
    void UpdateFrameLine();
    // The default of FormEnvironment::chooseSaveFile: a file dialog with a type per SavedPicture.
    SaveChoice AskWhereToSave(const QString& suggestedPath);
    // The frame the open video shows (the device's position); empty when no video is open.
    std::optional<int64_t> ShownFrame();
    // "<video>-<frame>-g<mode>-<method>", the name the tool's output and a saved picture get.
    QString FrameName(const QString& video, int64_t frame, const TvcMode& mode) const;

    // Stepping beside the plain step of one frame (form1_stepping.cpp).
    // Timer1 sleeps while there is nothing to step and wakes when stepping starts.
    void SleepTimer1IfIdle();
    void WakeTimer1();
    // What a tick does beside the plain step of one frame, when a menu item asks for it.
    bool FrameDueAtVideoRate();
    bool AtLastFrameOfVideo(int position);
    // The open video's length in frames, asked of the device once per opened file; 0 when no
    // video is open.
    int64_t VideoLength();
    // True when the open input is a still picture: a file of a picture type, opened as one frame.
    bool OpenInputIsStillPicture();
    // HScroll1's range: 0 ... 32000, or with "Scroll bar fits the video" 0 ... the open video's
    // last frame. A position the new range cuts off moves to its end and is shown.
    void ApplyScrollRange();
    // Opens `path` (the file system's bytes, absolute) as a dropped file is opened. A file that
    // cannot be opened leaves the open video, its frame and the source view as they are, and the
    // message says why.
    void OpenFileByName(const std::string& path);
    // Whether the video device opens `path`, tried without touching what is open; the reason in
    // *why when it does not.
    bool CanOpen(const std::string& path, std::string* why);

    // The conversion session (form1_session.cpp): the recipe the controls set for `mode`, and
    // the session brought up to date with it and the open input before a frame converts — the
    // registers chosen for the video once, reading its frames, when the recipe asks for them.
    session::Recipe RecipeOfControls(const TvcMode& mode) const;
    void PrepareSession(const TvcMode& mode);
    void ShowFramesNow(const session::FrameRange& range);

    // The TVC's own files as inputs (form1_tvc.cpp): an opener, handed to the video device with
    // every open, that serves .kep, .cas and .vram files as pictures of Pic1's size and records
    // what the file carries in *facts; a .vram is read in the mode "TVC MODE" has when it opens.
    video::PictureSourceOpener MakeTvcOpener(tvc::TvcFileFacts* facts);
    // After a TVC file opened: "TVC MODE" switches to the file's own mode.
    void AdoptTvcFile();
    // Colours `mode`'s swatches with the registers its working picture was last converted
    // with (ShownColours, else the mode's own), each naming its register value when they are
    // not simply the mode's own. Called after every conversion, so the panel never tells of
    // registers the picture does not have, whatever order modes, choices and files came in.
    void ShowPaletteInUse(const TvcMode& mode);
    // The colours (0 ... 15) of the registers the picture shown in `mode` was converted with;
    // empty for the mode's own.
    std::vector<int> ShownColours(const TvcMode& mode) const;
    // The bytes of a .kep or .cas (`kind`) of the working picture shown in `mode`, with the
    // registers it was converted with. Throws std::invalid_argument as PackVram does.
    std::vector<uint8_t> TvcPictureFileBytes(const TvcMode& mode, SavedPicture kind);

    FormEnvironment m_environment;
    FormModules& m_modules;
    bool m_ended = false;
    // Set when the form itself stopped Timer1 for want of anything to step.
    bool m_timer1Asleep = false;

    // Facts of the open video, asked of the device once per opened file when a menu item needs
    // them; empty until then.
    std::string m_videoPath;
    std::optional<std::chrono::nanoseconds> m_frameDuration; // zero: the rate is unknown
    std::optional<int64_t> m_videoLength; // frames; zero: unknown
    std::optional<std::chrono::steady_clock::time_point> m_lastAdvance;
    // The open input when it is a TVC file: its mode and the colours of its registers; and why
    // the last TVC file that failed to open was refused (empty when none was). Filled in by
    // m_tvcOpener, which this form alone hands to the devices it opens.
    tvc::TvcFileFacts m_tvcFile;
    video::PictureSourceOpener m_tvcOpener;
    // The folder of the last file the user opened by name or saved to: where the open and save
    // dialogs start. Empty until then: the current folder.
    QString m_dialogFolder;
    // When the picture shown was converted with steady dithering: the scroll bar positions its
    // unbroken steady sequence ran over, first and last; empty for a plain conversion.
    std::optional<int64_t> m_steadyStart;
    int64_t m_steadyLast = 0;
    session::ConversionSession m_session;
    // The colours (0 ... 15) of the registers each mode's picture was last converted with, by
    // mode number; empty for the mode's own.
    std::array<std::vector<int>, 17> m_shownColours {};

    std::unique_ptr<platform::PictureBox> m_pic1, m_pic2, m_pic3, m_pic4, m_tvc2, m_tvc4, m_tvc16;
    std::array<PictureView*, 7> m_views {};

    QPushButton* m_command1 = nullptr;
    QPushButton* m_command2 = nullptr;
    QPushButton* m_command3 = nullptr;
    QLineEdit* m_text1 = nullptr;
    QLineEdit* m_text2 = nullptr;
    QCheckBox* m_check1 = nullptr;
    QScrollBar* m_hscroll1 = nullptr;
    QTimer* m_timer1 = nullptr;
    QListWidget* m_file1 = nullptr;
    std::array<QGroupBox*, 4> m_frames {}; // [1] ... [3]
    std::array<QRadioButton*, 17> m_option1 {}; // [1] ... [16]
    std::array<QRadioButton*, 3> m_option2 {};
    QButtonGroup* m_option1Group = nullptr;
    QButtonGroup* m_option2Group = nullptr;
    std::array<QLabel*, 16> m_label1 {};
    std::array<QLabel*, 4> m_label2 {};
    std::array<QLabel*, 2> m_label3 {};
    QLabel* m_timeUnit = nullptr;
    QLabel* m_frameLine = nullptr;

    QMenu* m_menu = nullptr;
    PictureMenu* m_pictureMenu = nullptr;
    std::array<QAction*, 13> m_menuActions {}; // by MenuItem
    std::unique_ptr<ExportRun> m_export;
};

} // namespace pelorin::window
