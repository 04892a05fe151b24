// The TVC's files through the opener both front doors hand the video device: a .kep opens as a
// picture of the host's size in the colours its registers give, and the facts tell its mode and
// registers; a refused file and a file left to FFmpeg leave no facts of an earlier file behind.
#include "tvc_source.h"

#include "platform/picture_box.h"
#include "video/video_device.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace pelorin::tvc {
namespace {

    class TvcOpenerTest : public ::testing::Test {
    protected:
        std::filesystem::path folder = std::filesystem::path(::testing::TempDir())
            / ("pelorin-tvc-source-" + std::to_string(getpid()));
        TvcFileFacts facts;
        video::PictureSourceOpener opener = TvcPictureOpener({ 512, 240, nullptr }, &facts);

        void SetUp() override { std::filesystem::create_directories(folder); }
        void TearDown() override { std::filesystem::remove_all(folder); }
        std::string Write(const std::string& name, const std::vector<uint8_t>& bytes)
        {
            const std::string path = (folder / name).string();
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
            return path;
        }
        // "Graphics 4" with registers dim green, bright yellow, black, bright white; the first
        // pixel has index 1 (its low bit in bit 7 of the byte), so it shows bright yellow.
        static std::vector<uint8_t> YellowCornerKep()
        {
            std::vector<uint8_t> kep { 'K', 'E', 'P', 1, 0x10, 0x54, 0x00, 0x55 };
            kep.resize(kKepBytes, 0);
            kep[8] = 0x80;
            return kep;
        }
    };

    TEST_F(TvcOpenerTest, KepOpensAtTheHostsSizeAndItsFactsNameModeAndRegisters)
    {
        // The extension counts in any case.
        const std::string path = Write("corner.KEP", YellowCornerKep());
        platform::PictureBox box(512, 240);
        std::string error;
        auto device = video::VideoDevice::Open(path, &box, &error, {}, opener);
        ASSERT_TRUE(device) << error;
        EXPECT_EQ(device->Length(), 1);
        EXPECT_EQ(facts.mode, &TvcModeOf(4));
        // dark-green, yellow, black, white
        EXPECT_EQ(facts.colours, (std::vector<int> { 4, 14, 0, 15 }));
        EXPECT_TRUE(facts.refusal.empty());
        // A "Graphics 4" pixel is two host pixels wide and one high.
        const platform::Surface shown = box.Snapshot();
        EXPECT_EQ(shown.At(0, 0) & 0xFFFFFFu, 0xFFFF00u);
        EXPECT_EQ(shown.At(1, 0) & 0xFFFFFFu, 0xFFFF00u);
        EXPECT_EQ(shown.At(2, 0) & 0xFFFFFFu, 0x009100u);
        EXPECT_EQ(shown.At(0, 1) & 0xFFFFFFu, 0x009100u);
    }

    TEST_F(TvcOpenerTest, RefusalAndOtherFilesLeaveNoFactsOfTheFileBefore)
    {
        std::string error;
        ASSERT_TRUE(opener(Write("good.kep", YellowCornerKep()), &error)) << error;
        ASSERT_TRUE(facts.mode);

        const std::string bad = Write("bad.kep", { 'N', 'O', 'T' });
        EXPECT_FALSE(opener(bad, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(facts.refusal, error);
        EXPECT_EQ(facts.mode, nullptr);
        EXPECT_TRUE(facts.colours.empty());

        // A video is FFmpeg's: no source, no reason, and the refusal before is forgotten.
        error.clear();
        EXPECT_FALSE(opener((folder / "clip.avi").string(), &error));
        EXPECT_TRUE(error.empty());
        EXPECT_TRUE(facts.refusal.empty());
    }

} // namespace
} // namespace pelorin::tvc
