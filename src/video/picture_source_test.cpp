// A picture source in place of FFmpeg: its pictures are the device's slots, drawn unchanged into
// a window of their size, at the source's rate; a file it refuses stays unopened with its
// reason; with no opener set every file goes to FFmpeg.
#include "picture_source.h"
#include "testing/test_videos.h"
#include "video_device.h"

#include "platform/picture_box.h"

#include <gtest/gtest.h>

#include <fstream>

namespace pelorin::video {
namespace {

    // Picture i: every pixel a different colour, with i in its blue byte, so a wrong slot, a
    // shifted row or any resampling shows.
    class NumberedPictures : public PictureSource {
    public:
        int64_t Count() const override { return 3; }
        int RateNumerator() const override { return 10; }
        int RateDenominator() const override { return 1; }
        int Width() const override { return 37; }
        int Height() const override { return 11; }
        platform::Surface Picture(int64_t index) const override
        {
            platform::Surface picture(37, 11);
            for (int y = 0; y < 11; ++y)
                for (int x = 0; x < 37; ++x)
                    picture.At(x, y)
                        = platform::Rgb(uint8_t(x * 7), uint8_t(y * 23), uint8_t(index));
            return picture;
        }
    };

    class PictureSourceTest : public ::testing::Test {
    protected:
        PictureSourceTest()
        {
            SetPictureSourceOpener([](const std::string& path, std::string* error) {
                std::unique_ptr<PictureSource> source;
                if (path.ends_with(".numbers"))
                    source = std::make_unique<NumberedPictures>();
                else if (path.ends_with(".refused"))
                    *error = "'" + path + "' is refused";
                return source;
            });
        }
        ~PictureSourceTest() override { SetPictureSourceOpener({}); }
    };

    TEST_F(PictureSourceTest, SlotsAreTheSourcesPicturesDrawnUnchanged)
    {
        platform::PictureBox box(37, 11);
        std::string error;
        auto device = VideoDevice::Open("any.numbers", &box, &error);
        ASSERT_TRUE(device) << error;
        EXPECT_EQ(device->Length(), 3);
        EXPECT_EQ(device->RateNumerator(), 10);
        EXPECT_EQ(device->RateDenominator(), 1);
        const NumberedPictures pictures;
        for (const int64_t slot : { 0, 2, 1, 2 }) {
            ASSERT_TRUE(device->Seek(slot));
            EXPECT_EQ(device->Position(), slot);
            EXPECT_TRUE(box.Snapshot() == pictures.Picture(slot)) << "slot " << slot;
        }
        EXPECT_FALSE(device->Seek(3));
        EXPECT_EQ(device->Position(), 2);
    }

    TEST_F(PictureSourceTest, ARefusedFileIsNotOpenedAndItsReasonIsKept)
    {
        platform::PictureBox box(37, 11);
        std::string error;
        EXPECT_FALSE(VideoDevice::Open("x.refused", &box, &error));
        EXPECT_EQ(error, "'x.refused' is refused");
    }

    TEST_F(PictureSourceTest, FilesTheOpenerLeavesAloneGoToFfmpeg)
    {
        platform::PictureBox box(512, 240);
        std::string error;
        auto device = VideoDevice::Open(test::SampleVideo(), &box, &error);
        ASSERT_TRUE(device) << error;
        EXPECT_GT(device->Length(), 3);
    }

} // namespace
} // namespace pelorin::video
