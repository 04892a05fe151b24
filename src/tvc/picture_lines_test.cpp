// The picture whose palette registers change from line to line: its file, its reading back, and
// its program played in the model as the beam draws it.
#include "testing/beam.h"
#include "testing/lines_check.h"
#include "tvc_files.h"
#include "tvc_read.h"

#include "pipeline/vram.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace pelorin::tvc {
namespace {

    using test::TvcMachine;

    // Every phase of the flag's polling (a read each 27 cycles), two fields each.
    constexpr int kPhases = 27;
    constexpr int kFields = 2;

    std::string Joined(const std::vector<std::string>& lines)
    {
        std::string text;
        for (const std::string& line : lines)
            text += line + "\n";
        return text;
    }

    TEST(PictureLines, EveryFieldIsDrawnWithEachLinesRegisters)
    {
        for (const int number : { 2, 4 }) {
            SCOPED_TRACE(number);
            const TvcPicture picture = test::RandomLinesPicture(TvcModeOf(number), 3);
            const test::LinesCheck check = test::PlayLinesAndCheck(
                PictureCasBytes(picture), test::FileOf(picture), kPhases, kFields);
            EXPECT_TRUE(check.problems.empty()) << Joined(check.problems);
            EXPECT_EQ(check.fieldsChecked, kPhases * 2 * kFields);
            EXPECT_EQ(check.mostWritesInLine, kMaxRegisterChanges);
            EXPECT_GE(check.leastSlackCycles, 0);
            // The polling sees the flag at any of the 27 cycles of its loop.
            EXPECT_EQ(check.latestClear - check.soonestClear, 26u);
        }
    }

    TEST(PictureLines, ProgramLateByOneRoundOfItsWaitFails)
    {
        const TvcPicture picture = test::RandomLinesPicture(TvcModeOf(4), 5);
        std::vector<uint8_t> cas = PictureCasBytes(picture);
        // The wait before line 1 is a count of 26-cycle rounds: LD BC,nn (01h, low, high) then
        // its loop's DEC BC (0Bh). One round more puts writes into the lines' visible parts.
        const std::span<const uint8_t> code = ShowPictureLinesCode();
        const size_t codeAt = kCasHeaderBytes + (kCodeAddress - kProgramLoadAddress);
        size_t found = 0, count = 0;
        for (size_t i = 0; i + 3 < code.size(); ++i)
            if (code[i] == 0x01 && code[i + 3] == 0x0B) {
                found = i;
                ++count;
            }
        ASSERT_EQ(count, 1u) << "no single counted wait in the program";
        ++cas[codeAt + found + 1];
        const test::LinesCheck check
            = test::PlayLinesAndCheck(cas, test::FileOf(picture), kPhases, 1);
        ASSERT_FALSE(check.problems.empty());
        EXPECT_NE(check.problems[0].find("while it is shown"), std::string::npos)
            << check.problems[0];
    }

    // The beam's rules on writes placed by hand around line 1 of a field whose flag is at 0.
    TEST(Beam, WritesCountOnlyInTheBlankingClearOfTheGuard)
    {
        const uint64_t line1 = test::kFirstLineAfterFlag + test::kLineCycles;
        const uint64_t line0Ends = line1 - test::kLineCycles + test::kVisibleCycles;
        struct Case {
            uint64_t cycle;
            bool fails;
        };
        for (const Case c : { Case { line0Ends + test::kGuardCycles, false },
                 Case { line0Ends + test::kGuardCycles - 1, true },
                 Case { line1 - test::kGuardCycles, false },
                 Case { line1 - test::kGuardCycles + 1, true }, Case { line1 + 60, true } }) {
            SCOPED_TRACE(c.cycle);
            const std::vector<TvcMachine::PortWrite> writes { { 100, 0x60, 0x11 },
                { c.cycle, 0x61, 0x22 } };
            const test::BeamField field = test::TraceField(writes, 0);
            EXPECT_EQ(!field.problems.empty(), c.fails) << Joined(field.problems);
            EXPECT_EQ(field.lineRegisters[0], (PaletteRegisters { 0x11, 0, 0, 0 }));
            // Line 1 shows the write when it lands before the line starts.
            const bool beforeLine1 = c.cycle < line1;
            EXPECT_EQ(field.lineRegisters[1][1], beforeLine1 ? 0x22 : 0x00);
            EXPECT_EQ(field.lineRegisters[239][1], 0x22);
            if (!c.fails) {
                EXPECT_EQ(field.leastSlackCycles, 0);
            }
        }
    }

    TEST(PictureLines, OnePalettePictureKeepsItsProgram)
    {
        TvcPicture picture = test::RandomLinesPicture(TvcModeOf(4), 9);
        picture.lineRegisters.clear();
        std::vector<uint8_t> data { ModePortValue(*picture.mode) };
        data.insert(data.end(), picture.registers.begin(), picture.registers.end());
        data.push_back(kBorderColour);
        data.insert(data.end(), picture.vram.begin(), picture.vram.end());
        EXPECT_EQ(PictureCasBytes(picture), CasBytes(ShowPictureCode(), data));
    }

    TEST(PictureLines, FileIsReadBackWithItsLines)
    {
        const TvcPicture picture = test::RandomLinesPicture(TvcModeOf(2), 13);
        const std::vector<uint8_t> cas = PictureCasBytes(picture);
        // Below 8000h: a 32K machine holds it.
        EXPECT_LE(kProgramLoadAddress + cas.size() - kCasHeaderBytes, 0x8000u);
        const TvcFile file = ParseTvcFile(cas, ".cas", nullptr, "p.cas");
        EXPECT_EQ(file.mode, picture.mode);
        EXPECT_EQ(file.registers, picture.registers);
        EXPECT_EQ(file.lineRegisters, picture.lineRegisters);
        EXPECT_EQ(file.Frame(0), picture.vram);
        EXPECT_EQ(WorkingPicture(file, 0), WorkingPicture(test::FileOf(picture), 0));
        // A file cut inside its line table is refused, naming why.
        std::vector<uint8_t> cut(cas.begin(), cas.end() - 3);
        const size_t length = cut.size() - kCasHeaderBytes;
        cut[0x82] = uint8_t(length & 0xFF);
        cut[0x83] = uint8_t(length >> 8);
        try {
            ParseTvcFile(cut, ".cas", nullptr, "cut.cas");
            ADD_FAILURE() << "a cut line table was read";
        } catch (const TvcFileError& e) {
            EXPECT_NE(std::string(e.what()).find("line table"), std::string::npos) << e.what();
        }
    }

    TEST(PictureLines, RegistersBeyondWhatALineCanChangeAreRefused)
    {
        TvcPicture picture = test::RandomLinesPicture(TvcModeOf(4), 17);
        for (uint8_t& r : picture.lineRegisters[100])
            r = uint8_t(r ^ 0x01);
        EXPECT_THROW(PictureCasBytes(picture), std::invalid_argument);
        picture = test::RandomLinesPicture(TvcModeOf(4), 17);
        picture.lineRegisters[0][0] ^= 0x01;
        EXPECT_THROW(PictureCasBytes(picture), std::invalid_argument);
        picture = test::RandomLinesPicture(TvcModeOf(4), 17);
        picture.mode = &TvcModeOf(16);
        EXPECT_THROW(PictureCasBytes(picture), std::invalid_argument);
    }

} // namespace
} // namespace pelorin::tvc
