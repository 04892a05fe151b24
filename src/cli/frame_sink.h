#pragma once
// Where converted frames go, by the output's kind. Every file appears complete or not at all:
// a sink destroyed without Finish() leaves no file of this run behind.
#include "options.h"
#include "platform/surface.h"
#include "video_writer.h"

#include <memory>
#include <string>

namespace pelorin::cli {

class FrameSink {
public:
    virtual ~FrameSink() = default;
    // `frameNumber` is the source frame's own number (it names numbered pictures).
    virtual void Write(const platform::Surface& frame, int64_t frameNumber) = 0;
    virtual void Finish() = 0;
    // What was written, for the summary: "tom.mkv (ffv1)", "48 pictures frame_%03d.png".
    virtual std::string Description() const = 0;
};

struct SinkSettings {
    std::string input; // never overwritten
    std::string output;
    std::string extension;
    OutputKind kind = OutputKind::Picture;
    std::optional<NumberedName> numbered;
    const TvcMode* mode = FindTvcMode(16);
    int width = 0; // of every frame
    int height = 0;
    Rational frameRate;
};

// Throws CliError (1) when the output cannot be started.
std::unique_ptr<FrameSink> MakeFrameSink(const SinkSettings& settings);

} // namespace pelorin::cli
