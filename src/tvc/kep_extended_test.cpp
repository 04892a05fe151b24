#include "kep_extended.h"
#include "tvc_read.h"

#include "convert/tvc_colours.h"
#include "pipeline/vram.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <unistd.h>

namespace pelorin::tvc {
namespace {

    // A picture of random video memory whose registers change from line to line.
    TvcPicture PerLinePicture(const TvcMode& mode, uint32_t seed)
    {
        std::mt19937 random(seed);
        TvcPicture picture;
        picture.mode = &mode;
        picture.vram.resize(kVramFrameBytes);
        for (uint8_t& byte : picture.vram)
            byte = uint8_t(random());
        picture.registers = PaletteRegistersOf(mode);
        picture.lineRegisters.assign(kVramLines, picture.registers);
        // "Graphics 2" lines carry two registers in the file; the other two stay the header's.
        const size_t carried = mode.bitsPerPixel == 1 ? 2 : 4;
        for (PaletteRegisters& line : picture.lineRegisters)
            for (size_t n = 0; n < carried; ++n)
                line[n] = RegisterValue(int(random() % 16));
        picture.registers = picture.lineRegisters.front();
        return picture;
    }

    std::vector<uint8_t> Header(
        uint8_t flag, const PaletteRegisters& registers, size_t width, size_t height)
    {
        std::vector<uint8_t> bytes { 'K', 'E', 'P', flag };
        bytes.insert(bytes.end(), registers.begin(), registers.end());
        for (const size_t word : { width, height }) {
            bytes.push_back(uint8_t(word & 0xFF));
            bytes.push_back(uint8_t(word >> 8));
        }
        bytes.resize(kKepExtendedHeaderBytes, 0);
        return bytes;
    }

    // The uncompressed extended form of a whole screen, written the long way.
    std::vector<uint8_t> UncompressedKep(const TvcPicture& picture)
    {
        const TvcMode& mode = *picture.mode;
        const bool perLine = !picture.lineRegisters.empty();
        const uint8_t flag = uint8_t(0x08 | (perLine ? 0xA0 : 0) | ModePortValue(mode));
        std::vector<uint8_t> bytes
            = Header(flag, picture.registers, size_t(512 / mode.bitsPerPixel), kVramLines);
        for (const PaletteRegisters& line : picture.lineRegisters)
            for (size_t n = 0; n < (mode.bitsPerPixel == 1 ? 2u : 4u); ++n)
                bytes.push_back(line[n]);
        bytes.insert(bytes.end(), picture.vram.begin(), picture.vram.end());
        return bytes;
    }

    void ExpectSamePicture(const TvcFile& file, const TvcPicture& picture)
    {
        EXPECT_EQ(file.mode, picture.mode);
        EXPECT_EQ(file.registers, picture.registers);
        EXPECT_EQ(file.lineRegisters, picture.lineRegisters);
        EXPECT_EQ(file.Frame(0), picture.vram);
    }

    std::string Refusal(const std::vector<uint8_t>& bytes)
    {
        try {
            ParseTvcFile(bytes, ".kep", nullptr, "k");
        } catch (const TvcFileError& e) {
            return e.what();
        }
        return "accepted";
    }

    // Every shorter start of `bytes` is refused.
    void ExpectCutsRefused(const std::vector<uint8_t>& bytes)
    {
        for (size_t size = 4; size < bytes.size(); ++size)
            EXPECT_NE(Refusal({ bytes.begin(), bytes.begin() + ptrdiff_t(size) }), "accepted")
                << size;
    }

    TEST(ExtendedKep, UncompressedFormGivesThePictureInEveryMode)
    {
        for (const TvcMode& mode : TvcModes()) {
            SCOPED_TRACE(mode.QuotedCaption());
            TvcPicture picture = PerLinePicture(mode, 3);
            if (mode.bitsPerPixel == 4)
                picture.lineRegisters.clear();
            ExpectSamePicture(
                ParseTvcFile(UncompressedKep(picture), ".kep", nullptr, "k"), picture);
            picture.lineRegisters.clear();
            ExpectSamePicture(
                ParseTvcFile(UncompressedKep(picture), ".kep", nullptr, "k"), picture);
        }
    }

    TEST(ExtendedKep, InterlacedPictureIsItsTwoFieldsInTurn)
    {
        // "Graphics 16", 64 × 3 lines in each field: the first field's lines, then the second's.
        constexpr size_t kLines = 3, kLineBytes = 32;
        std::vector<uint8_t> bytes = Header(0xCA, {}, 2 * kLineBytes, 2 * kLines);
        for (size_t i = 0; i < 2 * kLines * kLineBytes; ++i)
            bytes.push_back(uint8_t(i * 7));
        const TvcFile file = ParseTvcFile(bytes, ".kep", nullptr, "k");
        ASSERT_EQ(file.FrameCount(), 2u);
        EXPECT_EQ(file.rateNumerator, 50 * file.rateDenominator);
        for (size_t field = 0; field < 2; ++field)
            for (size_t y = 0; y < kLines; ++y)
                EXPECT_TRUE(std::equal(bytes.begin()
                        + ptrdiff_t(kKepExtendedHeaderBytes + (field * kLines + y) * kLineBytes),
                    bytes.begin()
                        + ptrdiff_t(
                            kKepExtendedHeaderBytes + (field * kLines + y + 1) * kLineBytes),
                    file.Frame(field).begin() + ptrdiff_t(y * size_t(kVramBytesPerLine))));
        bytes[10] = 2 * kLines + 1;
        EXPECT_NE(Refusal(bytes).find("two fields cannot share"), std::string::npos);
    }

    TEST(ExtendedKep, HandWorkedRunLengthStreamOfASmallPicture)
    {
        // 16 pixels × 3 lines of "Graphics 4": four bytes a line, each line's four registers.
        const uint8_t lines[3][4] = { { 0x00, 0x00, 0x00, 0x3F }, { 0x41, 0x00, 0xC0, 0xC0 },
            { 0x80, 0x80, 0x80, 0x80 } };
        const uint8_t stream[] = {
            0x03, 0x00, // marker 0: three 00h
            0x01, 0x3F, // a lone byte with the marker's top bits: a run of one, marker now 1
            0x41, 0x41, // the same for 41h, marker now 2
            0x00, 0xC0, 0xC0, // bytes themselves
            0x84, 0x80, // marker 2: four 80h
        };
        const PaletteRegisters header { 0x01, 0x04, 0x10, 0x40 };
        // The odd bit of a pair stands for the even one (02h is 01h).
        const PaletteRegisters registers[3] = { { 0x02, 0x04, 0x10, 0x40 },
            { 0x55, 0x00, 0x44, 0x11 }, { 0x05, 0x50, 0x00, 0x45 } };
        std::vector<uint8_t> bytes = Header(0xAD, header, 16, 3);
        for (const PaletteRegisters& line : registers)
            bytes.insert(bytes.end(), line.begin(), line.end());
        bytes.insert(bytes.end(), std::begin(stream), std::end(stream));

        const TvcFile file = ParseTvcFile(bytes, ".kep", nullptr, "k");
        EXPECT_EQ(file.mode, &TvcModeOf(4));
        const std::vector<uint8_t> vram = file.Frame(0);
        for (size_t y = 0; y < kVramLines; ++y)
            for (size_t x = 0; x < size_t(kVramBytesPerLine); ++x)
                ASSERT_EQ(vram[y * size_t(kVramBytesPerLine) + x], y < 3 && x < 4 ? lines[y][x] : 0)
                    << y << ", " << x;
        ASSERT_EQ(file.lineRegisters.size(), kVramLines);
        EXPECT_EQ(file.lineRegisters[0], (PaletteRegisters { 0x01, 0x04, 0x10, 0x40 }));
        EXPECT_EQ(file.lineRegisters[1], registers[1]);
        // Below the picture the last line's registers hold.
        EXPECT_EQ(file.lineRegisters.back(), registers[2]);
        EXPECT_EQ(file.registers, file.lineRegisters[0]);

        // Cut anywhere, or spoilt, the stream is refused.
        const size_t streamAt = bytes.size() - sizeof stream;
        ExpectCutsRefused(bytes);
        std::vector<uint8_t> empty = bytes;
        empty[streamAt] = 0x00; // a run of no bytes
        EXPECT_NE(Refusal(empty).find("run of no bytes"), std::string::npos) << Refusal(empty);
        std::vector<uint8_t> longer = bytes;
        longer[streamAt] = 0x04; // one byte more than the picture holds
        EXPECT_NE(Refusal(longer).find("past the 12 bytes"), std::string::npos) << Refusal(longer);
        longer = bytes;
        longer.push_back(0x00);
        EXPECT_NE(Refusal(longer), "accepted");
    }

    // Two lines of four bytes, the second a copy of the first: one copy after four literals.
    constexpr uint8_t kRepeatedLine[4] = { 0x11, 0x22, 0x33, 0x44 };

    TEST(ExtendedKep, HandWorkedM3StreamOfASmallPicture)
    {
        // Read from the end, bits from the least significant: A3h gives 1 1 0 | 0 0 (four
        // literals: 44h 33h 22h 11h fill the output from its end), then 1 0 1 (a length of 3,
        // a copy of 4); C4h gives 0 0 1 0 | 0 0 (offset 4) and the padding 1 1.
        const uint8_t block[] = { 0x06, 0x00, 0xC4, 0x11, 0x22, 0x33, 0x44, 0xA3, 0x02, 0x00 };
        const PaletteRegisters header { 0x00, 0x11, 0x44, 0x55 };
        std::vector<uint8_t> bytes = Header(0x99, header, 16, 2);
        bytes.insert(bytes.end(), std::begin(block), std::end(block));
        const TvcFile file = ParseTvcFile(bytes, ".kep", nullptr, "k");
        EXPECT_EQ(file.mode, &TvcModeOf(4));
        EXPECT_EQ(file.registers, header);
        EXPECT_TRUE(file.lineRegisters.empty());
        const std::vector<uint8_t> vram = file.Frame(0);
        for (const size_t line : { 0, 1 })
            EXPECT_TRUE(std::equal(std::begin(kRepeatedLine), std::end(kRepeatedLine),
                vram.begin() + ptrdiff_t(line * size_t(kVramBytesPerLine))));
        EXPECT_EQ(vram[2 * size_t(kVramBytesPerLine)], 0);
        ExpectCutsRefused(bytes);
        std::vector<uint8_t> far = bytes;
        far[far.size() - 3] = 0xA3 ^ 0x20; // a length of 2 whose offset then reaches too far
        EXPECT_NE(Refusal(far).find("-m3"), std::string::npos) << Refusal(far);
    }

    // Bits most significant first, whole bytes put between them where the reader takes them.
    class M2Writer {
    public:
        void Bits(uint32_t value, int count)
        {
            while (count-- > 0) {
                if (m_used == 8) {
                    m_bitsAt = m_out.size();
                    m_out.push_back(0);
                    m_used = 0;
                }
                m_out[m_bitsAt] = uint8_t(m_out[m_bitsAt] | ((value >> count) & 1) << (7 - m_used));
                ++m_used;
            }
        }
        void Byte(uint8_t value) { m_out.push_back(value); }
        // The stream behind the byte that brings its checksum to 80h.
        std::vector<uint8_t> Finished() const
        {
            for (int first = 0; first < 256; ++first) {
                std::vector<uint8_t> data { uint8_t(first) };
                data.insert(data.end(), m_out.begin(), m_out.end());
                uint8_t sum = 0xFF;
                for (size_t i = data.size(); i-- > 0;) {
                    sum = uint8_t(sum ^ data[i]);
                    sum = uint8_t((sum << 1 | sum >> 7) + 0xAC);
                }
                if (sum == 0x80)
                    return data;
            }
            return {};
        }

    private:
        std::vector<uint8_t> m_out;
        size_t m_bitsAt = 0;
        int m_used = 8;
    };

    TEST(ExtendedKep, HandWorkedM2StreamsOfASmallPictureWithRegistersPerLine)
    {
        // "Graphics 2", 32 pixels × 2 lines: the registers per line in a block stored as it is,
        // the video memory in a packed one.
        const uint8_t lineRegisters[4] = { 0x01, 0x04, 0x10, 0x40 };
        M2Writer stored;
        stored.Bits(4 - 1, 16);
        stored.Bits(1, 1); // the last block
        stored.Bits(0, 1); // stored as it is
        for (const uint8_t byte : lineRegisters)
            stored.Byte(byte);

        M2Writer packed;
        packed.Bits(5 - 1, 16); // four literals and a copy
        packed.Bits(1, 1);
        packed.Bits(1, 1); // packed
        packed.Bits(0, 2); // four far slots
        for (const int width : { 0, 0, 2, 0, 0, 0, 0, 0 }) // lengths 1, 2, 3-6, 7 ...
            packed.Bits(uint32_t(width), 4);
        for (int slot = 0; slot < 4 + 8; ++slot) // near and middle offsets, unused
            packed.Bits(0, 4);
        for (const int width : { 3, 0, 0, 0 }) // far offsets 1-8, ...
            packed.Bits(uint32_t(width), 4);
        for (const uint8_t byte : kRepeatedLine) {
            packed.Bits(0, 1);
            packed.Byte(byte);
        }
        packed.Bits(0b1110, 4); // a copy, length slot 2
        packed.Bits(1, 2); // length 3 + 1
        packed.Bits(0, 2); // far slot 0
        packed.Bits(3, 3); // offset 1 + 3

        const std::vector<uint8_t> registerBlock = stored.Finished();
        const std::vector<uint8_t> pixelBlock = packed.Finished();
        ASSERT_FALSE(registerBlock.empty());
        ASSERT_FALSE(pixelBlock.empty());
        std::vector<uint8_t> bytes = Header(0xB0, {}, 32, 2);
        bytes[14] = uint8_t(registerBlock.size());
        bytes.insert(bytes.end(), registerBlock.begin(), registerBlock.end());
        bytes.insert(bytes.end(), pixelBlock.begin(), pixelBlock.end());

        const TvcFile file = ParseTvcFile(bytes, ".kep", nullptr, "k");
        EXPECT_EQ(file.mode, &TvcModeOf(2));
        ASSERT_EQ(file.lineRegisters.size(), kVramLines);
        EXPECT_EQ(file.lineRegisters[0], (PaletteRegisters { 0x01, 0x04, 0, 0 }));
        EXPECT_EQ(file.lineRegisters[1], (PaletteRegisters { 0x10, 0x40, 0, 0 }));
        const std::vector<uint8_t> vram = file.Frame(0);
        for (const size_t line : { 0, 1 })
            EXPECT_TRUE(std::equal(std::begin(kRepeatedLine), std::end(kRepeatedLine),
                vram.begin() + ptrdiff_t(line * size_t(kVramBytesPerLine))));
        ExpectCutsRefused(bytes);
        std::vector<uint8_t> spoilt = bytes;
        spoilt.back() ^= 0x01;
        EXPECT_NE(Refusal(spoilt).find("checksum"), std::string::npos) << Refusal(spoilt);
    }

    TEST(ExtendedKep, PictureWithRegistersPerLineIsWrittenExtendedAndReadBack)
    {
        for (const int colours : { 2, 4 }) {
            const TvcPicture picture = PerLinePicture(TvcModeOf(colours), 5);
            const std::vector<uint8_t> bytes = KepBytes(picture);
            EXPECT_TRUE(IsExtendedKepFlag(bytes[3]));
            ExpectSamePicture(ParseTvcFile(bytes, ".kep", nullptr, "k"), picture);
        }
        // In "Graphics 16" registers are not shown: the plain form, registers per line or not.
        TvcPicture sixteen = PerLinePicture(TvcModeOf(16), 5);
        EXPECT_EQ(KepBytes(sixteen).size(), kKepBytes);
    }

    TEST(ExtendedKep, RunLengthKeepsRunsWithinLinesAndRepeatsEveryByte)
    {
        // Long runs, lone bytes with every top-bit pattern and runs across a line's end.
        constexpr size_t kLine = kVramBytesPerLine;
        constexpr size_t kSame = 100;
        std::vector<uint8_t> data(3 * kLine, 0xAA);
        std::mt19937 random(9);
        for (size_t i = kSame; i < data.size(); ++i)
            data[i] = uint8_t(random() % 3 == 0 ? data[i - 1] : random());
        const std::vector<uint8_t> stream = KepRunLengthBytes(data, kLine);
        std::vector<uint8_t> bytes = Header(0xAD, {}, 4 * kLine, 3);
        bytes.insert(bytes.end(), 3 * 4, 0);
        bytes.insert(bytes.end(), stream.begin(), stream.end());
        const std::vector<uint8_t> vram = ParseTvcFile(bytes, ".kep", nullptr, "k").Frame(0);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), vram.begin()));
        // The first line of AAh is a run of 63 and the lone byte itself; the next line starts
        // a run of its own.
        EXPECT_EQ(stream[0], 63);
        EXPECT_EQ(stream[2], 0xAA);
        EXPECT_EQ(stream[3], kSame - kLine);
    }

    TEST(ExtendedKep, RefusesWhatOneScreenCannotShowNamingIt)
    {
        const TvcPicture picture = PerLinePicture(TvcModeOf(4), 7);
        const std::vector<uint8_t> good = UncompressedKep(picture);
        const auto changed = [&](size_t at, uint8_t value) {
            std::vector<uint8_t> bytes = good;
            bytes[at] = value;
            return Refusal(bytes);
        };
        EXPECT_NE(changed(3, 0xB5).find("-m0"), std::string::npos) << changed(3, 0xB5);
        EXPECT_NE(changed(3, 0xBD).find("zlib"), std::string::npos);
        EXPECT_NE(changed(3, 0xE9).find("interlaced"), std::string::npos);
        // 512 pixels of "Graphics 4" are twice a line; 496 lines twice the screen's.
        EXPECT_NE(changed(9, 0x02).find("512 × 240 pixels"), std::string::npos) << changed(9, 0x02);
        EXPECT_NE(changed(11, 0x01).find("256 × 496 pixels"), std::string::npos)
            << changed(11, 0x01);
        EXPECT_NE(changed(10, 0x00).find("256 × 0 pixels"), std::string::npos);
        EXPECT_NE(Refusal({ good.begin(), good.begin() + 15 }).find("header"), std::string::npos);
        EXPECT_NE(Refusal({ good.begin(), good.begin() + 100 }).find("registers per line"),
            std::string::npos);
        EXPECT_NE(
            Refusal({ good.begin(), good.end() - 1 }).find("video memory"), std::string::npos);
    }

    TEST(ExtendedKep, LongerThanAPlainFileIsReadFromDisk)
    {
        const std::vector<uint8_t> bytes = UncompressedKep(PerLinePicture(TvcModeOf(4), 8));
        ASSERT_GT(bytes.size(), kKepBytes);
        const std::filesystem::path path = std::filesystem::temp_directory_path()
            / ("pelorin_kep_" + std::to_string(::getpid()) + ".kep");
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        const TvcFile file = ReadTvcFile(path.string(), nullptr);
        std::filesystem::remove(path);
        EXPECT_EQ(file.lineRegisters.size(), kVramLines);
    }

} // namespace
} // namespace pelorin::tvc
