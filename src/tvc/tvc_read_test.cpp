#include "tvc_read.h"

#include "clip_player.h"
#include "convert/palette.h"
#include "pipeline/vram.h"

#include <gtest/gtest.h>

#include <random>

namespace pelorin::tvc {
namespace {

    platform::Surface RandomWorking(const TvcMode& mode, uint32_t seed)
    {
        platform::Surface picture(mode.workingWidth, mode.workingHeight);
        std::mt19937 random(seed);
        for (uint32_t& pixel : picture.pixels)
            pixel = PackEntry(mode.palette[random() % mode.palette.size()]);
        return picture;
    }

    TEST(ReadBack, KepAndPictureCasGiveTheWorkingPictureInEveryMode)
    {
        for (const TvcMode& mode : TvcModes()) {
            SCOPED_TRACE(mode.QuotedCaption());
            const platform::Surface working = RandomWorking(mode, 11);
            const TvcPicture picture = PictureFromWorking(working, mode);
            for (const auto& [bytes, extension] : { std::pair { KepBytes(picture), ".kep" },
                     std::pair { PictureCasBytes(picture), ".cas" } }) {
                const TvcFile file = ParseTvcFile(bytes, extension, nullptr, "p");
                EXPECT_EQ(file.mode, &mode);
                EXPECT_EQ(file.registers, picture.registers);
                ASSERT_EQ(file.FrameCount(), 1u);
                EXPECT_TRUE(WorkingPicture(file, 0).pixels == working.pixels) << extension;
            }
        }
    }

    TEST(ReadBack, KepShowsTheRegistersItCarries)
    {
        // "Graphics 4" with registers dim green, bright yellow, black, bright white: a pixel of
        // index 1 (low bit in bit 7 of the byte) shows bright yellow.
        std::vector<uint8_t> kep { 'K', 'E', 'P', 1, 0x10, 0x54, 0x00, 0x55 };
        kep.resize(kKepBytes, 0);
        kep[8] = 0x80;
        const platform::Surface shown = WorkingPicture(ParseTvcFile(kep, ".kep", nullptr, "k"), 0);
        EXPECT_EQ(shown.pixels[0], 0xFFFF00u);
        EXPECT_EQ(shown.pixels[1], 0x009100u);
    }

    TEST(ReadBack, ClipGivesItsFramesAndRate)
    {
        std::mt19937 random(5);
        std::vector<std::vector<uint8_t>> frames(1, std::vector<uint8_t>(kVramFrameBytes));
        for (uint8_t& b : frames[0])
            b = uint8_t(random());
        for (int f = 1; f < 8; ++f) {
            frames.push_back(frames.back());
            for (int c = 0; c < 2500; ++c)
                frames.back()[random() % kVramFrameBytes] = uint8_t(random());
        }
        ClipBuilder builder(TvcModeOf(2), 30000, 1001);
        size_t kept = 0;
        while (kept < frames.size() && builder.Add(frames[kept]))
            ++kept;
        ASSERT_GE(kept, 2u);
        const TvcFile file = ParseTvcFile(builder.CasBytes(), ".cas", nullptr, "c");
        EXPECT_EQ(file.mode, &TvcModeOf(2));
        EXPECT_EQ(file.rateNumerator, 30000);
        EXPECT_EQ(file.rateDenominator, 1001);
        ASSERT_EQ(file.FrameCount(), kept);
        for (size_t i = 0; i < kept; ++i)
            EXPECT_TRUE(file.Frame(i) == frames[i]) << "frame " << i;
    }

    TEST(ReadBack, RefusesWhatItCannotShowNamingWhatWasFound)
    {
        const auto message = [](const std::vector<uint8_t>& bytes, const char* extension) {
            try {
                ParseTvcFile(bytes, extension, nullptr, "f");
            } catch (const TvcFileError& e) {
                return std::string(e.what());
            }
            return std::string("accepted");
        };
        // Another program: "10 PRINT 1" and "20 END" as some other tool would write them.
        const uint8_t program[] = { 7, 10, 0, 0xDD, '1', 0xFF, 0, 6, 20, 0, 0xEE, 0xFF, 0 };
        std::vector<uint8_t> other = CasBytes({}, {});
        other.resize(kCasHeaderBytes);
        other.insert(other.end(), std::begin(program), std::end(program));
        other[0x82] = sizeof program;
        const std::string foreign = message(other, ".cas");
        EXPECT_NE(foreign.find("did not write"), std::string::npos) << foreign;
        EXPECT_NE(
            foreign.find("BASIC program of 2 lines (the first numbered 10)"), std::string::npos)
            << foreign;
        EXPECT_NE(
            message({ 'K', 'E', 'P', 0x82 }, ".kep").find("flag byte 82h"), std::string::npos);
        EXPECT_NE(message(std::vector<uint8_t>(100), ".kep").find("KEP"), std::string::npos);
        EXPECT_NE(message(std::vector<uint8_t>(kVramFrameBytes), ".vram").find("--mode"),
            std::string::npos);
        const std::vector<uint8_t> partial(kVramFrameBytes + 1);
        EXPECT_NE(
            ParseTvcFile(std::vector<uint8_t>(2 * kVramFrameBytes), ".vram", &TvcModeOf(4), "v")
                .FrameCount(),
            0u);
        EXPECT_THROW(ParseTvcFile(partial, ".vram", &TvcModeOf(4), "v"), TvcFileError);
    }

    TEST(ReadBack, EnlargedPictureRepeatsWholePixels)
    {
        platform::Surface working(2, 1);
        working.pixels = { 1, 2 };
        EXPECT_EQ(EnlargeWhole(working, 8, 2).pixels,
            (std::vector<uint32_t> { 1, 1, 1, 1, 2, 2, 2, 2, 1, 1, 1, 1, 2, 2, 2, 2 }));
    }

} // namespace
} // namespace pelorin::tvc
