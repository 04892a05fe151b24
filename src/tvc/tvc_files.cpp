#include "tvc_files.h"

#include "kep_extended.h"

#include "convert/tvc_colours.h"
#include "picture_file/atomic_output.h"
#include "pipeline/line_palettes.h"
#include "platform/file_extension.h"

#include <algorithm>
#include <functional>
#include <numeric>
#include <stdexcept>

namespace pelorin::tvc {

namespace {

    // clang-format off
    constexpr uint8_t kShowPicture[] = {
#include "show_picture.inc"
    };
    constexpr uint8_t kPlayClip[] = {
#include "play_clip.inc"
    };
    constexpr uint8_t kShowPictureLines[] = {
#include "show_picture_lines.inc"
    };
    // clang-format on

    // BASIC tokens of the line that calls the code.
    constexpr uint8_t kTokenEquals = 0x9A;
    constexpr uint8_t kTokenOpen = 0x96;
    constexpr uint8_t kTokenClose = 0x95;
    constexpr uint8_t kLineEnd = 0xFF;

    // "1 X=USR(6655)": the code follows the line and the program's end mark, so the address
    // has four digits and the line a fixed length.
    std::vector<uint8_t> BasicLine()
    {
        const std::string digits = std::to_string(kCodeAddress);
        std::vector<uint8_t> line { 0, 1, 0, 'X', kTokenEquals, 'U', 'S', 'R', kTokenOpen };
        for (const char digit : digits)
            line.push_back(uint8_t(digit));
        line.push_back(kTokenClose);
        line.push_back(kLineEnd);
        line[0] = uint8_t(line.size());
        line.push_back(0x00); // no more lines
        return line;
    }

    void PutWord(uint8_t* at, size_t value)
    {
        at[0] = uint8_t(value & 0xFF);
        at[1] = uint8_t((value >> 8) & 0xFF);
    }

    void CheckPicture(const TvcPicture& picture)
    {
        if (picture.mode == nullptr || picture.vram.size() != kVramFrameBytes)
            throw std::invalid_argument("a TVC picture needs a mode and "
                + std::to_string(kVramFrameBytes) + " bytes of video memory");
    }

    void CheckLineRegisters(const TvcPicture& picture)
    {
        if (picture.lineRegisters.size() != size_t(kVramLines))
            throw std::invalid_argument("registers per line need " + std::to_string(kVramLines)
                + " sets, got " + std::to_string(picture.lineRegisters.size()));
        if (picture.mode->bitsPerPixel == 4)
            throw std::invalid_argument(
                "registers per line need \"Graphics 2\" or \"Graphics 4\": in \"Graphics 16\" "
                "the pixels carry their own colours");
        if (picture.lineRegisters[0] != picture.registers)
            throw std::invalid_argument("line 0's registers differ from the picture's");
        for (size_t y = 1; y < picture.lineRegisters.size(); ++y) {
            const auto& now = picture.lineRegisters[y];
            const auto& before = picture.lineRegisters[y - 1];
            const auto changes = std::inner_product(
                now.begin(), now.end(), before.begin(), 0, std::plus<>(), std::not_equal_to<>());
            if (changes > kMaxRegisterChanges)
                throw std::invalid_argument("line " + std::to_string(y) + " changes "
                    + std::to_string(changes) + " registers; a line may change at most "
                    + std::to_string(kMaxRegisterChanges));
        }
    }

    uint16_t WordAt(std::span<const uint8_t> bytes, size_t at)
    {
        return uint16_t(bytes[at] | bytes[at + 1] << 8);
    }

    // Each line after the first: its routine, then the port and value of each register it
    // changes; then the way back to the field's start.
    std::vector<uint8_t> LineTable(const std::vector<PaletteRegisters>& lines)
    {
        const LineRoutines routines = ShowPictureLinesRoutines();
        std::vector<uint8_t> table;
        const auto putWord = [&](uint16_t word) {
            table.push_back(uint8_t(word & 0xFF));
            table.push_back(uint8_t(word >> 8));
        };
        for (size_t y = 1; y < lines.size(); ++y) {
            std::vector<uint8_t> writes;
            for (size_t r = 0; r < lines[y].size(); ++r)
                if (lines[y][r] != lines[y - 1][r]) {
                    writes.push_back(uint8_t(kFirstPalettePort + r));
                    writes.push_back(lines[y][r]);
                }
            putWord(routines.byChanges[writes.size() / 2]);
            table.insert(table.end(), writes.begin(), writes.end());
        }
        putWord(routines.fieldEnd);
        return table;
    }

} // namespace

PaletteRegisters PaletteRegistersOf(const TvcMode& mode)
{
    PaletteRegisters registers {};
    for (size_t i = 0; i < registers.size() && i < mode.palette.size(); ++i)
        registers[i] = RegisterValue(ColourOfEntry(mode.palette[i]).value());
    return registers;
}

uint8_t ModePortValue(const TvcMode& mode)
{
    // 00 "Graphics 2", 01 "Graphics 4", 1x "Graphics 16": the bits per pixel, less one, for 1
    // and 2, and 2 for 4.
    return uint8_t(mode.bitsPerPixel == 1 ? 0 : mode.bitsPerPixel == 2 ? 1 : 2);
}

TvcPicture PictureFromWorking(const platform::Surface& working, const TvcMode& mode)
{
    TvcPicture picture;
    picture.mode = &mode;
    picture.registers = PaletteRegistersOf(mode);
    PackVram(working, mode, picture.vram);
    return picture;
}

TvcPicture PictureFromWorkingLines(const platform::Surface& working, const TvcMode& mode)
{
    if (mode.palette.size() > 4)
        throw std::invalid_argument(
            mode.QuotedCaption() + " has no palette registers to rewrite from line to line");
    TvcPicture picture;
    picture.mode = &mode;
    std::vector<std::vector<PaletteEntry>> palettes;
    for (const LineColours& colours : LineRegisterColours(working, mode)) {
        PaletteRegisters registers = PaletteRegistersOf(mode);
        for (size_t r = 0; r < mode.palette.size(); ++r)
            registers[r] = RegisterValue(colours[r]);
        picture.lineRegisters.push_back(registers);
        palettes.push_back(PaletteOfColours(std::span(colours).first(mode.palette.size())));
    }
    if (!picture.lineRegisters.empty())
        picture.registers = picture.lineRegisters.front();
    PackVramLines(working, mode, picture.vram, palettes);
    return picture;
}

std::vector<uint8_t> KepBytes(const TvcPicture& picture)
{
    CheckPicture(picture);
    // In "Graphics 16" registers are not shown, so only the plain form is needed.
    if (!picture.lineRegisters.empty() && picture.mode->bitsPerPixel < 4)
        return ExtendedKepBytes(picture);
    std::vector<uint8_t> bytes { 'K', 'E', 'P', ModePortValue(*picture.mode) };
    bytes.insert(bytes.end(), picture.registers.begin(), picture.registers.end());
    bytes.insert(bytes.end(), picture.vram.begin(), picture.vram.end());
    return bytes;
}

std::vector<uint8_t> CasBytes(std::span<const uint8_t> code, std::span<const uint8_t> data)
{
    const std::vector<uint8_t> basic = BasicLine();
    if (kProgramLoadAddress + basic.size() != kCodeAddress)
        throw std::logic_error("the BASIC line does not end where the code starts");
    const size_t programBytes = basic.size() + code.size() + data.size();
    if (programBytes > 0xFFFF)
        throw std::length_error("a TVC program holds at most 65535 bytes, this one needs "
            + std::to_string(programBytes));
    std::vector<uint8_t> file(kCasHeaderBytes, 0);
    const size_t fileBytes = kCasHeaderBytes + programBytes;
    file[0x00] = 0x11; // a plain (unbuffered) file
    file[0x01] = 0x00; // not copy-protected
    PutWord(&file[0x02], fileBytes / 128);
    file[0x04] = uint8_t(fileBytes % 128);
    file[0x80] = 0x00;
    file[0x81] = 0x01; // a program
    PutWord(&file[0x82], programBytes);
    file[0x84] = 0xFF; // started once loaded
    file.reserve(fileBytes);
    file.insert(file.end(), basic.begin(), basic.end());
    file.insert(file.end(), code.begin(), code.end());
    file.insert(file.end(), data.begin(), data.end());
    return file;
}

std::vector<uint8_t> PictureCasBytes(const TvcPicture& picture)
{
    CheckPicture(picture);
    std::vector<uint8_t> data { ModePortValue(*picture.mode) };
    data.insert(data.end(), picture.registers.begin(), picture.registers.end());
    data.push_back(kBorderColour);
    data.insert(data.end(), picture.vram.begin(), picture.vram.end());
    if (picture.lineRegisters.empty())
        return CasBytes(ShowPictureCode(), data);
    CheckLineRegisters(picture);
    const std::vector<uint8_t> table = LineTable(picture.lineRegisters);
    data.insert(data.end(), table.begin(), table.end());
    return CasBytes(ShowPictureLinesCode(), data);
}

LineRoutines ShowPictureLinesRoutines()
{
    // The program lists them in its last bytes, just before the settings.
    const std::span<const uint8_t> code = kShowPictureLines;
    const size_t at = code.size() - 2 * (kMaxRegisterChanges + 2);
    LineRoutines routines {};
    for (size_t k = 0; k < routines.byChanges.size(); ++k)
        routines.byChanges[k] = WordAt(code, at + 2 * k);
    routines.fieldEnd = WordAt(code, at + 2 * routines.byChanges.size());
    return routines;
}

std::span<const uint8_t> ShowPictureCode() { return kShowPicture; }
std::span<const uint8_t> ShowPictureLinesCode() { return kShowPictureLines; }
std::span<const uint8_t> PlayClipCode() { return kPlayClip; }

bool IsTvcPictureExtension(std::string_view extension)
{
    return extension == ".kep" || extension == ".cas";
}

void WriteTvcPictureFile(
    const std::string& path, const platform::Surface& working, const TvcMode& mode)
{
    const std::string extension = platform::LowerExtension(path);
    if (!IsTvcPictureExtension(extension))
        throw std::invalid_argument(
            "'" + path + "' is neither a .kep picture nor a .cas program file");
    const TvcPicture picture = PictureFromWorking(working, mode);
    const std::vector<uint8_t> bytes
        = extension == ".kep" ? KepBytes(picture) : PictureCasBytes(picture);
    picture_file::WriteFileWhole(path, bytes);
}

} // namespace pelorin::tvc
