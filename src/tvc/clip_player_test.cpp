#include "clip_player.h"
#include "testing/clip_check.h"
#include "tvc_files.h"

#include "pipeline/vram.h"

#include <gtest/gtest.h>

#include <random>

namespace pelorin::tvc {
namespace {

    constexpr uint64_t kTwoMs = kTvcClockHz / 500;

    std::vector<std::vector<uint8_t>> Frames(int count, int changes, uint32_t seed)
    {
        return test::ChangingFrames(count, changes, seed);
    }

    std::function<uint64_t(int64_t)> Due(const ClipBuilder& builder)
    {
        return [&builder](int64_t frame) { return builder.DueCycle(frame); };
    }

    TEST(Difference, RunsSkipJoinAndEnd)
    {
        std::vector<uint8_t> before(600, 0), after(600, 0);
        after[3] = 1;
        after[5] = 2; // two bytes apart: one run 3 ... 5
        after[300] = 3; // 294 bytes past the run: a skip of 255, then 39
        const std::vector<uint8_t> want { 3, 3, 1, 0, 2, 255, 0, 39, 1, 3, 0, 0 };
        EXPECT_EQ(EncodeDifference(before, after), want);
        EXPECT_EQ(EncodeDifference(before, before), (std::vector<uint8_t> { 0, 0 }));
    }

    TEST(ClipPlayer, ShowsEveryFrameOnTimeThroughTheLoopAndReturnsOnAKey)
    {
        const auto frames = Frames(12, 200, 1);
        ClipBuilder builder(TvcModeOf(16), 10, 1);
        for (const auto& f : frames)
            ASSERT_TRUE(builder.Add(f));
        const std::vector<uint8_t> cas = builder.CasBytes();
        const test::ClipCheck check = test::PlayAndCheck(cas, frames, Due(builder), 30, kTwoMs);
        for (const std::string& p : check.problems)
            ADD_FAILURE() << p;
        EXPECT_TRUE(check.returned);
        EXPECT_EQ(check.framesShown, 30);
        // A wait is placed to the nearest 64 cycles, and each pass of the loop may carry up to
        // half a step into the next: three passes stay far inside the 2 ms allowed.
        EXPECT_LE(check.latestCycles, 3 * 64u);
    }

    TEST(ClipPlayer, KeepsWhatFitsAcrossBothRegionsAtAnOddFrameRate)
    {
        const auto frames = Frames(40, 1500, 2);
        ClipBuilder builder(TvcModeOf(4), 10000, 1001);
        std::vector<std::vector<uint8_t>> kept;
        for (const auto& f : frames) {
            if (!builder.Add(f))
                break;
            kept.push_back(f);
        }
        ASSERT_TRUE(builder.Full());
        ASSERT_GE(kept.size(), 3u);
        const ClipBuilder::Summary summary = builder.Report();
        EXPECT_EQ(summary.framesKept, kept.size());
        EXPECT_GT(summary.bytesUsed, size_t(0x8000 - 0x19EF)) << "nothing in U2";
        EXPECT_LE(summary.bytesUsed, summary.bytesAvailable);
        const std::vector<uint8_t> cas = builder.CasBytes();
        EXPECT_EQ(cas.size() - kCasHeaderBytes, summary.bytesUsed);
        const test::ClipCheck check
            = test::PlayAndCheck(cas, kept, Due(builder), int64_t(kept.size()) * 2 + 1, kTwoMs);
        for (const std::string& p : check.problems)
            ADD_FAILURE() << p;
    }

    TEST(ClipPlayer, CheckCatchesOneWrongByteInADifference)
    {
        const auto frames = Frames(6, 100, 3);
        ClipBuilder builder(TvcModeOf(16), 10, 1);
        for (const auto& f : frames)
            ASSERT_TRUE(builder.Add(f));
        std::vector<uint8_t> cas = builder.CasBytes();
        // Frame 2's first copied byte, past its wait count and first SKIP and COUNT.
        size_t at = builder.FrameRecordOffsets()[2] + 2;
        while (cas[at + 1] == 0)
            at += 2;
        cas[at + 2] ^= 0x01;
        const test::ClipCheck check = test::PlayAndCheck(cas, frames, Due(builder), 6, kTwoMs);
        ASSERT_FALSE(check.problems.empty());
        EXPECT_NE(check.problems[0].find("frame 2"), std::string::npos) << check.problems[0];
    }

    TEST(ClipPlayer, CheckCatchesAFrameShownLate)
    {
        const auto frames = Frames(6, 100, 4);
        ClipBuilder builder(TvcModeOf(16), 10, 1);
        for (const auto& f : frames)
            ASSERT_TRUE(builder.Add(f));
        std::vector<uint8_t> cas = builder.CasBytes();
        // Frame 3's wait 100 steps (6,400 cycles, just over 2 ms) longer.
        const size_t at = builder.FrameRecordOffsets()[3];
        const unsigned wait = cas[at] + 256u * cas[at + 1] + 100;
        cas[at] = uint8_t(wait & 0xFF);
        cas[at + 1] = uint8_t(wait >> 8);
        const test::ClipCheck check = test::PlayAndCheck(cas, frames, Due(builder), 6, kTwoMs);
        // Frames 3 on are late against 0 ... 2; which side is named depends on where the grid
        // is placed, but the check must fail on time.
        ASSERT_FALSE(check.problems.empty());
        EXPECT_NE(check.problems[0].find("cycles from its time"), std::string::npos)
            << check.problems[0];
    }

} // namespace
} // namespace pelorin::tvc
