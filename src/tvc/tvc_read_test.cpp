#include "tvc_read.h"

#include "clip_player.h"
#include "earlier_programs.h"
#include "testing/clip_check.h"
#include "convert/palette.h"
#include "pipeline/vram.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

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
        const std::vector<std::vector<uint8_t>> frames = test::ChangingFrames(8, 2500, 5);
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

    using test::ChangingFrames;

    std::string Refusal(const std::vector<uint8_t>& bytes, const char* extension)
    {
        try {
            ParseTvcFile(bytes, extension, nullptr, "f");
        } catch (const TvcFileError& e) {
            return e.what();
        }
        return "accepted";
    }

    TEST(ReadBack, LongClipGivesEveryFrameInAnyOrder)
    {
        // Far more frames than one kept screen covers: frames between are rebuilt from records.
        const auto frames = ChangingFrames(3 * int(kClipSnapshotFrames) + 5, 4, 7);
        ClipBuilder builder(TvcModeOf(16), 25, 1);
        for (const auto& frame : frames)
            ASSERT_TRUE(builder.Add(frame));
        const TvcFile file = ParseTvcFile(builder.CasBytes(), ".cas", nullptr, "c");
        ASSERT_EQ(file.FrameCount(), frames.size());
        for (const size_t i : { size_t(150), size_t(3), kClipSnapshotFrames, size_t(196),
                 kClipSnapshotFrames - 1, size_t(0) })
            EXPECT_TRUE(file.Frame(i) == frames[i]) << "frame " << i;
        EXPECT_THROW(file.Frame(frames.size()), std::out_of_range);
    }

    TEST(ReadBack, HostileClipRecordsAreRefusedNotFollowed)
    {
        ClipBuilder builder(TvcModeOf(4), 25, 1);
        for (const auto& frame : ChangingFrames(4, 50, 3))
            ASSERT_TRUE(builder.Add(frame));
        const std::vector<uint8_t> clip = builder.CasBytes();
        const size_t first = builder.FrameRecordOffsets().front();
        const auto address = [](size_t offset) { return kProgramLoadAddress + offset - kCasHeaderBytes; };
        const auto jump = [&](std::vector<uint8_t>& bytes, size_t at, size_t to) {
            bytes[at] = kRecordJump;
            bytes[at + 1] = uint8_t(address(to) & 0xFF);
            bytes[at + 2] = uint8_t(address(to) >> 8);
        };
        // Jumps that never reach a frame would keep the player, and a reader following it,
        // going for ever.
        std::vector<uint8_t> itself = clip;
        jump(itself, first, first);
        EXPECT_NE(Refusal(itself, ".cas").find("circle"), std::string::npos) << Refusal(itself, ".cas");
        std::vector<uint8_t> pair = clip;
        jump(pair, first, first + 3);
        jump(pair, first + 3, first);
        EXPECT_NE(Refusal(pair, ".cas").find("circle"), std::string::npos);
        // A jump into the program's second region names the address as the machine does.
        std::vector<uint8_t> outside = clip;
        jump(outside, first, 0);
        outside[first + 1] = 0x00;
        outside[first + 2] = 0x90;
        EXPECT_NE(Refusal(outside, ".cas").find("9000h"), std::string::npos) << Refusal(outside, ".cas");
        // A copy from below the screen would draw what is not a picture.
        std::vector<uint8_t> copy = clip;
        const uint8_t farCopy[] = { 0x00, 0xC0, 0x00, 0x70 };
        std::copy(std::begin(farCopy), std::end(farCopy), copy.begin() + ptrdiff_t(first + 1));
        EXPECT_NE(Refusal(copy, ".cas").find("a copy from outside the picture"), std::string::npos)
            << Refusal(copy, ".cas");
    }

    TEST(ReadBack, ClipsOfTheFirstPlayerAreStillRead)
    {
        // Frames 0, 1, 2: the first ten bytes hold 1, 2, 3. Each record: a wait count, one
        // run of ten bytes, the end; then the way back to frame 0 and a jump to frame 1.
        std::vector<uint8_t> data { 2, 0, 0, 0, 0, 0, 25, 0, 0, 0, 1, 0, 0, 0 };
        std::vector<size_t> starts;
        for (const uint8_t value : { 1, 2, 3, 1 }) {
            starts.push_back(data.size());
            data.insert(data.end(), { 0x00, 0x00, 0, 10 });
            data.insert(data.end(), 10, value);
            data.insert(data.end(), { 0, 0 });
        }
        const size_t frameOne = kCodeAddress + EarlierPlayClipCode().size() + starts[1];
        data.insert(data.end(), { 0xFF, 0xFF, uint8_t(frameOne & 0xFF), uint8_t(frameOne >> 8) });
        const TvcFile file = ParseTvcFile(CasBytes(EarlierPlayClipCode(), data), ".cas", nullptr, "c");
        EXPECT_EQ(file.mode, &TvcModeOf(16));
        ASSERT_EQ(file.FrameCount(), 3u);
        for (size_t i = 0; i < 3; ++i) {
            std::vector<uint8_t> want(kVramFrameBytes, 0);
            std::fill_n(want.begin(), 10, uint8_t(i + 1));
            EXPECT_TRUE(file.Frame(i) == want) << "frame " << i;
        }
    }

    TEST(ReadBack, ClipRateBeyondIntIsBroughtWithinIt)
    {
        ClipBuilder builder(TvcModeOf(2), 25, 1);
        for (const auto& frame : ChangingFrames(3, 10, 9))
            ASSERT_TRUE(builder.Add(frame));
        std::vector<uint8_t> bytes = builder.CasBytes();
        // The rate's two 32-bit words follow the mode, the registers and the border.
        const size_t rateAt = kCasHeaderBytes + 16 + PlayClipCode().size() + 6;
        ASSERT_EQ(bytes[rateAt], 25);
        for (size_t i = 0; i < 4; ++i) {
            bytes[rateAt + i] = 0xFF; // 4,294,967,295 ...
            bytes[rateAt + 4 + i] = i == 0 ? 3 : 0; // ... over 3
        }
        const TvcFile file = ParseTvcFile(bytes, ".cas", nullptr, "c");
        EXPECT_LE(file.rateNumerator, INT_MAX);
        EXPECT_GE(file.rateDenominator, 1);
        EXPECT_NEAR(double(file.rateNumerator) / double(file.rateDenominator), 4294967295.0 / 3,
            4294967295.0 / 3 * 1e-6);
    }

    class TvcFileOnDisk : public ::testing::Test {
    protected:
        std::filesystem::path folder = std::filesystem::path(::testing::TempDir())
            / ("pelorin-tvc-read-" + std::to_string(getpid()));
        void SetUp() override { std::filesystem::create_directories(folder); }
        void TearDown() override { std::filesystem::remove_all(folder); }
        // A file of `size` bytes, `start` at its beginning and holes after it.
        std::string Sparse(const std::string& name, uint64_t size, std::vector<uint8_t> start = {})
        {
            const std::string path = (folder / name).string();
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char*>(start.data()), std::streamsize(start.size()));
            std::filesystem::resize_file(path, size);
            return path;
        }
        static std::string Message(const std::string& path, const TvcMode* mode = nullptr)
        {
            try {
                ReadTvcFile(path, mode);
            } catch (const TvcFileError& e) {
                return e.what();
            }
            return "accepted";
        }
    };

    TEST_F(TvcFileOnDisk, HugeFilesAreRefusedByTheirSizeWithoutBeingRead)
    {
        constexpr uint64_t kFourGigabytes = uint64_t(4) << 30;
        EXPECT_NE(Message(Sparse("a.kep", kFourGigabytes)).find("does not start with KEP"),
            std::string::npos);
        const std::string kep = Message(Sparse("b.KEP", kFourGigabytes, { 'K', 'E', 'P', 1 }));
        EXPECT_NE(kep.find(std::to_string(kFourGigabytes) + " bytes"), std::string::npos) << kep;
        const std::string cas = Message(Sparse("c.cas", kFourGigabytes, { 0x11 }));
        EXPECT_NE(cas.find("at most"), std::string::npos) << cas;
    }

    TEST_F(TvcFileOnDisk, VramIsReadFrameByFrame)
    {
        // 100,000 frames on disk (1.5 GB of holes but for the last frame's first byte): opening
        // and showing one frame reads that frame alone.
        const uint64_t frames = 100'000;
        const std::string path = Sparse("many.vram", frames * kVramFrameBytes);
        {
            std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
            f.seekp(std::streamoff((frames - 1) * kVramFrameBytes));
            f.put(char(0x55));
        }
        const TvcFile file = ReadTvcFile(path, &TvcModeOf(4));
        ASSERT_EQ(file.FrameCount(), frames);
        EXPECT_EQ(file.Frame(size_t(frames - 1))[0], 0x55);
        EXPECT_EQ(file.Frame(7)[0], 0);
        EXPECT_NE(Message(Sparse("odd.vram", kVramFrameBytes + 1), &TvcModeOf(4)).find("whole number"),
            std::string::npos);
    }

    TEST_F(TvcFileOnDisk, SpecialFilesAreRefusedAtOnce)
    {
        // An endless device and a pipe with no writer: neither may be read or waited on.
        const std::string zero = (folder / "zero.vram").string();
        std::filesystem::create_symlink("/dev/zero", zero);
        EXPECT_NE(Message(zero, &TvcModeOf(16)).find("not a regular file"), std::string::npos);
        const std::string pipe = (folder / "pipe.kep").string();
        ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
        EXPECT_NE(Message(pipe).find("not a regular file"), std::string::npos);
        EXPECT_NE(Message(folder.string() + "/missing.cas").find("cannot read"), std::string::npos);
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
