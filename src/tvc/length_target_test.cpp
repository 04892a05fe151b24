#include "length_target.h"

#include "clip_budget.h"
#include "clip_player.h"
#include "testing/clip_check.h"

#include "pipeline/vram.h"

#include <gtest/gtest.h>

#include <random>

namespace pelorin::tvc {
namespace {

    using Frame = std::vector<uint8_t>;

    const TvcMode& kMode16 = TvcModeOf(16);

    // A record as its changed bytes and four bytes more: simple enough to work budgets out by
    // hand, and a reminder that the chooser knows no more of the format than this.
    size_t ChangedPlusFour(std::span<const uint8_t> before, std::span<const uint8_t> after)
    {
        size_t changed = 0;
        for (size_t i = 0; i < before.size(); ++i)
            changed += before[i] != after[i];
        return changed + 4;
    }

    LengthTargetSettings Settings(size_t frames, size_t budget, RecordCost cost = ChangedPlusFour)
    {
        LengthTargetSettings s;
        s.mode = &kMode16;
        s.palette = kMode16.palette;
        s.frames = frames;
        s.budgetBytes = budget;
        s.recordCost = std::move(cost);
        return s;
    }

    // The played frames of `targets`, each checked against the rule of a played frame: every
    // byte is the one played before or the target's, and at most the limit of them change.
    std::vector<Frame> Play(LengthTarget& chooser, const std::vector<Frame>& targets,
        size_t changeLimit = kFrameChangeLimitBytes)
    {
        std::vector<Frame> played;
        for (const Frame& target : targets) {
            const std::span<const uint8_t> p = chooser.Next(target);
            played.emplace_back(p.begin(), p.end());
            if (played.size() == 1) {
                EXPECT_EQ(played[0], target) << "the first frame is played exactly";
                continue;
            }
            const Frame& before = played[played.size() - 2];
            size_t changed = 0;
            for (size_t i = 0; i < kVramFrameBytes; ++i) {
                if (played.back()[i] == before[i])
                    continue;
                ++changed;
                EXPECT_EQ(played.back()[i], target[i])
                    << "byte " << i << " of frame " << played.size() - 1 << " is no target's";
            }
            EXPECT_LE(changed, changeLimit) << "frame " << played.size() - 1;
        }
        return played;
    }

    // A black screen with a white tile of 4 × 4 bytes at tile `white` and a dark blue one at
    // tile `blue` (tiles numbered row by row, 16 to a row).
    Frame Tiles(int white, int blue)
    {
        Frame frame(kVramFrameBytes, 0);
        const auto fill = [&](int tile, uint8_t byte) {
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 4; ++x)
                    frame[size_t((tile / 16 * 4 + y) * 64 + tile % 16 * 4 + x)] = byte;
        };
        if (white >= 0)
            fill(white, 0xFF); // colour 15 in both pixels
        if (blue >= 0)
            fill(blue, 0x03); // colour 1 in both pixels
        return frame;
    }

    TEST(LengthTarget, AnAmpleBudgetPlaysTheTargetsExactly)
    {
        const std::vector<Frame> targets = test::ChangingFrames(6, 300, 7);
        LengthTarget chooser(Settings(targets.size(), 1 << 20));
        EXPECT_EQ(Play(chooser, targets), targets);
        EXPECT_EQ(chooser.BytesLeftOut(), 0u);
    }

    TEST(LengthTarget, TheChangeTheEyeSeesMostGoesFirstAndTheOtherFollows)
    {
        // Frame 1 may spend half of the 64 bytes free of the least: one tile (16 bytes, 20 with
        // its record's four, and as much again for the way back, less what both take anyway),
        // not both. The white tile differs far more from black than the dark blue one.
        const Frame black = Tiles(-1, -1), both = Tiles(88, 0);
        LengthTargetSettings s = Settings(3, 16 + 64);
        s.drawShares = 1;
        LengthTarget chooser(s);
        const std::vector<Frame> played = Play(chooser, { black, both, both });
        EXPECT_EQ(played[1], Tiles(88, -1));
        // Left out, the dark blue tile still differs from the next target and goes then.
        EXPECT_EQ(played[2], both);
        EXPECT_LE(chooser.BytesUsed(), s.budgetBytes);
    }

    TEST(LengthTarget, ACutArrivesOverFramesWithinTheDrawingLimit)
    {
        std::mt19937 random(3);
        Frame cut(kVramFrameBytes);
        for (uint8_t& b : cut)
            b = uint8_t(random() | 0x80); // never black, so every byte changes
        std::vector<Frame> targets(1, Frame(kVramFrameBytes, 0));
        targets.resize(20, cut);
        LengthTarget chooser(Settings(targets.size(), 1 << 20));
        const std::vector<Frame> played = Play(chooser, targets);
        // 16 bytes a tile: 59 tiles (944 bytes) a frame, 17 frames for the 15,360 bytes.
        EXPECT_NE(played[16], cut);
        EXPECT_EQ(played[17], cut);
    }

    TEST(LengthTarget, TheFirstFrameTellsHowManyFit)
    {
        EXPECT_EQ(MostFrames(100, 20, 4), 20u); // 20 + 19 · 4 + the way back, 4
        EXPECT_EQ(MostFrames(23, 20, 4), 0u);
        const Frame first = Tiles(5, 9); // 32 changed bytes against the empty screen
        LengthTarget fits(Settings(16, 36 + 16 * 4));
        EXPECT_NO_THROW(fits.Next(first));
        LengthTarget tooMany(Settings(17, 36 + 16 * 4));
        EXPECT_THROW(tooMany.Next(first), std::invalid_argument);
    }

    // The real record format and memory: a clip whose exact frames would hold a fraction of the
    // frames asked for plays every one of them, right and on time, in the model of the machine.
    TEST(LengthTarget, AClipOfTheChosenFramesFitsAndPlays)
    {
        // Five frames a second: the way back to frame 0 is not bounded by the drawing limit,
        // and it is drawn within a frame time at this rate.
        const std::vector<Frame> targets = test::ChangingFrames(60, 400, 11);
        const ClipMemory memory = ClipMemoryFor(kMode16, 5, 1);
        LengthTarget chooser(ClipLengthSettings(memory, kMode16, kMode16.palette, targets.size()));
        const std::vector<Frame> played = Play(chooser, targets);
        EXPECT_GT(chooser.BytesLeftOut(), 0u) << "the exact frames would have fitted";
        ClipBuilder builder(kMode16, 5, 1);
        for (const Frame& frame : played)
            ASSERT_TRUE(builder.Add(frame)) << "frame " << builder.FramesKept();
        EXPECT_LE(chooser.BytesUsed(), memory.recordBudgetBytes);
        const test::ClipCheck check = test::PlayAndCheck(
            builder.CasBytes(), played,
            [&builder](int64_t frame) { return builder.DueCycle(frame); },
            int64_t(played.size()) + 3, kFieldCycles, { .videoRamWaits = true });
        EXPECT_TRUE(check.problems.empty()) << check.problems.front();
    }

    TEST(UnpackVram, GivesBackThePictureItWasPackedFrom)
    {
        std::mt19937 random(5);
        for (const TvcMode& mode : TvcModes()) {
            platform::Surface picture(mode.workingWidth, mode.workingHeight);
            // Black is entry 0 and entry 8 of "Graphics 16"; packing takes the first.
            for (uint32_t& pixel : picture.pixels)
                pixel = PackEntry(mode.palette[random() % mode.palette.size()]);
            std::vector<uint8_t> vram;
            PackVram(picture, mode, vram);
            platform::Surface back(mode.workingWidth, mode.workingHeight);
            UnpackVram(vram, mode, mode.palette, back);
            EXPECT_EQ(back.pixels, picture.pixels) << mode.QuotedCaption();
        }
    }

} // namespace
} // namespace pelorin::tvc
