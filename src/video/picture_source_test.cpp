// A picture source in place of FFmpeg: its pictures are the device's slots, drawn unchanged into
// a window of their size, at the source's rate; a file it refuses stays unopened with its
// reason; every other file goes to FFmpeg. Each device asks only the opener it was given.
#include "picture_source.h"
#include "testing/test_videos.h"
#include "video_device.h"

#include "platform/picture_box.h"

#include <gtest/gtest.h>

namespace pelorin::video {
namespace {

    // Picture i: every pixel a different colour, with i + `shift` in its blue byte, so a wrong
    // slot, a shifted row, any resampling or another source's picture shows.
    class NumberedPictures : public PictureSource {
    public:
        explicit NumberedPictures(int shift = 0)
            : m_shift(shift)
        {
        }
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
                        = platform::Rgb(uint8_t(x * 7), uint8_t(y * 23), uint8_t(index + m_shift));
            return picture;
        }

    private:
        int m_shift;
    };

    // Serves "*.numbers" with pictures shifted by `shift` and refuses "*.refused".
    PictureSourceOpener NumbersOpener(int shift = 0)
    {
        return [shift](const std::string& path, std::string* error) {
            std::unique_ptr<PictureSource> source;
            if (path.ends_with(".numbers"))
                source = std::make_unique<NumberedPictures>(shift);
            else if (path.ends_with(".refused"))
                *error = "'" + path + "' is refused";
            return source;
        };
    }

    TEST(PictureSource, SlotsAreTheSourcesPicturesDrawnUnchanged)
    {
        platform::PictureBox box(37, 11);
        std::string error;
        auto device = VideoDevice::Open("any.numbers", &box, &error, {}, NumbersOpener());
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

    TEST(PictureSource, ARefusedFileIsNotOpenedAndItsReasonIsKept)
    {
        platform::PictureBox box(37, 11);
        std::string error;
        EXPECT_FALSE(VideoDevice::Open("x.refused", &box, &error, {}, NumbersOpener()));
        EXPECT_EQ(error, "'x.refused' is refused");
    }

    TEST(PictureSource, FilesTheOpenerLeavesAloneGoToFfmpeg)
    {
        platform::PictureBox box(512, 240);
        std::string error;
        auto device = VideoDevice::Open(test::SampleVideo(), &box, &error, {}, NumbersOpener());
        ASSERT_TRUE(device) << error;
        EXPECT_GT(device->Length(), 3);
    }

    TEST(PictureSource, DevicesOpenAtOnceEachAskOnlyTheirOwnOpener)
    {
        platform::PictureBox firstBox(37, 11);
        platform::PictureBox secondBox(37, 11);
        std::string error;
        auto first = VideoDevice::Open("a.numbers", &firstBox, &error, {}, NumbersOpener(0));
        ASSERT_TRUE(first) << error;
        auto second = VideoDevice::Open("a.numbers", &secondBox, &error, {}, NumbersOpener(100));
        ASSERT_TRUE(second) << error;
        // A device given no opener leaves the same name to FFmpeg, which finds no such file.
        EXPECT_FALSE(VideoDevice::Open("a.numbers", &firstBox, &error));
        EXPECT_FALSE(error.empty());

        ASSERT_TRUE(first->Seek(1));
        ASSERT_TRUE(second->Seek(1));
        EXPECT_TRUE(firstBox.Snapshot() == NumberedPictures(0).Picture(1));
        EXPECT_TRUE(secondBox.Snapshot() == NumberedPictures(100).Picture(1));
    }

} // namespace
} // namespace pelorin::video
