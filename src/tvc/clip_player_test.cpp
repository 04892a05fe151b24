#include "clip_pack.h"
#include "clip_player.h"
#include "testing/clip_check.h"
#include "tvc_files.h"

#include "pipeline/vram.h"

#include <gtest/gtest.h>

#include <random>

namespace pelorin::tvc {
namespace {

    std::vector<std::vector<uint8_t>> Frames(int count, int changes, uint32_t seed)
    {
        return test::ChangingFrames(count, changes, seed);
    }

    // A still screen with `changes` bytes of it different in each frame, anywhere: every frame
    // takes about as long to draw as the next, the way back to frame 0 too.
    std::vector<std::vector<uint8_t>> Flickering(int count, int changes, uint32_t seed)
    {
        std::mt19937 random(seed);
        const std::vector<uint8_t> still = Frames(1, 0, seed)[0];
        std::vector<std::vector<uint8_t>> frames;
        for (int f = 0; f < count; ++f) {
            frames.push_back(still);
            for (int c = 0; c < changes; ++c)
                frames.back()[random() % kVramFrameBytes] = uint8_t(random());
        }
        return frames;
    }

    std::function<uint64_t(int64_t)> Due(const ClipBuilder& builder)
    {
        return [&builder](int64_t frame) { return builder.DueCycle(frame); };
    }

    std::vector<uint8_t> Unpacked(std::span<const uint8_t> before, const PackedFrame& packed)
    {
        std::vector<uint8_t> screen(before.begin(), before.end());
        const size_t end = DrawPacked(packed.bytes, 0, screen, [](uint16_t) -> size_t {
            throw PackedFrameError("a jump in a single frame");
        });
        EXPECT_EQ(end, packed.bytes.size());
        return screen;
    }

    TEST(Pack, APatternIsCopiedFromJustBehind)
    {
        std::vector<uint8_t> before(64, 0), after(64);
        for (size_t i = 0; i < after.size(); ++i)
            after[i] = i % 2 == 0 ? 1 : 2;
        // Two bytes, then 62 copied from two back, then the end.
        const std::vector<uint8_t> want { 0, 2, 1, 2, 0, 0x80 + 60, 1, 0, 0 };
        EXPECT_EQ(PackFrame(before, after).bytes, want);
        EXPECT_EQ(PackFrame(after, after).bytes, (std::vector<uint8_t> { 0, 0 }));
    }

    TEST(Pack, DrawingThePackedFrameGivesTheFrameWhateverItHolds)
    {
        std::mt19937 random(11);
        std::vector<uint8_t> zeros(kVramFrameBytes, 0), noise(kVramFrameBytes), dither(kVramFrameBytes);
        for (uint8_t& b : noise)
            b = uint8_t(random());
        for (size_t i = 0; i < dither.size(); ++i) // a 4x4 ordered pattern over a ramp
            dither[i] = uint8_t(((i / 64) % 4) * 0x11 + (i % 64) / 16 + (i % 3 == 0 ? 0x80 : 0));
        std::vector<uint8_t> shifted(kVramFrameBytes); // the picture one line down: a pan
        std::copy(dither.begin(), dither.end() - 64, shifted.begin() + 64);
        const auto twoFrames = Frames(2, 300, 12);
        const struct {
            const std::vector<uint8_t>& before;
            const std::vector<uint8_t>& after;
        } cases[] = { { zeros, dither }, { zeros, noise }, { dither, shifted }, { noise, dither },
            { twoFrames[0], twoFrames[1] } };
        for (const auto& c : cases) {
            const PackedFrame packed = PackFrame(c.before, c.after);
            EXPECT_TRUE(Unpacked(c.before, packed) == c.after);
            EXPECT_GT(DrawCycles(packed.bytes), 0u);
        }
        // What repeats packs small; what does not costs little more than itself.
        EXPECT_LT(PackFrame(zeros, dither).bytes.size(), kVramFrameBytes / 8);
        EXPECT_LT(PackFrame(dither, shifted).bytes.size(), kVramFrameBytes / 8);
        EXPECT_LT(PackFrame(zeros, noise).bytes.size(), kVramFrameBytes * 102 / 100);
    }

    // Plays `frames` as a clip, two passes and more, in both timings the machine may have, and
    // wants every frame right and on the screen within one field of its time.
    void ExpectPlaysOnTime(const ClipBuilder& builder,
        const std::vector<std::vector<uint8_t>>& frames, int64_t framesToWatch)
    {
        const std::vector<uint8_t> cas = builder.CasBytes();
        for (const bool waits : { false, true }) {
            for (const uint64_t phase : { 1'000u, 40'000u }) {
                SCOPED_TRACE(std::string(waits ? "with" : "without") + " video-RAM waits, phase "
                    + std::to_string(phase));
                const test::ClipCheck check = test::PlayAndCheck(cas, frames, Due(builder),
                    framesToWatch, kFieldCycles, { .videoRamWaits = waits, .fieldPhase = phase });
                for (const std::string& p : check.problems)
                    ADD_FAILURE() << p;
                EXPECT_TRUE(check.returned);
                EXPECT_EQ(check.framesShown, framesToWatch);
            }
        }
    }

    TEST(ClipPlayer, ShowsEveryFrameByThePictureClockThroughTheLoopAndReturnsOnAKey)
    {
        const auto frames = Flickering(12, 40, 1);
        ClipBuilder builder(TvcModeOf(16), 10, 1);
        for (const auto& f : frames)
            ASSERT_TRUE(builder.Add(f));
        // 10 frames a second: 4.976 fields a frame, kept to 1/65536.
        EXPECT_EQ(builder.FieldStep(), uint32_t(std::lround(65536.0 * 312500 / 62800)));
        ExpectPlaysOnTime(builder, frames, 30);
    }

    TEST(ClipPlayer, KeepsWhatFitsAcrossBothRegionsAtAnOddFrameRate)
    {
        const auto frames = Flickering(80, 150, 2);
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
        EXPECT_EQ(builder.CasBytes().size() - kCasHeaderBytes, summary.bytesUsed);
        ExpectPlaysOnTime(builder, kept, int64_t(kept.size()) * 2 + 1);
    }

    TEST(ClipPlayer, CheckCatchesOneWrongByteInADifference)
    {
        const auto frames = Frames(6, 100, 3);
        ClipBuilder builder(TvcModeOf(16), 10, 1);
        for (const auto& f : frames)
            ASSERT_TRUE(builder.Add(f));
        std::vector<uint8_t> cas = builder.CasBytes();
        // Frame 2's first byte given as it is: past SKIP and a command below 80h.
        size_t at = builder.FrameRecordOffsets()[2] + 1; // past the lead
        while (cas[at + 1] == 0 || cas[at + 1] >= 0x80)
            at += cas[at + 1] == 0 ? 2 : cas[at + 1] >= 0xC0 ? 4 : 3;
        cas[at + 2] ^= 0x01;
        const test::ClipCheck check
            = test::PlayAndCheck(cas, frames, Due(builder), 6, kFieldCycles);
        ASSERT_FALSE(check.problems.empty());
        EXPECT_NE(check.problems[0].find("frame 2"), std::string::npos) << check.problems[0];
    }

    TEST(ClipPlayer, CheckCatchesFramesShownAtAnotherRate)
    {
        const auto frames = Frames(8, 100, 4);
        ClipBuilder builder(TvcModeOf(16), 10, 1);
        for (const auto& f : frames)
            ASSERT_TRUE(builder.Add(f));
        std::vector<uint8_t> cas = builder.CasBytes();
        // Fields a frame, after the mode, registers, border and rate: one field a frame more.
        const size_t stepAt = kCasHeaderBytes + 16 + PlayClipCode().size() + 16;
        ASSERT_EQ(cas[stepAt], builder.FieldStep() >> 16);
        ++cas[stepAt];
        const test::ClipCheck check = test::PlayAndCheck(cas, frames, Due(builder), 8, kFieldCycles);
        ASSERT_FALSE(check.problems.empty());
        EXPECT_NE(check.problems[0].find("cycles from its time"), std::string::npos)
            << check.problems[0];
    }

} // namespace
} // namespace pelorin::tvc
