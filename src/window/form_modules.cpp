#include "form_modules.h"

#include "timer/stopwatch.h"

namespace pelorin::window {

FormModules::FormModules()
    : FrameSteps(ProgramContext())
{
}

std::string FormModules::MciCommand(int command, const std::string& fileName,
    platform::PictureBox* parent, const MciValue& value, const video::PictureSourceOpener& pictures)
{
    return pelorin::MciCommand(command, fileName, parent, value, pictures);
}

void FormModules::StopwatchStart() { pelorin::StopwatchStart(); }

int32_t FormModules::StopwatchElapsedMs() { return pelorin::StopwatchElapsedMs(); }

double FormModules::StopwatchLastElapsedMs()
{
    const StopwatchReadings readings = StopwatchState();
    if (readings.counterFrequency <= 0)
        return 0;
    // The same arithmetic as StopwatchElapsedMs, without its rounding.
    return double(readings.stopCount - readings.startCount) / double(readings.counterFrequency)
        * 1000;
}

void FormModules::Refresh(platform::PictureBox& picture) { picture.Refresh(); }

FormModules& DefaultFormModules()
{
    static FormModules modules;
    return modules;
}

} // namespace pelorin::window
