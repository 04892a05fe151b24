// tvc-clip-check CLIP.cas FRAMES.vram KEPT RATE_NUM RATE_DEN
// Plays a clip program in the TVC model for two passes of its loop and checks every frame
// against the first KEPT frames of a .vram of the same conversion, and its moment against the
// frame rate RATE_NUM / RATE_DEN (the rate the clip was written for): each frame must be on the
// screen within one field of its time. It plays twice: with plain Z80 timing, and with every
// video-RAM access waiting for the video chip. For measuring clips by hand; the tests use the
// same check.
#include "pipeline/vram.h"
#include "tvc/clip_player.h"
#include "tvc/testing/clip_check.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

int main(int argc, char** argv)
{
    using namespace pelorin;
    if (argc != 6) {
        std::fprintf(stderr, "usage: tvc-clip-check CLIP.cas FRAMES.vram KEPT RATE_NUM RATE_DEN\n");
        return 2;
    }
    const auto read = [](const char* path) {
        std::ifstream in(path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    };
    const std::vector<uint8_t> cas = read(argv[1]);
    const std::vector<uint8_t> vram = read(argv[2]);
    const long kept = std::atol(argv[3]);
    const long long num = std::atoll(argv[4]), den = std::atoll(argv[5]);
    if (kept < 1 || num < 1 || den < 1 || vram.size() < size_t(kept) * kVramFrameBytes) {
        std::fprintf(stderr, "tvc-clip-check: bad arguments or too few frames in the .vram\n");
        return 2;
    }
    std::vector<std::vector<uint8_t>> frames;
    for (long i = 0; i < kept; ++i)
        frames.emplace_back(vram.begin() + i * long(kVramFrameBytes),
            vram.begin() + (i + 1) * long(kVramFrameBytes));
    const auto due = [&](int64_t frame) {
        const __int128 scaled = __int128(frame) * tvc::kTvcClockHz * den;
        return uint64_t((scaled * 2 + num) / (2 * num));
    };
    bool good = true;
    for (const bool waits : { false, true }) {
        const tvc::test::ClipCheck check = tvc::test::PlayAndCheck(
            cas, frames, due, 2 * kept + 1, tvc::kFieldCycles, { .videoRamWaits = waits });
        for (const std::string& p : check.problems)
            std::printf("problem: %s\n", p.c_str());
        std::printf("%s: frames shown %lld (two passes of %ld), largest distance from due time "
                    "%.2f ms, returned cleanly: %s\n",
            waits ? "video-RAM waits" : "plain timing", static_cast<long long>(check.framesShown),
            kept, double(check.latestCycles) * 1e3 / tvc::kTvcClockHz,
            check.returned ? "yes" : "no");
        good = good && check.problems.empty();
    }
    return good ? 0 : 1;
}
