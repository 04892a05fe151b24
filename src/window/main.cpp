// Pelorin: plays a video and shows each frame as the TVC computer would in one of its graphics
// modes. One window; closing it ends the program.
#include "form1.h"
#include "picture_menu.h"
#include "program_options.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// The menu's choices the command line sets, before the window loads.
void SetMenuChoices(pelorin::window::Form1& form, const pelorin::window::ProgramOptions& options)
{
    using pelorin::window::MenuItem;
    form.MenuAction(MenuItem::RealTime)->setChecked(options.realTime);
    form.MenuAction(MenuItem::Loop)->setChecked(options.loop);
    form.MenuAction(MenuItem::ShowTime)->setChecked(options.showTime);
    form.MenuAction(MenuItem::Steady)->setChecked(options.steady);
    form.MenuAction(MenuItem::FitScrollBar)->setChecked(options.fit);
    form.PictureChoices()->ShapeAction(options.aspect)->setChecked(true);
}

} // namespace

int main(int argc, char* argv[])
{
    using namespace pelorin::window;
    // The command line is read before the toolkit starts, so that --help, --version and a
    // wrong option need no display.
    const std::vector<std::string> args(argv + 1, argv + argc);
    const ProgramCommandLine commandLine = ParseProgramCommandLine(args);
    switch (commandLine.action) {
    case ProgramCommandLine::Action::Help:
        std::fputs(ProgramHelpText().c_str(), stdout);
        return 0;
    case ProgramCommandLine::Action::Version:
        std::fputs(ProgramVersionText().c_str(), stdout);
        return 0;
    case ProgramCommandLine::Action::Error:
        std::fprintf(stderr, "pelorin: %s\n", commandLine.error.c_str());
        return 2;
    case ProgramCommandLine::Action::Run:
        break;
    }
    const ProgramOptions& options = commandLine.options;

    // The toolkit sees the program's name only: every argument has been read above.
    int toolkitArgc = 1;
    QApplication application(toolkitArgc, argv);
    ApplyFormStyle();
    FormEnvironment environment;
    bool messageShown = false;
    if (options.exitAfterFrames) {
        // A scripted check has nobody to close a message box: the message goes to the error
        // stream and the program ends with status 1.
        environment.showMessage = [&messageShown](MessageKind, const QString& text) {
            std::fprintf(stderr, "pelorin: %s\n", qPrintable(text));
            messageShown = true;
            QCoreApplication::exit(1);
        };
    }
    Form1 form(environment);
    SetMenuChoices(form, options);
    if (!form.Load())
        return 1;
    form.show();
    if (!options.file.empty())
        form.OpenLocalFile(options.file);
    else if (options.exitAfterFrames)
        form.Command3()->click();
    // What the checks below count, alive as long as the event loop that runs them.
    const int frames = options.exitAfterFrames.value_or(0);
    int stepped = 0;
    int lastFrame = form.HScroll1()->value();
    if (options.exitAfterFrames) {
        // Messages before the event loop runs cannot leave it.
        if (messageShown || form.Ended())
            return 1;
        // The form moves the scroll bar with its signals blocked, so a step is counted where
        // the timer's tick, handled by the form first, has left it at another frame.
        QObject::connect(form.Timer1(), &QTimer::timeout, &form, [&] {
            const int frame = form.HScroll1()->value();
            if (frame == lastFrame)
                return;
            lastFrame = frame;
            if (++stepped == frames) {
                std::printf("pelorin: stepped %d frames, at frame %d\n", stepped, frame);
                std::fflush(stdout);
                QCoreApplication::exit(0);
            }
        });
        // A still picture, or the end of a fitted scroll bar, stops stepping for good.
        QObject::connect(form.Check1(), &QCheckBox::stateChanged, &form, [&](int state) {
            if (state != Qt::Unchecked || stepped >= frames)
                return;
            std::fprintf(stderr, "pelorin: stepping stopped at frame %d after %d of %d frames\n",
                form.HScroll1()->value(), stepped, frames);
            QCoreApplication::exit(1);
        });
    }
    return application.exec();
}
