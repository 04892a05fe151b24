#include "kep_extended.h"

#include "tvc_read.h"

#include "pipeline/vram.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace pelorin::tvc {

namespace {

    constexpr uint8_t kFlagRunLength = 0x04;
    constexpr uint8_t kFlagUncompressedHeader = 0x08;
    constexpr uint8_t kFlagLz = 0x10;
    constexpr uint8_t kFlagLineRegisters = 0x20;
    constexpr uint8_t kFlagInterlaced = 0x40;
    constexpr uint8_t kFlagAlongside = 0x80;
    constexpr int kLongestRun = 63;

    std::string Hex(unsigned value)
    {
        char text[8];
        std::snprintf(text, sizeof text, "%02Xh", value & 0xFFu);
        return text;
    }

    size_t Word(std::span<const uint8_t> bytes, size_t at)
    {
        return size_t(bytes[at]) | size_t(bytes[at + 1]) << 8;
    }

    // epimgconv stores a colour in either bit of each pair; the TVC reads the even ones.
    uint8_t Register(uint8_t stored) { return uint8_t((stored | stored >> 1) & 0x55); }

    const TvcMode* ModeOfBits(unsigned bits)
    {
        for (const TvcMode& mode : TvcModes())
            if (ModePortValue(mode) == bits)
                return &mode;
        return nullptr;
    }

    // How many registers a line carries: those its pixels can pick.
    size_t RegistersPerLine(const TvcMode& mode) { return mode.bitsPerPixel == 1 ? 2 : 4; }

    // Widths in the header are in the mode's own pixels: 512 in "Graphics 2" fill a line.
    size_t ScreenWidth(const TvcMode& mode)
    {
        return size_t(kVramBytesPerLine) * size_t(8 / mode.bitsPerPixel);
    }

    // Run-length data decoded into exactly `expected` bytes; `offset` is where the data starts
    // in the file, for the messages.
    std::vector<uint8_t> RunLengthDecoded(
        std::span<const uint8_t> data, size_t expected, size_t offset, const std::string& quoted)
    {
        std::vector<uint8_t> out;
        out.reserve(expected);
        unsigned marker = 0;
        for (size_t at = 0; at < data.size();) {
            const uint8_t byte = data[at++];
            if (unsigned(byte >> 6) != marker) {
                if (out.size() == expected)
                    throw TvcFileError(quoted + "'s run-length data goes on past the "
                        + std::to_string(expected) + " bytes of its picture at byte "
                        + std::to_string(offset + at - 1));
                out.push_back(byte);
                continue;
            }
            const size_t count = byte & 0x3F;
            if (count == 0)
                throw TvcFileError(quoted + "'s run-length data has a run of no bytes at byte "
                    + std::to_string(offset + at - 1));
            if (at == data.size())
                throw TvcFileError(quoted + "'s run-length data ends within a run");
            if (count > expected - out.size())
                throw TvcFileError(quoted + "'s run-length data goes on past the "
                    + std::to_string(expected) + " bytes of its picture at byte "
                    + std::to_string(offset + at - 1));
            if (count == 1)
                marker = (marker + 1) & 3;
            out.insert(out.end(), count, data[at++]);
        }
        if (out.size() != expected)
            throw TvcFileError(quoted + "'s run-length data gives " + std::to_string(out.size())
                + " bytes; its picture needs " + std::to_string(expected));
        return out;
    }

    // Why compressed data cannot be decoded; the reader names the file around it.
    struct Damaged {
        std::string why;
    };

    // epcompress's "-m2" method: a checksum byte, then blocks of symbols read most significant
    // bit first, literal bytes taken whole from the same stream between the bits. Each block:
    // 16 bits the symbols less one, a bit for the last block, a bit for compression; without
    // it, that many bytes as they are; with it, slot tables (a 2-bit size of the far-offset
    // prefix less 2, then 4-bit widths of 8 length, 4 near, 8 middle and 4-32 far offset slots,
    // each table's slots counting up from 1), then symbols: 0 a literal byte; 1, n more 1s
    // (n < 8) and a 0 a copy of the length from slot n, its offset from the table the length
    // picks (1, 2 or more); eight more 1s 17-272 literal bytes (8 bits, plus 17).
    class ForwardBits {
    public:
        explicit ForwardBits(std::span<const uint8_t> data, size_t at)
            : m_data(data)
            , m_at(at)
        {
        }
        uint8_t Byte()
        {
            if (m_at >= m_data.size())
                throw Damaged { "it ends early" };
            return m_data[m_at++];
        }
        unsigned Bit()
        {
            if ((m_shift & 0x7F) == 0) {
                const uint8_t byte = Byte();
                m_shift = uint8_t(byte << 1 | 1); // the 1 marks when the byte is used up
                return byte >> 7;
            }
            const unsigned bit = m_shift >> 7;
            m_shift = uint8_t(m_shift << 1);
            return bit;
        }
        uint32_t Bits(unsigned count)
        {
            uint32_t value = 0;
            while (count-- > 0)
                value = value << 1 | Bit();
            return value;
        }
        // Every byte used and the bits left in the last one all 0.
        bool AtCleanEnd() const { return m_at == m_data.size() && (m_shift & (m_shift - 1)) == 0; }

    private:
        std::span<const uint8_t> m_data;
        size_t m_at;
        uint8_t m_shift = 0x80;
    };

    struct Slot {
        uint64_t base;
        unsigned bits;
    };

    std::vector<Slot> SlotTable(ForwardBits& in, size_t count)
    {
        std::vector<Slot> slots(count);
        uint64_t base = 1;
        for (Slot& slot : slots) {
            slot = { base, unsigned(in.Bits(4)) };
            base += uint64_t(1) << slot.bits;
        }
        return slots;
    }

    uint64_t FromSlot(ForwardBits& in, const std::vector<Slot>& slots, size_t index)
    {
        return slots[index].base + in.Bits(slots[index].bits);
    }

    std::vector<uint8_t> EpcompressM2(std::span<const uint8_t> data, size_t most)
    {
        std::vector<uint8_t> out;
        if (data.empty())
            return out;
        // Read from the end, the checksum byte makes this come to 80h.
        uint8_t sum = 0xFF;
        for (size_t i = data.size(); i-- > 0;) {
            sum = uint8_t(sum ^ data[i]);
            sum = uint8_t(sum << 1 | sum >> 7);
            sum = uint8_t(sum + 0xAC);
        }
        if (sum != 0x80)
            throw Damaged { "its checksum is wrong" };
        ForwardBits in(data, 1);
        out.reserve(most); // copies read the output while they add to it
        const auto room = [&](uint64_t count) {
            if (count > most - out.size())
                throw Damaged { "it gives more than the " + std::to_string(most)
                    + " bytes of the picture" };
        };
        for (bool last = false; !last;) {
            uint32_t symbols = in.Bits(16) + 1;
            last = in.Bit() != 0;
            if (in.Bit() == 0) {
                room(symbols);
                while (symbols-- > 0)
                    out.push_back(in.Byte());
                continue;
            }
            const size_t farPrefix = in.Bits(2) + 2;
            const std::vector<Slot> lengths = SlotTable(in, 8);
            const std::vector<Slot> near = SlotTable(in, 4);
            const std::vector<Slot> middle = SlotTable(in, 8);
            const std::vector<Slot> far = SlotTable(in, size_t(1) << farPrefix);
            while (symbols-- > 0) {
                if (in.Bit() == 0) {
                    room(1);
                    out.push_back(in.Byte());
                    continue;
                }
                size_t slot = 0;
                while (slot < 8 && in.Bit() != 0)
                    ++slot;
                if (slot == 8) {
                    uint32_t count = in.Bits(8) + 17;
                    room(count);
                    while (count-- > 0)
                        out.push_back(in.Byte());
                    continue;
                }
                const uint64_t length = FromSlot(in, lengths, slot);
                room(length);
                const uint64_t offset = length == 1 ? FromSlot(in, near, in.Bits(2))
                    : length == 2                   ? FromSlot(in, middle, in.Bits(3))
                                  : FromSlot(in, far, in.Bits(unsigned(farPrefix)));
                if (offset > out.size())
                    throw Damaged { "a copy reaches before its start" };
                for (size_t from = out.size() - size_t(offset), n = 0; n < length; ++n)
                    out.push_back(out[from + n]);
            }
        }
        if (!in.AtCleanEnd())
            throw Damaged { "bytes are left after its last block" };
        return out;
    }

    // epcompress's "-m3" method, one block decoded from its end: 2 bytes the packed size C, C
    // bytes, 2 bytes the unpacked size less C (both low byte first; equal sizes mean the bytes
    // as they are). The packed bytes are read from the last towards the first, bits from the
    // least significant, whole bytes taken between them; values are read most significant bit
    // first and the output is filled from its end. A length is k 1s, a 0, then k bits after a
    // leading 1. Each round: a length of literal bytes; then copies, each a length (plus 1)
    // and an offset (for 2 bytes 3 bits k less 1 and k bits after a leading 1, less 1; for more
    // 4 bits k and k bits after a leading 1), a 1 bit after a copy meaning another copy.
    class BackwardBits {
    public:
        explicit BackwardBits(std::span<const uint8_t> data)
            : m_data(data)
            , m_at(data.size())
        {
        }
        uint8_t Byte()
        {
            if (m_at == 0)
                throw Damaged { "it ends early" };
            return m_data[--m_at];
        }
        unsigned Bit()
        {
            if (m_shift < 2) {
                const uint8_t byte = Byte();
                m_shift = uint8_t(byte >> 1 | 0x80); // the 80h marks when the byte is used up
                return byte & 1;
            }
            const unsigned bit = m_shift & 1;
            m_shift = uint8_t(m_shift >> 1);
            return bit;
        }
        uint32_t Bits(unsigned count)
        {
            uint32_t value = 0;
            while (count-- > 0)
                value = value << 1 | Bit();
            return value;
        }
        uint32_t Length()
        {
            unsigned extra = 0;
            while (Bit() != 0)
                if (++extra > 15)
                    throw Damaged { "a length is longer than 16 bits" };
            return (uint32_t(1) << extra) | Bits(extra);
        }
        // Every byte used and the bits left in the last one all 1.
        bool AtCleanEnd() const { return m_at == 0 && ((m_shift + 1) & m_shift) == 0; }

    private:
        std::span<const uint8_t> m_data;
        size_t m_at;
        uint8_t m_shift = 0x01;
    };

    std::vector<uint8_t> EpcompressM3(std::span<const uint8_t> block, size_t most)
    {
        if (block.size() < 4)
            throw Damaged { "it is shorter than its sizes" };
        const size_t packed = Word(block, 0);
        const size_t unpacked = packed + Word(block, block.size() - 2);
        if (packed != block.size() - 4 || (packed == 0 && unpacked > 0))
            throw Damaged { "its sizes disagree with its length" };
        if (unpacked > most)
            throw Damaged { "it gives " + std::to_string(unpacked) + " bytes, more than the "
                + std::to_string(most) + " of the picture" };
        const std::span<const uint8_t> body = block.subspan(2, packed);
        if (unpacked == packed)
            return { body.begin(), body.end() };
        std::vector<uint8_t> out(unpacked);
        BackwardBits in(body);
        size_t at = unpacked;
        while (at > 0) {
            const uint32_t literals = in.Length();
            if (literals > at)
                throw Damaged { "literal bytes reach before its start" };
            for (uint32_t n = 0; n < literals; ++n)
                out[--at] = in.Byte();
            for (bool copy = at > 0; copy; copy = at > 0 && in.Bit() != 0) {
                const uint32_t length = in.Length() + 1;
                if (length > at)
                    throw Damaged { "a copy reaches before its start" };
                const unsigned k = length == 2 ? in.Bits(3) + 1 : in.Bits(4);
                const size_t offset = ((size_t(1) << k) | in.Bits(k)) - (length == 2 ? 1 : 0);
                if (offset > unpacked - at)
                    throw Damaged { "a copy reaches past its end" };
                for (uint32_t n = 0; n < length; ++n, --at)
                    out[at - 1] = out[at - 1 + offset];
            }
        }
        if (!in.AtCleanEnd())
            throw Damaged { "bytes are left over" };
        return out;
    }

} // namespace

std::vector<TvcPicture> ReadExtendedKep(std::span<const uint8_t> bytes, const std::string& name)
{
    const std::string quoted = "'" + name + "'";
    if (bytes.size() < kKepExtendedHeaderBytes)
        throw TvcFileError(quoted + " is a TVC picture file with an extended header (flag byte "
            + Hex(bytes.size() > 3 ? bytes[3] : 0) + ") cut short: " + std::to_string(bytes.size())
            + " bytes, less than the header's " + std::to_string(kKepExtendedHeaderBytes));
    const uint8_t flag = bytes[3];
    const TvcMode* mode = ModeOfBits(flag & 3u);
    if (mode == nullptr)
        throw TvcFileError(quoted + " names mode 3 in its flag byte, which the TVC lacks");
    const unsigned method = (flag >> 2) & 3;
    constexpr unsigned kM2 = 0, kM3 = 2;
    if ((flag & kFlagLz) && method != kM2 && method != kM3)
        throw TvcFileError(quoted + " is a TVC picture file compressed with "
            + (method == 1 ? "epcompress's \"-m0\" method" : std::string("zlib")) + " (flag byte "
            + Hex(flag) + "), which Pelorin does not read; it reads the uncompressed, "
            + "run-length, \"-m2\" and \"-m3\" forms");
    const size_t width = Word(bytes, 8);
    // The height counts the lines of both fields of an interlaced picture.
    const size_t height = Word(bytes, 10);
    const size_t fields = (flag & kFlagInterlaced) ? 2 : 1;
    if (height % fields != 0)
        throw TvcFileError(quoted + " is an interlaced TVC picture of " + std::to_string(height)
            + " lines, which two fields cannot share");
    const size_t lines = height / fields;
    // A width that ends within a byte loses its last pixels, as in epimgconv's own viewer.
    const size_t lineBytes = width * size_t(mode->bitsPerPixel) / 8;
    if (lineBytes == 0 || lines == 0 || lineBytes > size_t(kVramBytesPerLine) || lines > kVramLines)
        throw TvcFileError(quoted + " holds a picture of " + std::to_string(width) + " × "
            + std::to_string(lines) + " pixels in " + mode->QuotedCaption()
            + (fields == 2 ? " (each of two fields)" : "") + "; the TVC's screen in that mode is "
            + std::to_string(ScreenWidth(*mode)) + " × " + std::to_string(kVramLines));

    const bool perLine = (flag & kFlagLineRegisters) && mode->bitsPerPixel < 4;
    const size_t lineRegisterCount = RegistersPerLine(*mode);
    const size_t fieldRegisterBytes = perLine ? lines * lineRegisterCount : 0;
    const size_t fieldPixelBytes = lines * lineBytes;
    const size_t registerBytes = fields * fieldRegisterBytes;
    const size_t pixelBytes = fields * fieldPixelBytes;
    const size_t neededBytes = registerBytes + pixelBytes;
    std::span<const uint8_t> rest = bytes.subspan(kKepExtendedHeaderBytes);
    const auto cutShort = [&](const std::string& what, size_t needed) {
        return TvcFileError(quoted + " ends within its " + what + ": "
            + std::to_string(bytes.size()) + " bytes, "
            + std::to_string(kKepExtendedHeaderBytes + needed) + " needed");
    };
    // The registers per line, then the video memory.
    std::vector<uint8_t> data;
    if (flag & kFlagLz) {
        const char* const methodName = method == kM2 ? "\"-m2\"" : "\"-m3\"";
        // Two blocks, the registers' (its packed size in the header) and the video memory's,
        // decoded one after the other.
        const auto decode = [&](std::span<const uint8_t> block) {
            try {
                const std::vector<uint8_t> out = method == kM2
                    ? EpcompressM2(block, neededBytes - data.size())
                    : EpcompressM3(block, neededBytes - data.size());
                data.insert(data.end(), out.begin(), out.end());
            } catch (const Damaged& damaged) {
                throw TvcFileError(quoted + "'s " + methodName
                    + " compressed data cannot be decoded: " + damaged.why);
            }
        };
        if (perLine) {
            const size_t packed = Word(bytes, 14);
            if (packed == 0 || packed > rest.size())
                throw TvcFileError(quoted + " gives its packed registers per line "
                    + std::to_string(packed) + " bytes, of the " + std::to_string(rest.size())
                    + " after its header");
            decode(rest.first(packed));
            rest = rest.subspan(packed);
        }
        if (rest.empty())
            throw cutShort("video memory", neededBytes);
        decode(rest);
        if (data.size() != neededBytes)
            throw TvcFileError(quoted + "'s " + methodName + " compressed data gives "
                + std::to_string(data.size()) + " bytes; its picture needs "
                + std::to_string(neededBytes));
    } else {
        if (rest.size() < registerBytes)
            throw cutShort("registers per line", registerBytes);
        data.assign(rest.begin(), rest.begin() + ptrdiff_t(registerBytes));
        rest = rest.subspan(registerBytes);
        if (flag & kFlagRunLength) {
            const std::vector<uint8_t> pixels = RunLengthDecoded(
                rest, pixelBytes, kKepExtendedHeaderBytes + registerBytes, quoted);
            data.insert(data.end(), pixels.begin(), pixels.end());
        } else {
            // epimgconv's own viewer ignores bytes after the picture; so does this reader.
            if (rest.size() < pixelBytes)
                throw cutShort("video memory", neededBytes);
            data.insert(data.end(), rest.begin(), rest.begin() + ptrdiff_t(pixelBytes));
        }
    }
    // The registers of each field, then the video memory of each.
    std::vector<TvcPicture> pictures(fields);
    for (size_t f = 0; f < fields; ++f) {
        const uint8_t* registers = data.data() + f * fieldRegisterBytes;
        const uint8_t* pixels = data.data() + registerBytes + f * fieldPixelBytes;
        TvcPicture& picture = pictures[f];
        picture.mode = mode;
        for (size_t n = 0; n < picture.registers.size(); ++n)
            picture.registers[n] = Register(bytes[4 + n]);
        picture.vram.assign(kVramFrameBytes, 0);
        for (size_t y = 0; y < lines; ++y)
            std::copy_n(pixels + y * lineBytes, lineBytes,
                picture.vram.begin() + ptrdiff_t(y * size_t(kVramBytesPerLine)));
        if (!perLine)
            continue;
        // In "Graphics 2" a line carries two registers; the other two are the header's.
        picture.lineRegisters.assign(kVramLines, picture.registers);
        for (size_t y = 0; y < kVramLines; ++y) {
            if (y >= lines) {
                picture.lineRegisters[y] = picture.lineRegisters[lines - 1];
                continue;
            }
            for (size_t n = 0; n < lineRegisterCount; ++n)
                picture.lineRegisters[y][n] = Register(registers[y * lineRegisterCount + n]);
        }
        picture.registers = picture.lineRegisters.front();
    }
    return pictures;
}

std::vector<uint8_t> KepRunLengthBytes(std::span<const uint8_t> data, size_t lineBytes)
{
    std::vector<uint8_t> out;
    unsigned marker = 0;
    for (size_t lineStart = 0; lineStart < data.size(); lineStart += lineBytes) {
        const size_t lineEnd = std::min(data.size(), lineStart + lineBytes);
        for (size_t at = lineStart; at < lineEnd;) {
            const uint8_t byte = data[at];
            size_t count = 1;
            while (at + count < lineEnd && count < size_t(kLongestRun) && data[at + count] == byte)
                ++count;
            if (count == 1 && unsigned(byte >> 6) != marker) {
                out.push_back(byte);
            } else {
                // A lone byte that looks like a count is written as a run of one, which moves
                // the marker on: a picture rarely has the same top bits everywhere.
                out.push_back(uint8_t(marker << 6 | count));
                out.push_back(byte);
                if (count == 1)
                    marker = (marker + 1) & 3;
            }
            at += count;
        }
    }
    return out;
}

std::vector<uint8_t> ExtendedKepBytes(const TvcPicture& picture)
{
    if (picture.mode == nullptr || picture.mode->bitsPerPixel == 4
        || picture.vram.size() != kVramFrameBytes || picture.lineRegisters.size() != kVramLines)
        throw std::invalid_argument("a .kep with registers per line needs a mode of 2 or 4 "
                                    "colours, "
            + std::to_string(kVramFrameBytes)
            + " bytes of video memory and the "
              "registers of "
            + std::to_string(kVramLines) + " lines");
    const TvcMode& mode = *picture.mode;
    // The flag bits epimgconv itself writes for a run-length picture with registers per line.
    const uint8_t flag = uint8_t(kFlagAlongside | kFlagLineRegisters | kFlagUncompressedHeader
        | kFlagRunLength | ModePortValue(mode));
    const size_t width = ScreenWidth(mode);
    std::vector<uint8_t> bytes { 'K', 'E', 'P', flag };
    bytes.insert(bytes.end(), picture.registers.begin(), picture.registers.end());
    bytes.push_back(uint8_t(width & 0xFF));
    bytes.push_back(uint8_t(width >> 8));
    bytes.push_back(uint8_t(kVramLines & 0xFF));
    bytes.push_back(uint8_t(kVramLines >> 8));
    bytes.push_back(uint8_t((kBorderColour | kBorderColour << 1) & 0xAA));
    bytes.resize(kKepExtendedHeaderBytes, 0);
    for (const PaletteRegisters& line : picture.lineRegisters)
        bytes.insert(bytes.end(), line.begin(), line.begin() + ptrdiff_t(RegistersPerLine(mode)));
    const std::vector<uint8_t> pixels = KepRunLengthBytes(picture.vram, kVramBytesPerLine);
    bytes.insert(bytes.end(), pixels.begin(), pixels.end());
    return bytes;
}

} // namespace pelorin::tvc
