#include "hostile_media.h"

#include "test_videos.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>

namespace pelorin::video::test {

namespace {

    using Bytes = std::vector<uint8_t>;

    // Two seconds: two groups of pictures of the sample (a keyframe every 25), enough for damage
    // in the first group to be followed by a whole one, and short enough that every module can
    // run every case through in full.
    constexpr int kExcerptFrames = 50;

    size_t Find(const Bytes& bytes, const char* fourcc, size_t from = 0)
    {
        if (from > bytes.size())
            return std::string::npos;
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
            b.at(at + size_t(i)) = uint8_t(v >> (8 * i));
    }

    // Offsets of the fields damaged below, from the fourcc of their chunk (8 bytes of chunk
    // header, then the structure).
    constexpr size_t kAvihTotalFrames = 8 + 16;
    constexpr size_t kAvihWidth = 8 + 32;
    constexpr size_t kAvihHeight = 8 + 36;
    constexpr size_t kStrhType = 8 + 0;
    constexpr size_t kStrhScale = 8 + 20;
    constexpr size_t kStrhRate = 8 + 24;
    constexpr size_t kStrhLength = 8 + 32;
    constexpr size_t kStrfWidth = 8 + 4;
    constexpr size_t kStrfHeight = 8 + 8;
    constexpr size_t kStrfBitCount = 8 + 14;
    constexpr size_t kStrfCompression = 8 + 16;
    constexpr uint32_t kAviifKeyframe = 0x10;
    constexpr uint32_t kHugeSize = 0x7FFFFFF0u;

    // A picture chunk ("00dc" + size + payload) inside the movi list.
    struct Chunk {
        size_t at; // of the fourcc
        size_t payload;
        size_t size;
    };

    std::vector<Chunk> PictureChunks(const Bytes& b)
    {
        std::vector<Chunk> chunks;
        const size_t movi = Find(b, "movi");
        const size_t index = std::min(Find(b, "idx1"), b.size());
        if (movi == std::string::npos)
            return chunks;
        for (size_t at = movi + 4; at + 8 <= index;) {
            const uint32_t size = Read32(b, at + 4);
            if (std::memcmp(&b[at], "00dc", 4) == 0)
                chunks.push_back({ at, at + 8, size });
            at += 8 + size + (size & 1);
        }
        return chunks;
    }

    // The slots that start with a keyframe, by the flags of the index's picture entries.
    std::vector<int64_t> IndexKeyframes(const Bytes& b)
    {
        std::vector<int64_t> keys;
        const size_t index = Find(b, "idx1");
        if (index == std::string::npos)
            return keys;
        int64_t slot = 0;
        for (size_t e = index + 8; e + 16 <= b.size(); e += 16) {
            if (std::memcmp(&b[e], "00dc", 4) != 0)
                continue;
            if (Read32(b, e + 4) & kAviifKeyframe)
                keys.push_back(slot);
            ++slot;
        }
        return keys;
    }

    // How many leading slots survive a cut at `length` bytes: pictures whose chunk is complete.
    int64_t WholeChunksBefore(const Bytes& b, size_t length)
    {
        int64_t n = 0;
        for (const Chunk& c : PictureChunks(b))
            n += c.payload + c.size <= length ? 1 : 0;
        return n;
    }

    Bytes Truncated(Bytes b, size_t length)
    {
        b.resize(std::min(length, b.size()));
        return b;
    }

    // What making a case knows about the intact excerpt.
    struct Intact {
        Bytes bytes;
        std::vector<Chunk> chunks;
        std::vector<int64_t> keyframes;
        int64_t Slots() const { return int64_t(chunks.size()); }
        // The first keyframe after `slot`, or −1.
        int64_t KeyframeAfter(int64_t slot) const
        {
            for (int64_t k : keyframes)
                if (k > slot)
                    return k;
            return -1;
        }
    };

    const Intact* LoadIntact()
    {
        static std::mutex lock;
        static std::unique_ptr<Intact> intact;
        std::lock_guard guard(lock);
        if (!intact) {
            const std::string base = HostileMediaBase();
            if (base.empty())
                return nullptr;
            auto loaded = std::make_unique<Intact>();
            loaded->bytes = ReadBytes(base);
            loaded->chunks = PictureChunks(loaded->bytes);
            loaded->keyframes = IndexKeyframes(loaded->bytes);
            if (loaded->Slots() != kExcerptFrames || loaded->keyframes.size() < 2
                || loaded->keyframes.front() != 0) {
                ADD_FAILURE() << "unexpected layout of " << base << ": " << loaded->Slots()
                              << " picture chunks, " << loaded->keyframes.size() << " keyframes";
                return nullptr;
            }
            intact = std::move(loaded);
        }
        return intact.get();
    }

    struct Row {
        std::string name;
        OpenExpect expect;
        std::string reason;
        // Makes the file as `fileName` in the test-video folder; its path, "" on failure.
        std::function<std::string(const Intact&, const std::string& fileName)> make;
        std::string extension = ".avi";
        // Fills in what the case promises beyond the open.
        std::function<void(const Intact&, HostileMedia&)> promise
            = [](const Intact&, HostileMedia&) {};
    };

    // A case made from the excerpt's bytes.
    auto Damaged(std::function<Bytes(const Intact&)> damage)
    {
        return [damage](const Intact& intact, const std::string& fileName) {
            return WrittenFile(fileName, damage(intact));
        };
    }

    // A little-endian field of `width` bytes at `offset` from the first chunk `chunk`.
    struct FieldWrite {
        const char* chunk;
        size_t offset;
        uint32_t value;
        int width = 4;
    };

    // A case made from the excerpt's bytes with header fields overwritten, in order.
    auto Fields(std::vector<FieldWrite> writes)
    {
        return Damaged([writes](const Intact& intact) {
            Bytes b = intact.bytes;
            for (const FieldWrite& w : writes)
                for (int i = 0; i < w.width; ++i)
                    b.at(Find(b, w.chunk) + w.offset + size_t(i)) = uint8_t(w.value >> (8 * i));
            return b;
        });
    }

    // The same, with a four-character code written over a field.
    auto FourCc(const char* chunk, size_t offset, const char* code)
    {
        return Damaged([=](const Intact& intact) {
            Bytes b = intact.bytes;
            std::memcpy(&b.at(Find(b, chunk) + offset), code, 4);
            return b;
        });
    }

    // A case made by the ffmpeg tool (see MadeVideo), from sources of its own.
    auto ByFfmpeg(std::vector<std::string> args)
    {
        return [args](const Intact&, const std::string& fileName) {
            return MadeVideo(fileName, args);
        };
    }

    auto IntactSlots(int64_t slots)
    {
        return [slots](const Intact&, HostileMedia& m) { m.intactSlots = slots; };
    }

    auto AllIntact()
    {
        return [](const Intact& intact, HostileMedia& m) { m.intactSlots = intact.Slots(); };
    }

    // ---- the damage ----

    Bytes Empty(const Intact&) { return {}; }

    // Nine kilobytes of plain text, to be named as a video.
    Bytes Text(const Intact&)
    {
        const std::string text = "This is a note about a video, not a video.\n";
        Bytes b;
        for (int i = 0; i < 200; ++i)
            b.insert(b.end(), text.begin(), text.end());
        return b;
    }

    // Entries 5 to 8 of the index turned to nonsense.
    Bytes IndexEntriesFlipped(const Intact& intact)
    {
        Bytes b = intact.bytes;
        const size_t entries = Find(b, "idx1") + 8;
        for (size_t at = entries + 16 * 5; at < entries + 16 * 9 && at < b.size(); ++at)
            b[at] ^= 0xFF;
        return b;
    }

    // One field of every index entry (flags 4, offset 8, size 12) set to `value`.
    auto EveryIndexEntry(size_t field, uint32_t value)
    {
        return [=](const Intact& intact) {
            Bytes b = intact.bytes;
            for (size_t e = Find(b, "idx1") + 8; e + 16 <= b.size(); e += 16)
                Write32(b, e + field, value);
            return b;
        };
    }

    // 64 bytes in the middle of the first keyframe scrambled.
    Bytes KeyframeScrambled(const Intact& intact)
    {
        Bytes b = intact.bytes;
        const Chunk c = intact.chunks.at(0);
        for (size_t at = c.payload + c.size / 3; at < c.payload + c.size / 3 + 64; ++at)
            b[at] ^= 0x5A;
        return b;
    }

    // The picture halfway through the first group, a predicted one: its bytes all 0xFF.
    int64_t MidGroupSlot(const Intact& intact) { return intact.keyframes.at(1) / 2; }
    Bytes MidGroupPictureReplaced(const Intact& intact)
    {
        Bytes b = intact.bytes;
        const Chunk c = intact.chunks.at(size_t(MidGroupSlot(intact)));
        std::fill(b.begin() + std::ptrdiff_t(c.payload),
            b.begin() + std::ptrdiff_t(c.payload + c.size), uint8_t(0xFF));
        return b;
    }

    // The size in the chunk header of picture 20, a predicted one, nearly 2 GB.
    constexpr int64_t kHugeChunkSlot = 20;
    Bytes PictureChunkSizeHuge(const Intact& intact)
    {
        Bytes b = intact.bytes;
        Write32(b, intact.chunks.at(size_t(kHugeChunkSlot)).at + 4, kHugeSize);
        return b;
    }

    // The size of the list holding the pictures (just before its "movi"), nearly 2 GB.
    Bytes MoviListSizeHuge(const Intact& intact)
    {
        Bytes b = intact.bytes;
        Write32(b, Find(b, "movi") - 4, kHugeSize);
        return b;
    }

    // Sound and a subtitle, no picture.
    std::string SoundAndSubtitleOnly(const Intact&, const std::string& fileName)
    {
        const std::string note = "1\n00:00:00,000 --> 00:00:01,000\nNo picture.\n\n";
        const std::string subtitle
            = WrittenFile("hostile_note.srt", Bytes(note.begin(), note.end()));
        return MadeVideo(fileName,
            { "-f", "lavfi", "-i", "sine=frequency=440:duration=1", "-i", subtitle, "-map", "0:a",
                "-map", "1:s", "-c:a", "pcm_s16le", "-c:s", "srt" });
    }

    constexpr int kCuts = 16;

    // A cut at point k of kCuts evenly spaced through the whole file. It keeps the pictures
    // whose chunk is whole, and the last of them stays over whatever follows.
    Row CutRow(int k)
    {
        const auto cut = [k](const Intact& i) { return i.bytes.size() * size_t(k) / (kCuts + 1); };
        char name[40];
        std::snprintf(name, sizeof name, "TruncatedAtCut%02dOf%d", k, kCuts);
        return { name, OpenExpect::Either, "",
            Damaged([cut](const Intact& i) { return Truncated(i.bytes, cut(i)); }), ".avi",
            [cut](const Intact& i, HostileMedia& m) {
                const int64_t whole = WholeChunksBefore(i.bytes, cut(i));
                m.intactSlots = whole;
                if (whole > 0) {
                    m.expect = OpenExpect::Opens;
                    m.heldFrom = whole;
                    m.heldUntil = kToTheEnd;
                }
            } };
    }

    std::vector<Row> MakeRows()
    {
        constexpr auto kFails = OpenExpect::FailsToOpen;
        constexpr auto kOpens = OpenExpect::Opens;
        constexpr auto kEither = OpenExpect::Either;
        const std::string noVideo = "no video stream";
        std::vector<Row> rows = {
            { "ZeroLength", kFails, "", Damaged(Empty) },
            { "TextNamedAvi", kFails, "", Damaged(Text) },
            { "TruncatedInTheHeader", kFails, "",
                Damaged([](const Intact& i) { return Truncated(i.bytes, 100); }) },
            { "TruncatedBeforeThePictures", kFails, "", Damaged([](const Intact& i) {
                 return Truncated(i.bytes, Find(i.bytes, "movi") + 8);
             }) },
        };
        for (int k = 1; k <= kCuts; ++k)
            rows.push_back(CutRow(k));
        const std::vector<Row> more = {
            { "TruncatedInsideTheIndex", kOpens, "",
                Damaged([](const Intact& i) { return Truncated(i.bytes, i.bytes.size() - 40); }),
                ".avi", AllIntact() },
            { "IndexBytesFlipped", kEither, "", Damaged(IndexEntriesFlipped), ".avi",
                IntactSlots(5) },
            { "IndexOffsetsPointPastTheEnd", kEither, "", Damaged(EveryIndexEntry(8, kHugeSize)) },
            { "IndexClaimsHugeChunks", kEither, "", Damaged(EveryIndexEntry(12, kHugeSize)) },
            { "KeyframeBytesFlipped", kEither, "", Damaged(KeyframeScrambled) },
            // The damaged picture's slot keeps the picture before it, and from the next keyframe
            // on all is whole again.
            { "PictureDataReplaced", kOpens, "", Damaged(MidGroupPictureReplaced), ".avi",
                [](const Intact& i, HostileMedia& m) {
                    m.intactSlots = MidGroupSlot(i);
                    m.heldFrom = MidGroupSlot(i);
                    m.heldUntil = MidGroupSlot(i) + 1;
                    m.recoversFrom = i.KeyframeAfter(MidGroupSlot(i));
                } },
            { "ChunkSizeHuge", kOpens, "", Damaged(PictureChunkSizeHuge), ".avi",
                IntactSlots(kHugeChunkSlot) },
            // MPEG-4 carries its picture size in the bitstream, which wins over the headers.
            { "HeaderPictureSize30000", kOpens, "", Damaged([](const Intact& i) {
                 return WithHeaderPictureSize(i.bytes, 30000, 30000);
             }),
                ".avi", AllIntact() },
            { "HeaderPictureSizeZero", kOpens, "",
                Damaged([](const Intact& i) { return WithHeaderPictureSize(i.bytes, 0, 0); }),
                ".avi", AllIntact() },
            // Without its index the file is walked chunk by chunk.
            { "IndexRenamed", kOpens, "", FourCc("idx1", 0, "JUNK"), ".avi", AllIntact() },
            // The headers' frame counts are not believed: the length is what the file holds.
            { "HugeFrameCounts", kOpens, "",
                Fields({ { "avih", kAvihTotalFrames, 0x7FFFFFFFu },
                    { "strh", kStrhLength, 0x7FFFFFFFu } }),
                ".avi", AllIntact() },
            // The same counts, read as −1 by anything that takes them as signed.
            { "FrameCountsAllOnes", kOpens, "",
                Fields({ { "avih", kAvihTotalFrames, 0xFFFFFFFFu },
                    { "strh", kStrhLength, 0xFFFFFFFFu } }),
                ".avi", AllIntact() },
            // A rate of 0 ÷ 1 or 25 ÷ 0: FFmpeg takes a default rate, the pictures stay apart.
            { "FrameRateZero", kOpens, "", Fields({ { "strh", kStrhRate, 0 } }), ".avi",
                AllIntact() },
            { "FrameScaleZero", kOpens, "", Fields({ { "strh", kStrhScale, 0 } }), ".avi",
                AllIntact() },
            // One picture every 2.7 years: the timeline keeps what fits in its slot range, at
            // least the first picture.
            { "FrameDurationHuge", kOpens, "", Fields({ { "strh", kStrhScale, 0x7FFFFFFFu } }),
                ".avi", IntactSlots(1) },
            // Four thousand million pictures a second: all of them start within the first slot,
            // which shows the last to start there.
            { "FrameRateHuge", kOpens, "", Fields({ { "strh", kStrhRate, 0xFFFFFFFFu } }) },
            { "StreamHeaderSizeHuge", kEither, "", Fields({ { "strh", 4, kHugeSize } }) },
            { "MoviListSizeHuge", kOpens, "", Damaged(MoviListSizeHuge), ".avi", AllIntact() },
            // Another codec's tag over MPEG-4 pictures: that decoder makes what it can of them,
            // or refuses.
            { "CodecTagCinepak", kEither, "", FourCc("strf", kStrfCompression, "cvid") },
            { "CodecTagRle8", kEither, "",
                Fields({ { "strf", kStrfBitCount, 8, 2 }, { "strf", kStrfCompression, 1 } }) },
            { "VideoStreamMarkedAsAudio", kFails, noVideo, FourCc("strh", kStrhType, "auds") },
            { "AudioOnlyAvi", kFails, noVideo,
                ByFfmpeg({ "-f", "lavfi", "-i", "sine=frequency=440:duration=1", "-c:a",
                    "pcm_s16le" }) },
            { "AudioOnlyWav", kFails, noVideo,
                ByFfmpeg({ "-f", "lavfi", "-i", "sine=frequency=440:duration=1" }), ".wav" },
            { "NoVideoStreamMkv", kFails, noVideo, SoundAndSubtitleOnly, ".mkv" },
        };
        rows.insert(rows.end(), more.begin(), more.end());
        return rows;
    }

    const std::vector<Row>& Rows()
    {
        static const std::vector<Row> rows = MakeRows();
        return rows;
    }

} // namespace

std::vector<uint8_t> WithHeaderPictureSize(
    std::vector<uint8_t> avi, uint32_t width, uint32_t height)
{
    const size_t strf = Find(avi, "strf");
    const size_t avih = Find(avi, "avih");
    if (strf == std::string::npos || avih == std::string::npos) {
        ADD_FAILURE() << "no AVI headers to damage";
        return avi;
    }
    Write32(avi, strf + kStrfWidth, width);
    Write32(avi, strf + kStrfHeight, height);
    Write32(avi, avih + kAvihWidth, width);
    Write32(avi, avih + kAvihHeight, height);
    return avi;
}

std::string HostileMediaBase()
{
    return MadeVideo("hostile_base.avi",
        { "-i", SampleVideo(), "-map", "0:v:0", "-c", "copy", "-frames:v",
            std::to_string(kExcerptFrames), "-fflags", "+bitexact", "-map_metadata", "-1", "-f",
            "avi" });
}

int64_t HostileMediaBaseSlots()
{
    const Intact* intact = LoadIntact();
    return intact ? intact->Slots() : 0;
}

std::vector<int64_t> HostileMediaBaseKeyframes()
{
    const Intact* intact = LoadIntact();
    return intact ? intact->keyframes : std::vector<int64_t> {};
}

std::vector<std::string> HostileMediaNames()
{
    std::vector<std::string> names;
    for (const Row& row : Rows())
        names.push_back(row.name);
    return names;
}

HostileMedia MakeHostileMedia(const std::string& name)
{
    HostileMedia media;
    media.name = name;
    const auto row
        = std::find_if(Rows().begin(), Rows().end(), [&](const Row& r) { return r.name == name; });
    if (row == Rows().end()) {
        ADD_FAILURE() << "no hostile-media case '" << name << "'";
        return media;
    }
    const Intact* intact = LoadIntact();
    if (!intact)
        return media;
    media.expect = row->expect;
    media.reason = row->reason;
    row->promise(*intact, media);
    media.path = row->make(*intact, "hostile_" + name + row->extension);
    return media;
}

} // namespace pelorin::video::test
