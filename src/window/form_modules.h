#pragma once
// Every call the form makes into the other modules, behind one interface. The form acts on the
// video, the stopwatch, the palettes, the scaler and the conversion methods only through it, so a
// test can put a recording layer in between and see the exact order of a frame's steps. The
// frame's own steps (palette, copies, methods) are the frame pipeline's, on the program's one
// conversion context; the default forwards each call unchanged.
#include "pipeline/frame_pipeline.h"
#include "video/mci.h"

#include <cstdint>
#include <string>

namespace platform {
class PictureBox;
}

namespace pelorin::window {

class FormModules : public FrameSteps {
public:
    FormModules();

    // `pictures` is the opener an open operation hands to the device (see pelorin::MciCommand);
    // the form gives its own, so no other form's opener is ever asked.
    virtual std::string MciCommand(int command, const std::string& fileName,
        platform::PictureBox* parent, const MciValue& value,
        const video::PictureSourceOpener& pictures);
    // The same operation by name.
    std::string MciCommand(MciOperation operation, const std::string& fileName = {},
        platform::PictureBox* parent = nullptr, const MciValue& value = {},
        const video::PictureSourceOpener& pictures = {})
    {
        return MciCommand(int(operation), fileName, parent, value, pictures);
    }
    virtual void StopwatchStart();
    virtual int32_t StopwatchElapsedMs();
    // The milliseconds of the last StopwatchElapsedMs's readings, unrounded; 0 before any.
    virtual double StopwatchLastElapsedMs();
    virtual void Refresh(platform::PictureBox& picture);
};

// The forwarding instance the form uses unless told otherwise.
FormModules& DefaultFormModules();

} // namespace pelorin::window
