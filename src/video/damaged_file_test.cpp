// Hostile media at the video device: nothing crashes, a file that cannot be played fails to
// open cleanly with a reason naming it, and a file damaged part-way shows its intact pictures
// exactly and keeps the last good one over the damage.
#include "frame_painter.h"
#include "mci.h"
#include "testing/hostile_media.h"
#include "testing/test_videos.h"
#include "video_device.h"

#include "platform/picture_box.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
}

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace pelorin::video {
namespace {

    using test::HostileMedia;
    using test::OpenExpect;

    class HostileFile : public ::testing::TestWithParam<std::string> {
    protected:
        void SetUp() override
        {
            m_media = test::MakeHostileMedia(GetParam());
            ASSERT_FALSE(m_media.path.empty());
            static const std::vector<uint64_t> reference
                = test::ReferenceSlotHashes(test::HostileMediaBase(), test::SlotRule::InOrder);
            m_reference = reference;
            ASSERT_EQ(int64_t(m_reference.size()), test::HostileMediaBaseSlots());
            std::string error;
            const auto intact = VideoDevice::Open(test::HostileMediaBase(), nullptr, &error);
            ASSERT_TRUE(intact) << error;
            m_width = intact->Window().width;
            m_height = intact->Window().height;
        }
        uint64_t Reference(int64_t slot) const { return m_reference.at(size_t(slot)); }

        HostileMedia m_media;
        std::vector<uint64_t> m_reference;
        int m_width = 0;
        int m_height = 0;
    };

    TEST_P(HostileFile, NeverCrashesAndShowsOnlyGoodPictures)
    {
        const HostileMedia& m = m_media;
        constexpr uint32_t kBack = 0x00FF00FF;
        platform::PictureBox box(m_width, m_height, kBack);
        std::string error;
        auto device = VideoDevice::Open(m.path, &box, &error);
        if (m.expect == OpenExpect::FailsToOpen) {
            EXPECT_FALSE(device);
        }
        if (m.expect == OpenExpect::Opens) {
            ASSERT_TRUE(device) << error;
        }
        if (!device) {
            EXPECT_NE(error.find(m.path), std::string::npos)
                << "the reason names the file: " << error;
            if (!m.reason.empty()) {
                EXPECT_NE(error.find(m.reason), std::string::npos) << error;
            }
            EXPECT_EQ(box.Snapshot(), platform::Surface(m_width, m_height, kBack)) << "drew anyway";
            return;
        }
        const int64_t length = device->Length();
        const int64_t excerpt = int64_t(m_reference.size());
        EXPECT_GE(length, m.intactSlots);
        // Never more slots than the file has bytes for: no count is taken from a header.
        EXPECT_LE(length, int64_t(std::filesystem::file_size(m.path)));

        // Every slot, forwards then backwards, answers without crashing.
        const int64_t last = std::min(length, 4 * excerpt) - 1;
        for (int64_t s = 0; s <= last; ++s)
            device->Seek(s);
        for (int64_t s = last; s >= 0; --s)
            device->Seek(s);
        EXPECT_FALSE(device->Seek(length)) << "past the end";

        for (int64_t s = 0; s < std::min(m.intactSlots, length); ++s) {
            ASSERT_TRUE(device->Seek(s));
            EXPECT_EQ(test::Hash(box.Snapshot()), Reference(s)) << "intact slot " << s;
        }
        if (m.heldFrom > 0) {
            // Reached step by step, a damaged slot shows the last good picture (whether or not
            // the device could read the slot at all).
            const int64_t until = std::min(m.heldUntil, length);
            for (int64_t s = m.heldFrom; s < until; ++s) {
                ASSERT_TRUE(device->Seek(m.heldFrom - 1));
                for (int64_t step = m.heldFrom; step <= s; ++step)
                    device->Seek(step);
                EXPECT_EQ(test::Hash(box.Snapshot()), Reference(m.heldFrom - 1))
                    << "slot " << s << ", stepped to";
                // A jump past a damaged keyframe may find no good picture on its way: then the
                // picture shown before the jump stays.
                ASSERT_TRUE(device->Seek(0));
                device->Seek(s);
                const uint64_t jumped = test::Hash(box.Snapshot());
                EXPECT_TRUE(jumped == Reference(m.heldFrom - 1) || jumped == Reference(0))
                    << "slot " << s << ", jumped to";
            }
            if (m.heldFrom < until) {
                EXPECT_GE(device->Counters().damagedPictures, 1);
            }
        }
        if (m.recoversFrom >= 0) {
            // From the next keyframe on, the pictures are whole again.
            for (int64_t s = m.recoversFrom; s < std::min(excerpt, length); ++s) {
                ASSERT_TRUE(device->Seek(s));
                EXPECT_EQ(test::Hash(box.Snapshot()), Reference(s)) << "slot " << s;
            }
        }
    }

    TEST_P(HostileFile, AFailedOpenLeavesTheDeviceClosed)
    {
        platform::PictureBox box(160, 120);
        const std::string open = "open " + m_media.path + " Type avivideo Alias video1 parent "
            + std::to_string(box.hWnd());
        const uint32_t code = mciSendStringA(open, nullptr, 0, 0);
        std::string mode;
        const uint32_t status = mciSendStringA("status video1 mode", &mode, 255, 0);
        if (code == 0) {
            EXPECT_NE(m_media.expect, OpenExpect::FailsToOpen);
            EXPECT_EQ(status, 0u);
            EXPECT_EQ(mode, "stopped");
        } else {
            EXPECT_NE(m_media.expect, OpenExpect::Opens) << MciLastErrorDetail();
            EXPECT_EQ(code, uint32_t(MCIERR_INVALID_FILE));
            EXPECT_EQ(status, uint32_t(MCIERR_INVALID_DEVICE_NAME));
        }
        mciSendStringA("close all", nullptr, 0, 0);
    }

    INSTANTIATE_TEST_SUITE_P(Sample, HostileFile, ::testing::ValuesIn(test::HostileMediaNames()),
        [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

    // Raw pictures take their size from the headers alone: an absurd size is refused before
    // anything is allocated for it.
    TEST(DamagedFile, RawVideoWithAnUnacceptableSizeIsRefused)
    {
        const std::string base = test::MadeVideo("damage_raw.avi",
            { "-f", "lavfi", "-i", "testsrc2=size=160x120:rate=25:duration=1", "-c:v", "rawvideo",
                "-pix_fmt", "bgr24" });
        const std::vector<uint8_t> intact = test::ReadBytes(base);
        ASSERT_FALSE(intact.empty());
        const struct {
            uint32_t width;
            uint32_t height;
        } sizes[] = { { 30000, 30000 }, { 0, 0 }, { 0, 120 }, { 160, 0 },
            { uint32_t(kMaxVideoSide) + 1, 2 }, { 2, uint32_t(kMaxVideoSide) + 1 },
            { 0x80000000u, 120 } };
        for (const auto& size : sizes) {
            const std::string path = test::WrittenFile("damaged_raw_" + std::to_string(size.width)
                    + "x" + std::to_string(size.height) + ".avi",
                test::WithHeaderPictureSize(intact, size.width, size.height));
            std::string error;
            EXPECT_FALSE(VideoDevice::Open(path, nullptr, &error))
                << size.width << " x " << size.height;
            EXPECT_FALSE(error.empty());
        }
        std::string error;
        EXPECT_TRUE(VideoDevice::Open(base, nullptr, &error)) << error;
    }

    TEST(DamagedFile, AFolderOrAMissingFileIsNoVideo)
    {
        std::string error;
        EXPECT_FALSE(VideoDevice::Open("/no/such/file.avi", nullptr, &error));
        EXPECT_NE(error.find("/no/such/file.avi"), std::string::npos) << error;
        EXPECT_FALSE(VideoDevice::Open(test::TestVideoFolder(), nullptr, &error));
    }

    // Colour labels come from the file unchecked. One that names no known matrix or range is
    // painted as unlabelled video, the same as no label at all (and, under the sanitizers, is
    // never read as an enumerator it is not).
    TEST(DamagedFile, AnUnknownColourLabelPaintsAsUnlabelled)
    {
        auto paint = [](int colorspace, int range) {
            AVFrame* frame = av_frame_alloc();
            frame->format = AV_PIX_FMT_YUV420P;
            frame->width = 8;
            frame->height = 8;
            EXPECT_GE(av_frame_get_buffer(frame, 0), 0);
            for (int plane = 0; plane < 3; ++plane)
                for (int y = 0; y < (plane ? 4 : 8); ++y)
                    std::memset(frame->data[plane] + y * frame->linesize[plane],
                        plane ? 90 + 40 * plane : 150, size_t(plane ? 4 : 8));
            std::memcpy(&frame->colorspace, &colorspace, sizeof colorspace);
            std::memcpy(&frame->color_range, &range, sizeof range);
            platform::Surface surface(8, 8);
            FramePainter painter;
            EXPECT_TRUE(painter.Paint(*frame, surface, {0, 0, 8, 8}));
            av_frame_free(&frame);
            return surface;
        };
        const platform::Surface unlabelled = paint(AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_UNSPECIFIED);
        EXPECT_TRUE(paint(69, 69) == unlabelled);
        EXPECT_TRUE(paint(-5, -5) == unlabelled);
        // The labels do reach the painter.
        EXPECT_FALSE(paint(AVCOL_SPC_BT709, AVCOL_RANGE_UNSPECIFIED) == unlabelled);
        EXPECT_FALSE(paint(AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_JPEG) == unlabelled);
    }

} // namespace
} // namespace pelorin::video
