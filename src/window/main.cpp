// Pelorin: plays a video and shows each frame as the TVC computer would in one of its graphics
// modes. One window; closing it ends the program.
#include "form1.h"
#include "picture_menu.h"
#include "program_options.h"

#include <QAction>
#include <QApplication>

#include <cstdio>
#include <string>
#include <vector>

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
    Form1 form;
    form.MenuAction(MenuItem::RealTime)->setChecked(options.realTime);
    form.MenuAction(MenuItem::Loop)->setChecked(options.loop);
    form.MenuAction(MenuItem::ShowTime)->setChecked(options.showTime);
    form.MenuAction(MenuItem::Steady)->setChecked(options.steady);
    form.MenuAction(MenuItem::FitScrollBar)->setChecked(options.fit);
    form.PictureChoices()->ShapeAction(options.aspect)->setChecked(true);
    if (!form.Load())
        return 1;
    form.show();
    if (!options.file.empty())
        form.OpenLocalFile(options.file);
    return application.exec();
}
