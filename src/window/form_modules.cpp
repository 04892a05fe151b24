#include "form_modules.h"

#include "timer/stopwatch.h"

namespace pelorin::window {

FormModules::FormModules()
    : FrameSteps(ProgramContext())
{
}

std::string FormModules::MciCommand(
    int command, const std::string& fileName, platform::PictureBox* parent, const MciValue& value)
{
    return pelorin::MciCommand(command, fileName, parent, value);
}

void FormModules::StopwatchStart() { pelorin::StopwatchStart(); }

int32_t FormModules::StopwatchElapsedMs() { return pelorin::StopwatchElapsedMs(); }

void FormModules::Refresh(platform::PictureBox& picture) { picture.Refresh(); }

FormModules& DefaultFormModules()
{
    static FormModules modules;
    return modules;
}

} // namespace pelorin::window
