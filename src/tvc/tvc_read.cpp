#include "tvc_read.h"

#include "convert/palette.h"
#include "pipeline/vram.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>

namespace pelorin::tvc {

namespace {

    constexpr size_t kBasicBytes = 16; // the line "1 X=USR(6655)" and the end mark
    constexpr size_t kRegionOneEnd = 0x8000;
    constexpr size_t kRegionTwoShift = 0x4000;

    std::string Hex(unsigned value)
    {
        char text[8];
        std::snprintf(text, sizeof text, "%02Xh", value);
        return text;
    }

    const TvcMode* ModeOfFlag(uint8_t bits)
    {
        for (const TvcMode& mode : TvcModes())
            if (ModePortValue(mode) == bits)
                return &mode;
        return nullptr;
    }

    // What a .cas holds when it is not a program of ours, for the message.
    std::string DescribeForeignProgram(std::span<const uint8_t> program)
    {
        size_t lines = 0, at = 0;
        uint16_t firstLine = 0;
        while (at < program.size() && program[at] != 0 && lines < 10000) {
            const size_t length = program[at];
            if (length < 4 || at + length > program.size())
                break;
            if (lines == 0)
                firstLine = uint16_t(program[at + 1] | program[at + 2] << 8);
            ++lines;
            at += length;
        }
        if (lines == 0)
            return "a program of " + std::to_string(program.size()) + " bytes with no BASIC line";
        return "a BASIC program of " + std::to_string(lines) + (lines == 1 ? " line" : " lines")
            + " (the first numbered " + std::to_string(firstLine) + ") in "
            + std::to_string(program.size()) + " bytes";
    }

    TvcFile ParseKep(std::span<const uint8_t> bytes, const std::string& name)
    {
        if (bytes.size() < 4 || bytes[0] != 'K' || bytes[1] != 'E' || bytes[2] != 'P')
            throw TvcFileError("'" + name + "' is no TVC picture file: it does not start with KEP");
        const uint8_t flag = bytes[3];
        if ((flag & 0xFC) != 0)
            throw TvcFileError("'" + name + "' is a TVC picture file with flag byte " + Hex(flag)
                + " (a compressed picture, an extended header or more than one palette), "
                  "which Pelorin does not read; it reads the plain form only");
        const TvcMode* mode = ModeOfFlag(flag & 3);
        if (mode == nullptr)
            throw TvcFileError("'" + name + "' names mode 3 in its flag byte, which the TVC lacks");
        if (bytes.size() != kKepBytes)
            throw TvcFileError("'" + name + "' has " + std::to_string(bytes.size())
                + " bytes; a plain TVC picture file has " + std::to_string(kKepBytes));
        TvcFile file;
        file.mode = mode;
        std::copy(bytes.begin() + 4, bytes.begin() + 8, file.registers.begin());
        file.frames.emplace_back(bytes.begin() + 8, bytes.end());
        return file;
    }

    // The settings that follow the code of both programs: mode, registers; border not kept.
    void ReadSettings(TvcFile& file, std::span<const uint8_t> settings, const std::string& name)
    {
        file.mode = ModeOfFlag(settings[0] & 3);
        if (file.mode == nullptr)
            throw TvcFileError("'" + name + "' sets mode value " + Hex(settings[0]));
        std::copy(settings.begin() + 1, settings.begin() + 5, file.registers.begin());
    }

    TvcFile ParseClip(std::span<const uint8_t> program, const std::string& name)
    {
        const auto broken = [&](const std::string& what) {
            return TvcFileError("'" + name
                + "' holds Pelorin's clip player, but its frames are "
                  "broken: "
                + what);
        };
        const size_t settingsAt = kBasicBytes + PlayClipCode().size();
        if (program.size() < settingsAt + 14)
            throw broken("it ends inside the settings");
        TvcFile file;
        ReadSettings(file, program.subspan(settingsAt, 6), name);
        const auto word32 = [&](size_t at) {
            return int64_t(program[at]) | int64_t(program[at + 1]) << 8
                | int64_t(program[at + 2]) << 16 | int64_t(program[at + 3]) << 24;
        };
        file.rateNumerator = word32(settingsAt + 6);
        file.rateDenominator = word32(settingsAt + 10);
        if (file.rateNumerator <= 0 || file.rateDenominator <= 0)
            throw broken("its frame rate is 0");
        // Addresses as the player sees them, to offsets in the program.
        const auto offsetOf = [&](size_t address) -> size_t {
            size_t load = address;
            if (address >= 0xC000)
                load = address - kRegionTwoShift;
            else if (address >= kRegionOneEnd)
                throw broken("a jump to " + std::to_string(address));
            if (load < kProgramLoadAddress || load - kProgramLoadAddress >= program.size())
                throw broken("a jump out of the program");
            return load - kProgramLoadAddress;
        };
        std::vector<uint8_t> screen(kVramFrameBytes, 0);
        std::set<size_t> visited;
        size_t at = settingsAt + 14;
        const auto need = [&](size_t n) {
            if (at + n > program.size())
                throw broken("a record runs past the end of the file");
        };
        for (;;) {
            need(2);
            const unsigned head = program[at] | program[at + 1] << 8;
            if (head == 0xFFFF) {
                need(4);
                const size_t target = offsetOf(program[at + 2] | size_t(program[at + 3]) << 8);
                if (visited.count(target)) {
                    // Back into the loop: the last frame drawn was the way back to frame 0.
                    if (file.frames.size() < 2)
                        throw broken("no frames before the loop");
                    file.frames.pop_back();
                    return file;
                }
                at = target;
                continue;
            }
            visited.insert(at);
            at += 2;
            size_t cursor = 0;
            for (;;) {
                need(2);
                const size_t skip = program[at], count = program[at + 1];
                at += 2;
                if (skip == 0 && count == 0)
                    break;
                cursor += skip;
                need(count);
                if (cursor + count > kVramFrameBytes)
                    throw broken("a run past the end of video memory");
                std::copy(program.begin() + ptrdiff_t(at), program.begin() + ptrdiff_t(at + count),
                    screen.begin() + ptrdiff_t(cursor));
                cursor += count;
                at += count;
            }
            file.frames.push_back(screen);
            if (file.frames.size() > program.size())
                throw broken("its records never loop");
        }
    }

    TvcFile ParseCas(std::span<const uint8_t> bytes, const std::string& name)
    {
        if (bytes.size() < kCasHeaderBytes || bytes[0] != 0x11)
            throw TvcFileError("'" + name + "' is no TVC program file"
                + (bytes.empty() ? std::string(": it is empty")
                                 : ": its first byte is " + Hex(bytes[0]) + ", not 11h"));
        const size_t length = size_t(bytes[0x82]) | size_t(bytes[0x83]) << 8;
        if (bytes[0x81] != 0x01 || kCasHeaderBytes + length > bytes.size())
            throw TvcFileError("'" + name + "' is a TVC file but holds no complete program");
        const std::span<const uint8_t> program = bytes.subspan(kCasHeaderBytes, length);
        // Ours: the BASIC line that calls 6655, then one of our two programs byte for byte.
        const std::vector<uint8_t> ourLine = CasBytes({}, {});
        const bool ourLineFound = program.size() >= kBasicBytes
            && std::equal(
                ourLine.begin() + ptrdiff_t(kCasHeaderBytes), ourLine.end(), program.begin());
        const auto holds = [&](std::span<const uint8_t> code) {
            return ourLineFound && program.size() >= kBasicBytes + code.size()
                && std::equal(code.begin(), code.end(), program.begin() + kBasicBytes);
        };
        if (holds(ShowPictureCode())) {
            const size_t settingsAt = kBasicBytes + ShowPictureCode().size();
            if (program.size() != settingsAt + 6 + kVramFrameBytes)
                throw TvcFileError("'" + name + "' holds Pelorin's picture program, but "
                    + std::to_string(program.size()) + " bytes, not "
                    + std::to_string(settingsAt + 6 + kVramFrameBytes));
            TvcFile file;
            ReadSettings(file, program.subspan(settingsAt, 6), name);
            file.frames.emplace_back(program.begin() + ptrdiff_t(settingsAt + 6), program.end());
            return file;
        }
        if (holds(PlayClipCode()))
            return ParseClip(program, name);
        throw TvcFileError("'" + name
            + "' is a TVC program file that Pelorin did not write: it holds "
            + DescribeForeignProgram(program) + ", not one of Pelorin's pictures or clips");
    }

    TvcFile ParseVram(std::span<const uint8_t> bytes, const TvcMode* mode, const std::string& name)
    {
        if (mode == nullptr)
            throw TvcFileError(
                "'" + name + "' holds video memory without its mode: give --mode 2, 4 or 16");
        if (bytes.empty() || bytes.size() % kVramFrameBytes != 0)
            throw TvcFileError("'" + name + "' has " + std::to_string(bytes.size())
                + " bytes, not a whole number of " + std::to_string(kVramFrameBytes)
                + "-byte frames of TVC video memory");
        TvcFile file;
        file.mode = mode;
        file.registers = PaletteRegistersOf(*mode);
        for (size_t at = 0; at < bytes.size(); at += kVramFrameBytes)
            file.frames.emplace_back(
                bytes.begin() + ptrdiff_t(at), bytes.begin() + ptrdiff_t(at + kVramFrameBytes));
        return file;
    }

} // namespace

bool IsTvcInputExtension(std::string_view extension)
{
    return extension == ".kep" || extension == ".cas" || extension == ".vram";
}

TvcFile ParseTvcFile(std::span<const uint8_t> bytes, std::string_view extension,
    const TvcMode* vramMode, const std::string& name)
{
    if (extension == ".kep")
        return ParseKep(bytes, name);
    if (extension == ".cas")
        return ParseCas(bytes, name);
    if (extension == ".vram")
        return ParseVram(bytes, vramMode, name);
    throw TvcFileError("'" + name + "' is not a .kep, .cas or .vram file");
}

TvcFile ReadTvcFile(const std::string& path, const TvcMode* vramMode)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw TvcFileError("cannot read '" + path + "'");
    const std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
    std::string extension;
    if (const size_t dot = path.find_last_of('.');
        dot != std::string::npos && path.find('/', dot) == std::string::npos)
        extension = path.substr(dot);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return ParseTvcFile(bytes, extension, vramMode, path);
}

platform::Surface WorkingPicture(const TvcFile& file, size_t index)
{
    const TvcMode& mode = *file.mode;
    const std::vector<uint8_t>& vram = file.frames.at(index);
    platform::Surface picture(mode.workingWidth, mode.workingHeight);
    for (int y = 0; y < mode.workingHeight; ++y) {
        const uint8_t* line = vram.data() + size_t(y) * size_t(kVramBytesPerLine);
        uint32_t* row = picture.Row(y);
        for (int x = 0; x < mode.workingWidth; ++x) {
            const uint8_t byte = line[x / mode.pixelsPerByte];
            const int n = x % mode.pixelsPerByte;
            unsigned value = 0;
            for (int k = 0; k < mode.bitsPerPixel; ++k)
                value |= ((byte >> mode.vramBit[size_t(n)][size_t(k)]) & 1u) << k;
            // A "Graphics 16" pixel is its own colour number I G R B; spread to 0 I 0 G 0 R 0 B.
            const uint8_t reg = mode.bitsPerPixel == 4
                ? uint8_t((value & 8) << 3 | (value & 4) << 2 | (value & 2) << 1 | (value & 1))
                : file.registers[value];
            row[x] = PackEntry(ColourOfRegister(reg));
        }
    }
    return picture;
}

platform::Surface EnlargeWhole(const platform::Surface& working, int width, int height)
{
    platform::Surface out(width, height);
    const int sx = width / working.width, sy = height / working.height;
    for (int y = 0; y < height; ++y) {
        const uint32_t* from = working.Row(y / sy);
        uint32_t* to = out.Row(y);
        for (int x = 0; x < width; ++x)
            to[x] = from[x / sx];
    }
    return out;
}

} // namespace pelorin::tvc
