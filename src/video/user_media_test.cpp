// The video device on files as users bring them: phone clips stored turned, an animated GIF with
// uneven delays, transparency, very wide pictures, pipes, and a file cut short while it is read.
#include "testing/test_videos.h"
#include "testing/user_media.h"
#include "video_device.h"

#include "platform/picture_box.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include <unistd.h>

namespace pelorin::video {
namespace {

    using test::Hash;

    struct Shown {
        std::unique_ptr<platform::PictureBox> box;
        std::unique_ptr<VideoDevice> device;
    };

    // The device in a box of the size it shows the video at, drawn without resampling.
    Shown ShowAtOwnSize(const std::string& path, const DecoderOptions& options = {})
    {
        Shown s;
        std::string error;
        const auto probe = VideoDevice::Open(path, nullptr, &error, options);
        EXPECT_TRUE(probe) << error;
        if (!probe)
            return s;
        s.box
            = std::make_unique<platform::PictureBox>(probe->Window().width, probe->Window().height);
        s.device = VideoDevice::Open(path, s.box.get(), &error, options);
        EXPECT_TRUE(s.device) << error;
        return s;
    }

    TEST(UserMedia, TurnedPhoneClipsShowUprightAsFfmpegShowsThem)
    {
        for (const int degrees : { 0, 90, 180, 270 }) {
            SCOPED_TRACE(degrees);
            const Shown turned = ShowAtOwnSize(test::TurnedClip(degrees));
            const Shown upright = ShowAtOwnSize(test::UprightByFfmpeg(test::TurnedClip(degrees)));
            ASSERT_TRUE(turned.device && upright.device);
            EXPECT_EQ(turned.device->Window(), upright.device->Window());
            const int quarter = test::RedQuarter(upright.box->Snapshot());
            ASSERT_NE(quarter, -1);
            EXPECT_EQ(test::RedQuarter(turned.box->Snapshot()), quarter);
        }
    }

    TEST(UserMedia, EveryPictureOfAnUnevenGifHasASlot)
    {
        const std::string gif = test::UnevenGif();
        const std::vector<uint64_t> pictures
            = test::ReferenceSlotHashes(gif, test::SlotRule::InOrder);
        ASSERT_EQ(std::set<uint64_t>(pictures.begin(), pictures.end()).size(),
            size_t(test::kUnevenGifPictures));
        const Shown s = ShowAtOwnSize(gif);
        ASSERT_TRUE(s.device);
        std::vector<uint64_t> slots;
        for (int64_t slot = 0; slot < s.device->Length(); ++slot) {
            ASSERT_TRUE(s.device->Seek(slot));
            slots.push_back(Hash(s.box->Snapshot()));
        }
        // Each picture in order, each for at least one slot.
        slots.erase(std::unique(slots.begin(), slots.end()), slots.end());
        EXPECT_EQ(slots, pictures);
    }

    TEST(UserMedia, TransparentPixelsShowOverBlack)
    {
        const Shown s = ShowAtOwnSize(test::TransparentPicture());
        ASSERT_TRUE(s.device);
        const platform::Surface picture = s.box->Snapshot();
        ASSERT_EQ(picture.width, 4);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 4; ++x)
                EXPECT_EQ(picture.At(x, y), 0x555555u * uint32_t(x)) << x << ", " << y;
    }

    TEST(UserMedia, PicturesUpTo16384ASideOpenAndLargerAreRefusedSayingWhy)
    {
        std::string error;
        EXPECT_TRUE(VideoDevice::Open(test::WidePicture(12000), nullptr, &error)) << error;
        const std::string tooWide = test::WidePicture(16385);
        EXPECT_FALSE(VideoDevice::Open(tooWide, nullptr, &error));
        EXPECT_NE(error.find(tooWide), std::string::npos) << error;
        EXPECT_NE(error.find("too large"), std::string::npos) << error;
        EXPECT_NE(error.find("16384"), std::string::npos) << error;
    }

    TEST(UserMedia, APipeIsRefusedAsNotSeekable)
    {
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        const std::vector<uint8_t> bytes = test::ReadBytes(test::TransparentPicture());
        ASSERT_EQ(write(ends[1], bytes.data(), bytes.size()), ssize_t(bytes.size()));
        close(ends[1]);
        const std::string path = "/proc/self/fd/" + std::to_string(ends[0]);
        std::string error;
        EXPECT_FALSE(VideoDevice::Open(path, nullptr, &error));
        EXPECT_NE(error.find("cannot be seeked"), std::string::npos) << error;
        close(ends[0]);
    }

    // A file cut short while it is read: the window's reading keeps the last good picture,
    // complete reading fails at the first missing picture and then at once, decoding nothing.
    TEST(UserMedia, CompleteReadingStopsWhereAFileCutWhileReadEnds)
    {
        namespace fs = std::filesystem;
        const std::vector<uint8_t> whole = test::ReadBytes(test::FastStartMp4());
        for (const bool complete : { false, true }) {
            SCOPED_TRACE(complete);
            const std::string path = test::WrittenFile(
                "user_cut_" + std::to_string(getpid()) + std::to_string(complete) + ".mp4", whole);
            DecoderOptions options;
            options.complete = complete;
            const Shown s = ShowAtOwnSize(path, options);
            ASSERT_TRUE(s.device);
            const int64_t length = s.device->Length();
            ASSERT_EQ(length, 100);
            ASSERT_TRUE(s.device->Seek(5));
            fs::resize_file(path, whole.size() / 2);
            int64_t failedAt = -1;
            for (int64_t slot = 6; slot < length && failedAt < 0; ++slot)
                if (!s.device->Seek(slot))
                    failedAt = slot;
            if (!complete) {
                EXPECT_EQ(failedAt, -1) << "the last good picture stays";
                EXPECT_TRUE(s.device->Problem().empty());
            } else {
                ASSERT_GT(failedAt, 5);
                EXPECT_LT(failedAt, length * 3 / 4);
                EXPECT_FALSE(s.device->Problem().empty());
                const DecodeCounters before = s.device->Counters();
                for (int64_t slot : { failedAt, failedAt + 1, length - 1, int64_t(0) })
                    EXPECT_FALSE(s.device->Seek(slot)) << slot;
                EXPECT_EQ(s.device->Counters().packetsSent, before.packetsSent);
                EXPECT_EQ(s.device->Counters().demuxerSeeks, before.demuxerSeeks);
            }
            fs::remove(path);
        }
    }

} // namespace
} // namespace pelorin::video
