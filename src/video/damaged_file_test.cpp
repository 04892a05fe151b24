// Broken inputs: nothing crashes, a file that cannot be played fails to open cleanly, and a file
// damaged part-way shows its intact pictures exactly and keeps the last good one over the rest.
#include "mci.h"
#include "test_videos.h"
#include "video_device.h"

#include "platform/picture_box.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

namespace pelorin::video {
namespace {

    using Bytes = std::vector<uint8_t>;

    // 2 s of 160 × 120 MPEG-4 at 25 pictures per second, a keyframe every 10, no B-frames:
    // 50 chunks, each picture decodable from the keyframe before it.
    constexpr int64_t kSlots = 50;
    std::string BaseVideo()
    {
        return test::MadeVideo("damage_base.avi",
            { "-f", "lavfi", "-i", "testsrc2=size=160x120:rate=25:duration=2", "-c:v", "mpeg4",
                "-g", "10", "-bf", "0", "-q:v", "4" });
    }

    size_t Find(const Bytes& bytes, const char* fourcc, size_t from = 0)
    {
        const auto it
            = std::search(bytes.begin() + std::ptrdiff_t(from), bytes.end(), fourcc, fourcc + 4);
        return it == bytes.end() ? std::string::npos : size_t(it - bytes.begin());
    }

    uint32_t Read32(const Bytes& b, size_t at)
    {
        return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16
            | uint32_t(b[at + 3]) << 24;
    }

    void Write32(Bytes& b, size_t at, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            b[at + size_t(i)] = uint8_t(v >> (8 * i));
    }

    // The positions of the picture chunks ("00dc" + size + payload) inside the movi list.
    struct Chunk {
        size_t at; // of the fourcc
        size_t payload;
        size_t size;
    };
    std::vector<Chunk> PictureChunks(const Bytes& b)
    {
        std::vector<Chunk> chunks;
        const size_t movi = Find(b, "movi");
        const size_t index = Find(b, "idx1");
        if (movi == std::string::npos)
            return chunks;
        for (size_t at = movi + 4; at + 8 <= std::min(b.size(), index);) {
            const uint32_t size = Read32(b, at + 4);
            if (std::memcmp(&b[at], "00dc", 4) == 0)
                chunks.push_back({ at, at + 8, size });
            at += 8 + size + (size & 1);
        }
        return chunks;
    }

    // How many leading slots survive a cut at `length` bytes: pictures whose chunk is complete.
    int64_t WholeChunksBefore(const Bytes& b, size_t length)
    {
        int64_t n = 0;
        for (const Chunk& c : PictureChunks(b))
            n += c.payload + c.size <= length ? 1 : 0;
        return n;
    }

    enum class Expect { FailsToOpen, Opens, Either };

    struct DamageCase {
        const char* name;
        std::function<Bytes(Bytes)> damage;
        Expect expect;
        // Leading slots that must still show exactly the intact file's pictures.
        std::function<int64_t(const Bytes& intact)> intactSlots;
        // Where damage sits, the slot that must keep showing the last good picture (or −1).
        int64_t keepsLastGood = -1;
    };
    // Test listings show the case by its name rather than as raw bytes.
    void PrintTo(const DamageCase& c, std::ostream* out) { *out << c.name; }

    // Sets the picture size in the main header and in the stream's bitmap header.
    Bytes WithHeaderSize(Bytes b, uint32_t width, uint32_t height)
    {
        const size_t strf = Find(b, "strf");
        Write32(b, strf + 8 + 4, width);
        Write32(b, strf + 8 + 8, height);
        const size_t avih = Find(b, "avih");
        Write32(b, avih + 8 + 32, width);
        Write32(b, avih + 8 + 36, height);
        return b;
    }

    Bytes Truncated(Bytes b, size_t length)
    {
        b.resize(std::min(length, b.size()));
        return b;
    }

    const DamageCase kDamageCases[] = {
        { "ZeroLength", [](Bytes) { return Bytes {}; }, Expect::FailsToOpen,
            [](const Bytes&) { return int64_t(0); } },
        { "TextNamedAvi",
            [](Bytes) {
                const std::string text = "This is a note about a video, not a video.\n";
                Bytes b;
                for (int i = 0; i < 200; ++i)
                    b.insert(b.end(), text.begin(), text.end());
                return b;
            },
            Expect::FailsToOpen, [](const Bytes&) { return int64_t(0); } },
        { "TruncatedInTheHeader", [](Bytes b) { return Truncated(std::move(b), 100); },
            Expect::FailsToOpen, [](const Bytes&) { return int64_t(0); } },
        { "TruncatedBeforeThePictures", [](Bytes b) { return Truncated(b, Find(b, "movi") + 8); },
            Expect::FailsToOpen, [](const Bytes&) { return int64_t(0); } },
        { "TruncatedAtAQuarter", [](Bytes b) { return Truncated(b, b.size() / 4); }, Expect::Opens,
            [](const Bytes& b) { return WholeChunksBefore(b, b.size() / 4); } },
        { "TruncatedAtHalf", [](Bytes b) { return Truncated(b, b.size() / 2); }, Expect::Opens,
            [](const Bytes& b) { return WholeChunksBefore(b, b.size() / 2); } },
        { "TruncatedInsideTheIndex", [](Bytes b) { return Truncated(b, b.size() - 40); },
            Expect::Opens, [](const Bytes&) { return kSlots; } },
        { "IndexBytesFlipped",
            [](Bytes b) {
                const size_t index = Find(b, "idx1");
                for (size_t i = index + 8 + 16 * 5; i < index + 8 + 16 * 9 && i < b.size(); ++i)
                    b[i] ^= 0xFF;
                return b;
            },
            Expect::Either, [](const Bytes&) { return int64_t(5); } },
        { "IndexOffsetsPointPastTheEnd",
            [](Bytes b) {
                const size_t index = Find(b, "idx1");
                for (size_t e = index + 8; e + 16 <= b.size(); e += 16)
                    Write32(b, e + 8, 0x7FFFFFF0u);
                return b;
            },
            Expect::Either, [](const Bytes&) { return int64_t(0); } },
        { "IndexClaimsHugeChunks",
            [](Bytes b) {
                const size_t index = Find(b, "idx1");
                for (size_t e = index + 8; e + 16 <= b.size(); e += 16)
                    Write32(b, e + 12, 0x7FFFFFF0u);
                return b;
            },
            Expect::Either, [](const Bytes&) { return int64_t(0); } },
        { "KeyframeBytesFlipped",
            [](Bytes b) {
                const Chunk c = PictureChunks(b).at(0);
                for (size_t i = c.payload + c.size / 3; i < c.payload + c.size / 3 + 64; ++i)
                    b[i] ^= 0x5A;
                return b;
            },
            Expect::Either, [](const Bytes&) { return int64_t(0); } },
        // Picture 13 (a P-picture) replaced by noise the decoder cannot take: slot 13 keeps
        // showing picture 12; 20 onwards start from a keyframe again and are intact.
        { "PictureDataReplaced",
            [](Bytes b) {
                const Chunk c = PictureChunks(b).at(13);
                std::fill(b.begin() + std::ptrdiff_t(c.payload),
                    b.begin() + std::ptrdiff_t(c.payload + c.size), uint8_t(0xFF));
                return b;
            },
            Expect::Opens, [](const Bytes&) { return int64_t(13); }, 13 },
        { "ChunkSizeHuge",
            [](Bytes b) {
                Write32(b, PictureChunks(b).at(20).at + 4, 0x7FFFFFF0u);
                return b;
            },
            Expect::Opens, [](const Bytes&) { return int64_t(20); } },
        // MPEG-4 carries its picture size in the bitstream, which wins over the headers.
        { "HeaderPictureSize30000",
            [](Bytes b) { return WithHeaderSize(std::move(b), 30000, 30000); }, Expect::Opens,
            [](const Bytes&) { return kSlots; } },
        { "HeaderPictureSizeZero", [](Bytes b) { return WithHeaderSize(std::move(b), 0, 0); },
            Expect::Opens, [](const Bytes&) { return kSlots; } },
        // Without its index the file is walked chunk by chunk.
        { "IndexRenamed",
            [](Bytes b) {
                std::memcpy(&b[Find(b, "idx1")], "JUNK", 4);
                return b;
            },
            Expect::Opens, [](const Bytes&) { return kSlots; } },
        // The headers' counts are not believed: the length is what the file holds.
        { "HugeFrameCounts",
            [](Bytes b) {
                Write32(b, Find(b, "avih") + 8 + 16, 0x7FFFFFFFu);
                Write32(b, Find(b, "strh") + 8 + 32, 0x7FFFFFFFu);
                return b;
            },
            Expect::Opens, [](const Bytes&) { return kSlots; } },
    };

    class DamagedFile : public ::testing::TestWithParam<DamageCase> {
    protected:
        void SetUp() override
        {
            const std::string base = BaseVideo();
            ASSERT_FALSE(base.empty());
            m_intact = test::ReadBytes(base);
            ASSERT_EQ(PictureChunks(m_intact).size(), size_t(kSlots)) << "unexpected base layout";
            m_reference = test::ReferenceSlotHashes(base, test::SlotRule::InOrder);
            ASSERT_EQ(int64_t(m_reference.size()), kSlots);
            m_path = test::WrittenFile(
                std::string("damaged_") + GetParam().name + ".avi", GetParam().damage(m_intact));
        }
        Bytes m_intact;
        std::vector<uint64_t> m_reference;
        std::string m_path;
    };

    TEST_P(DamagedFile, NeverCrashesAndShowsOnlyGoodPictures)
    {
        const DamageCase& c = GetParam();
        platform::PictureBox box(160, 120, 0x00FF00FF);
        std::string error;
        auto device = VideoDevice::Open(m_path, box.hWnd(), &error);
        if (c.expect == Expect::FailsToOpen) {
            EXPECT_FALSE(device);
        }
        if (c.expect == Expect::Opens) {
            ASSERT_TRUE(device) << error;
        }
        if (!device) {
            EXPECT_NE(error.find(m_path), std::string::npos)
                << "the reason names the file: " << error;
            EXPECT_EQ(box.Snapshot(), platform::Surface(160, 120, 0x00FF00FF)) << "drew anyway";
            return;
        }
        const int64_t intact = c.intactSlots(m_intact);
        EXPECT_GE(device->Length(), intact);
        // Never more slots than the file has bytes for: no count is taken from a header.
        EXPECT_LE(device->Length(), int64_t(m_intact.size()));

        // Every slot, forwards then backwards, answers without crashing.
        const int64_t last = std::min<int64_t>(device->Length(), 4 * kSlots) - 1;
        for (int64_t s = 0; s <= last; ++s)
            device->Seek(s);
        for (int64_t s = last; s >= 0; --s)
            device->Seek(s);
        for (int64_t s = 0; s < std::min(intact, device->Length()); ++s) {
            ASSERT_TRUE(device->Seek(s));
            EXPECT_EQ(test::Hash(box.Snapshot()), m_reference[size_t(s)]) << "intact slot " << s;
        }
        if (c.keepsLastGood >= 0) {
            ASSERT_TRUE(device->Seek(c.keepsLastGood - 1));
            ASSERT_TRUE(device->Seek(c.keepsLastGood));
            EXPECT_EQ(test::Hash(box.Snapshot()), m_reference[size_t(c.keepsLastGood - 1)]);
            EXPECT_GE(device->Counters().damagedPictures, 1);
            // From the next keyframe on, the pictures are whole again.
            for (int64_t s = 20; s < 30; ++s) {
                ASSERT_TRUE(device->Seek(s));
                EXPECT_EQ(test::Hash(box.Snapshot()), m_reference[size_t(s)]) << "slot " << s;
            }
        }
    }

    TEST_P(DamagedFile, AFailedOpenLeavesTheDeviceClosed)
    {
        platform::PictureBox box(160, 120);
        const std::string open
            = "open " + m_path + " Type avivideo Alias video1 parent " + std::to_string(box.hWnd());
        const uint32_t code = mciSendStringA(open, nullptr, 0, 0);
        std::string mode;
        const uint32_t status = mciSendStringA("status video1 mode", &mode, 255, 0);
        if (code == 0) {
            EXPECT_NE(GetParam().expect, Expect::FailsToOpen);
            EXPECT_EQ(status, 0u);
            EXPECT_EQ(mode, "stopped");
        } else {
            EXPECT_NE(GetParam().expect, Expect::Opens) << MciLastErrorDetail();
            EXPECT_EQ(code, uint32_t(MCIERR_INVALID_FILE));
            EXPECT_EQ(status, uint32_t(MCIERR_INVALID_DEVICE_NAME));
        }
        mciSendStringA("close all", nullptr, 0, 0);
    }

    INSTANTIATE_TEST_SUITE_P(Avi, DamagedFile, ::testing::ValuesIn(kDamageCases),
        [](const ::testing::TestParamInfo<DamageCase>& info) { return info.param.name; });

    // Raw pictures take their size from the headers alone: an absurd size is refused before
    // anything is allocated for it.
    TEST(DamagedFile, RawVideoWithAnUnacceptableSizeIsRefused)
    {
        const std::string base = test::MadeVideo("damage_raw.avi",
            { "-f", "lavfi", "-i", "testsrc2=size=160x120:rate=25:duration=1", "-c:v", "rawvideo",
                "-pix_fmt", "bgr24" });
        const Bytes intact = test::ReadBytes(base);
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
                WithHeaderSize(intact, size.width, size.height));
            std::string error;
            EXPECT_FALSE(VideoDevice::Open(path, 0, &error)) << size.width << " x " << size.height;
            EXPECT_FALSE(error.empty());
        }
        std::string error;
        EXPECT_TRUE(VideoDevice::Open(base, 0, &error)) << error;
    }

    TEST(DamagedFile, AFolderOrAMissingFileIsNoVideo)
    {
        std::string error;
        EXPECT_FALSE(VideoDevice::Open("/no/such/file.avi", 0, &error));
        EXPECT_NE(error.find("/no/such/file.avi"), std::string::npos) << error;
        EXPECT_FALSE(VideoDevice::Open(PELORIN_TEST_VIDEO_DIR, 0, &error));
    }

    TEST(DamagedFile, AnAudioOnlyFileIsNoVideo)
    {
        const std::string path
            = test::MadeVideo("tone.wav", { "-f", "lavfi", "-i", "sine=frequency=440:duration=1" });
        std::string error;
        EXPECT_FALSE(VideoDevice::Open(path, 0, &error));
        EXPECT_NE(error.find("no video stream"), std::string::npos) << error;
    }

} // namespace
} // namespace pelorin::video
