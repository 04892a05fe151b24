// Arbitrary bytes as the TVC's own files, the way both front doors open them: the first byte
// picks the kind (.kep, .cas, or .vram in one of the three modes), the rest is the file. The
// file is read from disk with its size checked first, then from memory, and the frames it claims
// are drawn: the first, the last and one between. Nothing may crash, hang, read outside what it
// allocated or hold more than the file's kind allows; both readings must agree.
#include "pipeline/tvc_mode.h"
#include "tvc/tvc_read.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <unistd.h>

namespace {

void DrawSome(const pelorin::tvc::TvcFile& file)
{
    const size_t count = file.FrameCount();
    if (count == 0)
        return;
    for (const size_t index : { size_t(0), count / 2, count - 1 })
        (void)pelorin::tvc::WorkingPicture(file, index);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    static const char* const kExtensions[] = { ".kep", ".cas", ".vram", ".vram", ".vram" };
    static const int kVramModes[] = { 0, 0, 2, 4, 16 };
    const size_t kind = data[0] % 5;
    const std::span<const uint8_t> bytes(data + 1, size - 1);
    const pelorin::TvcMode* vramMode
        = kVramModes[kind] ? &pelorin::TvcModeOf(kVramModes[kind]) : nullptr;

    const char* dir = std::getenv("TMPDIR");
    const std::string path = std::string(dir && *dir ? dir : "/tmp") + "/pelorin-tvc-fuzz-"
        + std::to_string(getpid()) + kExtensions[kind];
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return 0;
    if (!bytes.empty())
        std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);

    size_t fromDisk = 0, fromMemory = 0;
    bool diskRead = false, memoryRead = false;
    try {
        const pelorin::tvc::TvcFile file = pelorin::tvc::ReadTvcFile(path, vramMode);
        DrawSome(file);
        fromDisk = file.FrameCount();
        diskRead = true;
    } catch (const pelorin::tvc::TvcFileError&) {
    }
    std::remove(path.c_str());
    try {
        const pelorin::tvc::TvcFile file
            = pelorin::tvc::ParseTvcFile(bytes, kExtensions[kind], vramMode, "fuzz");
        DrawSome(file);
        fromMemory = file.FrameCount();
        memoryRead = true;
    } catch (const pelorin::tvc::TvcFileError&) {
    }
    if (diskRead != memoryRead || fromDisk != fromMemory) {
        std::fprintf(stderr, "read from disk: %d, %zu frames; from memory: %d, %zu frames\n",
            int(diskRead), fromDisk, int(memoryRead), fromMemory);
        std::abort();
    }
    return 0;
}
