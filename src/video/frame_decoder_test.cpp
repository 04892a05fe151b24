// Frame exactness: whatever road a seek takes (decoding on, a jump forward, a jump back), the
// picture drawn for slot N is the one a plain decoder reaches by decoding every picture from
// the start.
#include "testing/test_videos.h"
#include "video_device.h"

#include "platform/picture_box.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <ostream>
#include <random>

namespace pelorin::video {
namespace {

    using test::Hash;
    using test::SlotRule;

    struct Opened {
        std::unique_ptr<platform::PictureBox> box;
        std::unique_ptr<VideoDevice> device;
    };

    // The device in a box of the video's own size, so the picture is drawn without resampling.
    Opened OpenInBox(const std::string& path, int width, int height)
    {
        Opened o;
        o.box = std::make_unique<platform::PictureBox>(width, height);
        std::string error;
        o.device = VideoDevice::Open(path, o.box.get(), &error);
        EXPECT_TRUE(o.device) << error;
        return o;
    }

    // Seeks to each slot in turn and compares the drawn picture with the reference.
    void ExpectSeeksExact(Opened& o, const std::vector<uint64_t>& reference,
        const std::vector<int64_t>& slots, const std::string& road)
    {
        for (const int64_t slot : slots) {
            ASSERT_TRUE(o.device->Seek(slot)) << road << ": seek to " << slot;
            ASSERT_EQ(o.device->Position(), slot);
            ASSERT_EQ(Hash(o.box->Snapshot()), reference[size_t(slot)])
                << road << ": slot " << slot << " differs from sequential decoding";
        }
    }

    std::vector<int64_t> AllSlots(int64_t count)
    {
        std::vector<int64_t> slots(static_cast<size_t>(count));
        std::iota(slots.begin(), slots.end(), 0);
        return slots;
    }

    std::vector<int64_t> Shuffled(std::vector<int64_t> slots, unsigned seed)
    {
        std::mt19937 random(seed);
        std::shuffle(slots.begin(), slots.end(), random);
        return slots;
    }

    // ---- The sample video ----------------------------------------------------------------

    class SampleVideo : public ::testing::Test {
    protected:
        static void SetUpTestSuite()
        {
            s_reference = test::ReferenceSlotHashes(test::SampleVideo(), SlotRule::InOrder);
        }
        void SetUp() override
        {
            ASSERT_FALSE(s_reference.empty());
            m_opened = OpenInBox(test::SampleVideo(), 512, 240);
            ASSERT_TRUE(m_opened.device);
        }
        static std::vector<uint64_t> s_reference;
        Opened m_opened;
    };
    std::vector<uint64_t> SampleVideo::s_reference;

    TEST_F(SampleVideo, LengthIsEveryPicture)
    {
        EXPECT_EQ(m_opened.device->Length(), int64_t(s_reference.size()));
        EXPECT_EQ(m_opened.device->RateNumerator(), 25);
        EXPECT_EQ(m_opened.device->RateDenominator(), 1);
    }

    TEST_F(SampleVideo, OpenShowsTheFirstPicture)
    {
        EXPECT_EQ(Hash(m_opened.box->Snapshot()), s_reference[0]);
    }

    TEST_F(SampleVideo, SteppingThroughEverySlotIsExact)
    {
        ExpectSeeksExact(m_opened, s_reference, AllSlots(m_opened.device->Length()), "stepping");
    }

    TEST_F(SampleVideo, BackwardSeeksAreExact)
    {
        std::vector<int64_t> slots;
        // Steps of 7 against a keyframe every 25 pictures: every position within a group.
        for (int64_t s = m_opened.device->Length() - 1; s >= 0; s -= 7)
            slots.push_back(s);
        ExpectSeeksExact(m_opened, s_reference, slots, "backwards");
    }

    TEST_F(SampleVideo, RandomJumpsAreExact)
    {
        std::vector<int64_t> slots = Shuffled(AllSlots(m_opened.device->Length()), 20240601);
        slots.resize(120);
        // Keyframes, the pictures on either side of them, the first and the last.
        for (const int64_t s : { 0, 24, 25, 26, 249, 250, 251, 475, 498, 499 })
            slots.push_back(s);
        ExpectSeeksExact(m_opened, s_reference, Shuffled(slots, 7), "jumps");
    }

    TEST_F(SampleVideo, NextSlotDecodesOnWithoutSeekingTheDemuxer)
    {
        ASSERT_TRUE(m_opened.device->Seek(30));
        const DecodeCounters before = m_opened.device->Counters();
        // Across two keyframes (50 and 75): they are decoded on, not sought.
        for (int64_t s = 31; s <= 80; ++s)
            ASSERT_TRUE(m_opened.device->Seek(s));
        const DecodeCounters after = m_opened.device->Counters();
        EXPECT_EQ(after.demuxerSeeks, before.demuxerSeeks);
        EXPECT_EQ(after.packetsSent - before.packetsSent, 50);
    }

    TEST_F(SampleVideo, JumpSeeksTheDemuxerOnceAndDecodesFromTheKeyframeBefore)
    {
        ASSERT_TRUE(m_opened.device->Seek(10));
        const DecodeCounters before = m_opened.device->Counters();
        ASSERT_TRUE(m_opened.device->Seek(310)); // keyframe 300, then 301 ... 310
        const DecodeCounters after = m_opened.device->Counters();
        EXPECT_EQ(after.demuxerSeeks - before.demuxerSeeks, 1);
        // 300 ... 310, and 311 read ahead.
        EXPECT_EQ(after.packetsSent - before.packetsSent, 12);
        EXPECT_EQ(Hash(m_opened.box->Snapshot()), s_reference[310]);
    }

    TEST_F(SampleVideo, SeekingTheShownSlotAgainDecodesNothing)
    {
        ASSERT_TRUE(m_opened.device->Seek(123));
        const DecodeCounters before = m_opened.device->Counters();
        ASSERT_TRUE(m_opened.device->Seek(123));
        EXPECT_EQ(m_opened.device->Counters().packetsSent, before.packetsSent);
        EXPECT_EQ(Hash(m_opened.box->Snapshot()), s_reference[123]);
    }

    TEST_F(SampleVideo, SeekPastTheEndChangesNothing)
    {
        ASSERT_TRUE(m_opened.device->Seek(42));
        const uint64_t shown = Hash(m_opened.box->Snapshot());
        for (const int64_t slot : { m_opened.device->Length(), m_opened.device->Length() + 1,
                 int64_t(1) << 40, int64_t(-1) }) {
            EXPECT_FALSE(m_opened.device->Seek(slot)) << slot;
            EXPECT_EQ(m_opened.device->Position(), 42);
            EXPECT_EQ(Hash(m_opened.box->Snapshot()), shown);
        }
        // And the decoder still goes on from where it was.
        ExpectSeeksExact(m_opened, s_reference, { 43, 44 }, "after refusals");
    }

    // ---- Files with reordered pictures, shifted timestamps, empty chunks, other codecs ----

    struct MadeCase {
        const char* name;
        const char* file;
        std::vector<std::string> args; // ffmpeg arguments before the output file
        int64_t slots; // duration × rate of the sources below
        SlotRule rule;
    };

    // Test listings and failures name a case by its name, not by a dump of its bytes.
    void PrintTo(const MadeCase& made, std::ostream* out) { *out << made.name; }

    // 160 × 120 testsrc2: its moving pattern makes every picture different.
    const std::string kSource160 = "testsrc2=size=160x120:rate=25";

    const MadeCase kMadeCases[] = {
        { "BFramesInMp4", "bframes.mp4",
            { "-f", "lavfi", "-i", kSource160 + ":duration=3", "-c:v", "mpeg4", "-bf", "2", "-g",
                "12", "-q:v", "4" },
            75, SlotRule::InOrder },
        { "BFramesInAvi", "bframes.avi",
            { "-f", "lavfi", "-i", kSource160 + ":duration=3", "-c:v", "mpeg4", "-bf", "2", "-g",
                "12", "-q:v", "4" },
            75, SlotRule::InOrder },
        // MPEG-TS starts its clock at 1.4 s.
        { "TransportStreamStartingLate", "late.ts",
            { "-f", "lavfi", "-i", kSource160 + ":duration=3", "-c:v", "mpeg4", "-bf", "2", "-g",
                "12", "-q:v", "4" },
            75, SlotRule::InOrder },
        // H.264 with a B-pyramid, 29.97 pictures per second in Matroska's whole milliseconds,
        // starting at 7 s.
        { "H264InMatroskaStartingLate", "late.mkv",
            { "-f", "lavfi", "-i", "testsrc2=size=160x120:rate=30000/1001:duration=2", "-c:v",
                "libx264", "-preset", "veryfast", "-bf", "3", "-g", "15", "-threads", "1",
                "-output_ts_offset", "7" },
            60, SlotRule::InOrder },
        // Pictures 3, 4 and 5 of every ten dropped: the AVI keeps their empty chunks.
        { "EmptyChunksInAvi", "dropped.avi",
            { "-f", "lavfi", "-i", kSource160 + ":duration=4", "-vf",
                "select='not(between(mod(n\\,10)\\,3\\,5))'", "-fps_mode", "passthrough", "-c:v",
                "mpeg4", "-g", "25", "-q:v", "4" },
            100, SlotRule::ByTimestamp },
        { "MsMpeg4InAvi", "msmpeg4.avi",
            { "-f", "lavfi", "-i", kSource160 + ":duration=2", "-c:v", "msmpeg4", "-g", "25",
                "-q:v", "4" },
            50, SlotRule::InOrder },
        { "CinepakInAvi", "cinepak.avi",
            { "-f", "lavfi", "-i", kSource160 + ":duration=1", "-c:v", "cinepak" }, 25,
            SlotRule::InOrder },
        { "MjpegInAvi", "mjpeg.avi",
            { "-f", "lavfi", "-i", kSource160 + ":duration=1", "-c:v", "mjpeg", "-q:v", "5" }, 25,
            SlotRule::InOrder },
        { "RawBgrInAvi", "raw.avi",
            { "-f", "lavfi", "-i", kSource160 + ":duration=1", "-c:v", "rawvideo", "-pix_fmt",
                "bgr24" },
            25, SlotRule::InOrder },
        // A slideshow, one picture in 10 s: FFmpeg states Matroska's tick rate, 1000 a second, as
        // the nominal rate, but each picture is one slot.
        { "SlowSlideshowInMatroska", "slideshow.mkv",
            { "-f", "lavfi", "-i", "testsrc2=size=160x120:rate=1/10", "-frames:v", "10", "-c:v",
                "ffv1" },
            10, SlotRule::InOrder },
    };

    class MadeVideo : public ::testing::TestWithParam<MadeCase> {
    protected:
        void SetUp() override
        {
            m_path = test::MadeVideo(GetParam().file, GetParam().args);
            ASSERT_FALSE(m_path.empty());
            m_reference = test::ReferenceSlotHashes(m_path, GetParam().rule);
            ASSERT_EQ(int64_t(m_reference.size()), GetParam().slots)
                << "the reference decoder disagrees with how the file was made";
            m_opened = OpenInBox(m_path, 160, 120);
            ASSERT_TRUE(m_opened.device);
        }
        std::string m_path;
        std::vector<uint64_t> m_reference;
        Opened m_opened;
    };

    TEST_P(MadeVideo, LengthCountsEverySlot)
    {
        EXPECT_EQ(m_opened.device->Length(), GetParam().slots);
    }

    TEST_P(MadeVideo, SteppingIsExact)
    {
        ExpectSeeksExact(m_opened, m_reference, AllSlots(GetParam().slots), "stepping");
    }

    TEST_P(MadeVideo, BackwardAndRandomSeeksAreExact)
    {
        std::vector<int64_t> backwards;
        for (int64_t s = GetParam().slots - 1; s >= 0; s -= 3)
            backwards.push_back(s);
        ExpectSeeksExact(m_opened, m_reference, backwards, "backwards");
        ExpectSeeksExact(m_opened, m_reference, Shuffled(AllSlots(GetParam().slots), 99), "jumps");
    }

    INSTANTIATE_TEST_SUITE_P(Video, MadeVideo, ::testing::ValuesIn(kMadeCases),
        [](const ::testing::TestParamInfo<MadeCase>& info) { return info.param.name; });

    TEST(MadeVideoCases, PrintAsTheirNames)
    {
        EXPECT_EQ(::testing::PrintToString(kMadeCases[0]), kMadeCases[0].name);
    }

    TEST(EmptyChunks, RepeatThePictureBeforeThem)
    {
        const MadeCase& made = kMadeCases[4];
        ASSERT_STREQ(made.file, "dropped.avi");
        Opened o = OpenInBox(test::MadeVideo(made.file, made.args), 160, 120);
        ASSERT_TRUE(o.device);
        for (int64_t group = 0; group < 100; group += 10) {
            ASSERT_TRUE(o.device->Seek(group + 2));
            const uint64_t kept = Hash(o.box->Snapshot());
            for (int64_t dropped = group + 3; dropped <= group + 5; ++dropped) {
                ASSERT_TRUE(o.device->Seek(dropped));
                EXPECT_EQ(Hash(o.box->Snapshot()), kept) << "slot " << dropped;
            }
            ASSERT_TRUE(o.device->Seek(group + 6));
            EXPECT_NE(Hash(o.box->Snapshot()), kept) << "slot " << group + 6;
        }
    }

    TEST(SlowSlideshows, SlowerThanTheSlowestRateStillGiveEachPictureASlot)
    {
        // One picture in 200 s, in both kinds of container: stated as such (MP4) or as
        // Matroska's tick rate. Three pictures are a handful of slots at one slot in 100 s, not
        // a guess of 25 a second (15,000) or the tick rate (600,000).
        for (const char* file : { "slow200.mp4", "slow200.mkv" }) {
            SCOPED_TRACE(file);
            const std::string path = test::MadeVideo(file,
                { "-f", "lavfi", "-i", "testsrc2=size=64x48:rate=1/200", "-frames:v", "3",
                    "-c:v", std::string(file).ends_with(".mp4") ? "mpeg4" : "ffv1" });
            ASSERT_FALSE(path.empty());
            std::string error;
            const auto decoder = FrameDecoder::Open(path, &error);
            ASSERT_TRUE(decoder) << error;
            EXPECT_GE(decoder->SlotCount(), 3);
            EXPECT_LE(decoder->SlotCount(), 6);
            EXPECT_EQ(decoder->RateNumerator(), 1);
            EXPECT_EQ(decoder->RateDenominator(), 100);
        }
    }

} // namespace
} // namespace pelorin::video
