// Denoising in the decoder: a still scene under camera noise changes much less from frame to
// frame, the stronger the level the less, with the frames' count, size and timing unchanged;
// the filter's memory follows the position, so the same frames read again give the same
// pictures.
#include "frame_decoder.h"
#include "testing/test_videos.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace pelorin::video {
namespace {

    // A fixed detailed scene under noise that changes every frame, as from a camera on a
    // tripod: 2 s at 25 frames per second, 4:2:0 as cameras record, stored losslessly with
    // every frame a keyframe (so every jump could seek).
    std::string NoisyStillClip()
    {
        return test::MadeVideo("noisy_still.mkv",
            { "-f", "lavfi", "-i",
                "mandelbrot=size=96x64:rate=25,trim=end_frame=1,loop=loop=-1:size=1,"
                "setpts=N/25/TB,format=yuv420p,noise=alls=12:allf=t",
                "-t", "2", "-c:v", "ffv1" });
    }

    std::unique_ptr<FrameDecoder> Open(const std::string& path, Denoise level)
    {
        DecoderOptions options;
        options.complete = true;
        options.sequential = true;
        options.denoise = level;
        std::string error;
        auto decoder = FrameDecoder::Open(path, &error, options);
        EXPECT_TRUE(decoder) << error;
        return decoder;
    }

    std::vector<uint8_t> Luma(const AVFrame& f)
    {
        std::vector<uint8_t> luma;
        for (int y = 0; y < f.height; ++y)
            luma.insert(
                luma.end(), f.data[0] + y * f.linesize[0], f.data[0] + y * f.linesize[0] + f.width);
        return luma;
    }

    // Every slot's luma, read in order.
    std::vector<std::vector<uint8_t>> ReadAll(FrameDecoder& decoder)
    {
        std::vector<std::vector<uint8_t>> pictures;
        for (int64_t slot = 0; slot < decoder.SlotCount(); ++slot) {
            EXPECT_TRUE(decoder.SeekToSlot(slot)) << "slot " << slot;
            const AVFrame* f = decoder.Picture();
            EXPECT_EQ(f->format, AV_PIX_FMT_YUV420P);
            pictures.push_back(Luma(*f));
        }
        return pictures;
    }

    // The mean absolute difference of the luma between consecutive frames, from the tenth on
    // (the filter's memory fills over the first few).
    double MeanChange(const std::vector<std::vector<uint8_t>>& pictures)
    {
        double sum = 0;
        int64_t count = 0;
        for (size_t k = 10; k < pictures.size(); ++k)
            for (size_t i = 0; i < pictures[k].size(); ++i, ++count)
                sum += std::abs(int(pictures[k][i]) - int(pictures[k - 1][i]));
        return count ? sum / double(count) : 0;
    }

    TEST(Denoise, StillSceneChangesLessTheStrongerTheLevel)
    {
        const std::string clip = NoisyStillClip();
        ASSERT_FALSE(clip.empty());
        const auto plain = Open(clip, Denoise::Off);
        ASSERT_TRUE(plain);
        const double noisy = MeanChange(ReadAll(*plain));
        double previous = noisy;
        for (const Denoise level : { Denoise::Light, Denoise::Medium, Denoise::Strong }) {
            const auto decoder = Open(clip, level);
            ASSERT_TRUE(decoder);
            // The frames are the same frames: as many, as large, at the same rate.
            EXPECT_EQ(decoder->SlotCount(), plain->SlotCount());
            EXPECT_EQ(decoder->Width(), plain->Width());
            EXPECT_EQ(decoder->Height(), plain->Height());
            EXPECT_EQ(decoder->RateNumerator(), plain->RateNumerator());
            EXPECT_EQ(decoder->RateDenominator(), plain->RateDenominator());
            const double change = MeanChange(ReadAll(*decoder));
            EXPECT_LT(change, previous) << "level " << int(level) << " (" << change << ") keeps "
                                        << "more change than the level below (" << previous << ")";
            previous = change;
            // The default level takes out more than half of the change, the strong one most.
            if (level == Denoise::Medium) {
                EXPECT_LT(change, noisy / 2) << "medium: " << change << ", noisy: " << noisy;
            }
        }
        EXPECT_LT(previous, noisy / 4) << "strong: " << previous << ", noisy: " << noisy;
    }

    TEST(Denoise, ReadingAgainAfterASeekBackGivesTheSamePictures)
    {
        const std::string clip = NoisyStillClip();
        ASSERT_FALSE(clip.empty());
        const auto decoder = Open(clip, Denoise::Medium);
        ASSERT_TRUE(decoder);
        const auto first = ReadAll(*decoder);
        // Back to the start (a seek, which starts the filter's memory afresh) and through again.
        const auto second = ReadAll(*decoder);
        ASSERT_EQ(first.size(), second.size());
        for (size_t k = 0; k < first.size(); ++k)
            ASSERT_EQ(first[k], second[k]) << "frame " << k;
        // Stepping by three decodes on through the frames between: the filter sees them all.
        for (int64_t slot = 0; slot < decoder->SlotCount(); slot += 3) {
            ASSERT_TRUE(decoder->SeekToSlot(slot));
            ASSERT_EQ(Luma(*decoder->Picture()), first[size_t(slot)]) << "frame " << slot;
        }
    }

} // namespace
} // namespace pelorin::video
