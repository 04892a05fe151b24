// tvc-picture-check PICTURE.cas | --random SEED
// Plays a picture program whose palette registers change from line to line in the TVC model
// and checks each field as the beam draws it against what the file holds (as Pelorin reads it
// back), for every phase of the flag's polling, with plain timing and with video-RAM waits.
// --random SEED checks a random "Graphics 4" picture made here instead of a file. Prints what
// it saw: the lines shown, the register writes a line, the cycles to spare in the blanking and
// the fields checked; exits 0 when every field was right.
#include "pipeline/tvc_mode.h"
#include "pipeline/vram.h"
#include "tvc/testing/lines_check.h"
#include "tvc/tvc_read.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

int main(int argc, char** argv)
{
    using namespace pelorin;
    std::vector<uint8_t> cas;
    tvc::TvcFile expected;
    try {
        if (argc == 3 && std::strcmp(argv[1], "--random") == 0) {
            const tvc::TvcPicture picture = tvc::test::RandomLinesPicture(
                TvcModeOf(4), uint32_t(std::strtoul(argv[2], nullptr, 10)));
            cas = tvc::PictureCasBytes(picture);
            expected = tvc::test::FileOf(picture);
        } else if (argc == 2) {
            std::ifstream in(argv[1], std::ios::binary);
            cas.assign(std::istreambuf_iterator<char>(in), {});
            expected = tvc::ParseTvcFile(cas, ".cas", nullptr, argv[1]);
        } else {
            std::fprintf(stderr, "usage: tvc-picture-check PICTURE.cas | --random SEED\n");
            return 2;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tvc-picture-check: %s\n", e.what());
        return 2;
    }
    if (expected.lineRegisters.empty()) {
        std::fprintf(stderr, "tvc-picture-check: the picture has one set of registers\n");
        return 2;
    }
    // 27 phases: every cycle of the polling loop's period.
    constexpr int kPhases = 27, kFields = 3;
    const tvc::test::LinesCheck check
        = tvc::test::PlayLinesAndCheck(cas, expected, kPhases, kFields);
    for (const std::string& p : check.problems)
        std::printf("problem: %s\n", p.c_str());
    std::printf("lines shown: %zu a field\n", kVramLines);
    std::printf("register writes a line: at most %d, mean %.3f\n", check.mostWritesInLine,
        check.meanWritesPerLine);
    std::printf("cycles to spare in the blanking: at least %lld\n",
        static_cast<long long>(check.leastSlackCycles));
    std::printf("flag cleared %llu-%llu cycles after it came\n",
        static_cast<unsigned long long>(check.soonestClear),
        static_cast<unsigned long long>(check.latestClear));
    std::printf("fields checked: %d (%d phases, plain and with video-RAM waits, %d fields each)\n",
        check.fieldsChecked, kPhases, kFields);
    std::printf("%s\n", check.problems.empty() ? "pass" : "FAIL");
    return check.problems.empty() ? 0 : 1;
}
