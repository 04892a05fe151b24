// Arbitrary file bytes through the video device the way the window uses it: open into a parent
// picture box, frame time format, seek to the first frames, to a frame near the end and past
// it, ask for the length, position and mode, and close. Nothing may crash, hang or read outside
// what it allocated, whatever the bytes claim about sizes and counts.
#include "platform/picture_box.h"
#include "video/mci.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static platform::PictureBox host(512, 240);
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        return std::string(dir && *dir ? dir : "/tmp") + "/pelorin-fuzz-" + std::to_string(getpid())
            + ".avi";
    }();
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        if (size > 0) // an empty input is an empty file; fwrite wants a real buffer
            std::fwrite(data, 1, size, f);
        std::fclose(f);
    } else {
        return 0;
    }
    using pelorin::MciCommand;
    MciCommand(1, path, &host);
    MciCommand(9);
    for (int64_t frame : { 0, 1, 2 })
        MciCommand(14, {}, nullptr, frame);
    const std::string length = MciCommand(11);
    const int64_t frames = std::atoll(length.c_str());
    if (frames > 1) {
        MciCommand(14, {}, nullptr, int64_t(frames - 1));
        MciCommand(14, {}, nullptr, int64_t(frames / 2));
    }
    MciCommand(14, {}, nullptr, int64_t(frames + 5));
    MciCommand(13);
    MciCommand(12);
    MciCommand(5);
    MciCommand(15);
    std::remove(path.c_str());
    return 0;
}
