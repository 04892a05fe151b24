#pragma once
// Every call the form makes into the other modules, behind one interface. The form acts on the
// video, the stopwatch, the palettes, the scaler and the conversion methods only through it, so a
// test can put a recording layer in between and see the exact order of a frame's steps. The
// default forwards each call unchanged.
#include "video/mci.h"

#include <cstdint>
#include <string>

namespace platform {
class PictureBox;
}

namespace pelorin::window {

class FormModules {
public:
    virtual ~FormModules() = default;

    virtual std::string MciCommand(int command, const std::string& fileName,
        platform::PictureBox* parent, const MciValue& value);
    virtual void StopwatchStart();
    virtual int32_t StopwatchElapsedMs();
    virtual void SetPalette2();
    virtual void SetPalette4();
    virtual void SetPalette16();
    virtual void StretchPicture(platform::PictureBox& destination, platform::PictureBox& source,
        int width, int height, int smoothing);
    // Method `index` of the method table (1 ... 16) on `picture` as destination and source,
    // followed by MapToPalette where the table says so.
    virtual void RunMethod(int index, platform::PictureBox& picture);
    virtual void Refresh(platform::PictureBox& picture);
};

// The forwarding instance the form uses unless told otherwise.
FormModules& DefaultFormModules();

} // namespace pelorin::window
