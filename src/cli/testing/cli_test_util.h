#pragma once
// Helpers for the pelorin-convert tests: a scratch folder, the tool run in-process with its
// output captured, and pictures made by code.
#include "convert_job.h"
#include "pipeline/tvc_mode.h"
#include "platform/picture_box.h"
#include "platform/surface.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace pelorin::cli::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    std::string Path(const std::string& name) const { return (m_path / name).string(); }
    const std::filesystem::path& Root() const { return m_path; }
    // Names of everything in the folder (hidden files included).
    std::set<std::string> Files() const;

private:
    std::filesystem::path m_path;
};

struct ToolResult {
    int exitStatus = -1;
    std::string out;
    std::string err;
};

// Runs pelorin-convert in-process on `args` (without the program name); `frameWritten`, when
// given, is called after each frame is handed to the output.
ToolResult RunTool(const std::vector<std::string>& args,
    std::function<void(int64_t framesWritten)> frameWritten = {});

// Writes `picture` as a PNG (through the tool's own encoder).
void WritePng(const std::string& path, const platform::Surface& picture);

// A picture whose every pixel is one of `colours`, picked by a fixed-seed generator.
platform::Surface RandomPicture(
    int width, int height, const std::vector<uint32_t>& colours, uint32_t seed);

// The colours of a TVC mode's palette, 0x00RRGGBB, in palette order.
std::vector<uint32_t> PaletteColours(int mode);

// All frames of a video or picture file, decoded to 0x00RRGGBB surfaces, independent of the
// tool's own reader.
std::vector<platform::Surface> DecodeAllFrames(const std::string& path);

// The nominal frame rate of the file's video stream, as FFmpeg reads it (numerator, denominator).
std::pair<int, int> StreamFrameRate(const std::string& path);

// A lossless video (FFV1 in Matroska, 25 frames per second) whose frame i is `frames[i]`.
void MakeTestVideo(const std::string& path, const std::vector<platform::Surface>& frames);

// The same in 4:2:0 YUV (FFV1), the way most real videos store their pictures.
void MakeYuvTestVideo(const std::string& path, const std::vector<platform::Surface>& frames);

// The whole content of a file.
std::string ReadFile(const std::string& path);

// The sample video made at build time.
// The exit status and message ParseOptions refuses a command line with; { 0, "" } when it takes
// it.
std::pair<int, std::string> Refusal(std::vector<std::string> args);

inline std::string SampleVideo() { return PELORIN_SAMPLE_VIDEO; }

} // namespace pelorin::cli::test
