#include "form_modules.h"

#include "convert/palette.h"
#include "convert/stretch_picture.h"
#include "dither/method_table.h"
#include "timer/stopwatch.h"

namespace pelorin::window {

std::string FormModules::MciCommand(
    int command, const std::string& fileName, platform::PictureBox* parent, const MciValue& value)
{
    return pelorin::MciCommand(command, fileName, parent, value);
}

void FormModules::StopwatchStart() { pelorin::StopwatchStart(); }

int32_t FormModules::StopwatchElapsedMs() { return pelorin::StopwatchElapsedMs(); }

void FormModules::SetPalette2() { pelorin::SetPalette2(); }

void FormModules::SetPalette4() { pelorin::SetPalette4(); }

void FormModules::SetPalette16() { pelorin::SetPalette16(); }

void FormModules::StretchPicture(platform::PictureBox& destination, platform::PictureBox& source,
    int width, int height, int smoothing)
{
    pelorin::StretchPicture(destination, source, width, height, smoothing);
}

void FormModules::RunMethod(int index, platform::PictureBox& picture)
{
    pelorin::RunMethod(index, picture);
}

void FormModules::Refresh(platform::PictureBox& picture) { picture.Refresh(); }

FormModules& DefaultFormModules()
{
    static FormModules modules;
    return modules;
}

} // namespace pelorin::window
