#pragma once
// Files the TVC itself loads: the .kep picture file and the .cas program file that shows one
// picture. Both carry a picture as the machine holds it — mode, the four palette registers and
// the 15,360 bytes of video memory (pipeline/vram.h).
//
// A palette register holds a TVC colour as convert/tvc_colours.h describes; a "Graphics 16"
// pixel holds its colour number directly. In "Graphics 2" and "Graphics 4" a pixel's palette
// index picks a register.
//
// .kep: "KEP", a flag byte with the mode in bits 1-0 (0 two colours, 1 four, 2 sixteen; the
// other bits 0), the four palette registers, then the video memory: 15,368 bytes. A picture
// with registers per line is written in the extended form instead (kep_extended.h).
//
// .cas: a 128-byte file header (11h for a plain file, the length in 128-byte blocks and the
// bytes of a last partial block, the headers counted), a 16-byte program header (01h program,
// the program's length, FFh to start it after loading), then the program, which loads at 19EFh:
// the BASIC line "1 X=USR(6655)" and the Z80 code it calls at 19FFh, followed by the code's data.
#include "pipeline/line_palettes.h"
#include "pipeline/tvc_mode.h"
#include "pipeline/vram.h"
#include "platform/surface.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pelorin::tvc {

constexpr uint16_t kProgramLoadAddress = 0x19EF;
constexpr uint16_t kCodeAddress = 0x19FF; // where the BASIC line's USR call goes
constexpr size_t kCasHeaderBytes = 128 + 16;
constexpr size_t kKepBytes = 8 + kVramFrameBytes;
constexpr uint8_t kBorderColour = 0x00; // black

using PaletteRegisters = std::array<uint8_t, 4>;


struct TvcPicture {
    const TvcMode* mode = nullptr;
    PaletteRegisters registers {};
    std::vector<uint8_t> vram; // kVramFrameBytes
    // Empty: `registers` hold for every line. Otherwise the registers of each of the 240 lines
    // (the first equal to `registers`), each differing from the line before in at most
    // kMaxRegisterChanges registers.
    std::vector<PaletteRegisters> lineRegisters;
};

// The palette registers that show `mode`'s palette: its first four entries' colours (in
// "Graphics 16" the pixels carry their colours themselves and the registers are not shown).
PaletteRegisters PaletteRegistersOf(const TvcMode& mode);
// The value written to port 06h for `mode`: the mode in bits 1-0, the other bits 0.
uint8_t ModePortValue(const TvcMode& mode);

// A working picture (the mode's working size, every pixel a colour of the mode's palette) as
// the machine holds it with Pelorin's palette. Throws std::invalid_argument as PackVram does.
TvcPicture PictureFromWorking(const platform::Surface& working, const TvcMode& mode);
// The same for a working picture whose lines each show colours of their own ("Graphics 2" or
// "Graphics 4", converted with registers chosen per line): the registers of every line follow
// from its pixels (pipeline/line_palettes.h). Throws std::invalid_argument for a line of more
// colours than the mode has registers, or a picture that is not a working picture of the mode.
TvcPicture PictureFromWorkingLines(const platform::Surface& working, const TvcMode& mode);

std::vector<uint8_t> KepBytes(const TvcPicture& picture);

// The BASIC program (line and end mark) followed by `code` and `data`, as a complete .cas file.
// Throws std::length_error when the program is longer than 65,535 bytes.
std::vector<uint8_t> CasBytes(std::span<const uint8_t> code, std::span<const uint8_t> data);

// The .cas program that shows `picture` and waits for a key; it ends below 8000h, so it runs on
// a 32K TVC. A picture with `lineRegisters` gets the program that rewrites the registers before
// each line that changes them, every field; it must be in "Graphics 2" or "Graphics 4" and keep
// to kMaxRegisterChanges (else std::invalid_argument).
std::vector<uint8_t> PictureCasBytes(const TvcPicture& picture);

// The program for registers per line finds each line's routine in a table after the video
// memory: the routine's address (one for each number of registers it writes, 0 to
// kMaxRegisterChanges), then a port and a value for each register; after line 239's,
// the address that ends the field.
struct LineRoutines {
    std::array<uint16_t, kMaxRegisterChanges + 1> byChanges;
    uint16_t fieldEnd;
};
LineRoutines ShowPictureLinesRoutines();
// Where the line table starts in the program after the code: the settings and video memory.
constexpr size_t kLineTableOffset = 6 + kVramFrameBytes;
constexpr uint8_t kFirstPalettePort = 0x60;

// The Z80 programs built into the library (assembled for kCodeAddress).
std::span<const uint8_t> ShowPictureCode();
std::span<const uint8_t> ShowPictureLinesCode();
std::span<const uint8_t> PlayClipCode();

// Whether a file name's extension (lower case, with the dot) is one of the TVC's own files.
bool IsTvcPictureExtension(std::string_view extension); // ".kep" or ".cas"

// Writes `working` in `mode` as a .kep or a .cas (by the extension of `path`, in any letter case),
// complete or not at all. For the window's "Save picture…". Throws std::invalid_argument for a
// picture that is not a working picture of the mode or a name of another kind, and
// picture_file::FileError when the file cannot be written.
void WriteTvcPictureFile(
    const std::string& path, const platform::Surface& working, const TvcMode& mode);

} // namespace pelorin::tvc
