#pragma once
// The extended .kep, the form the other TVC converter (epimgconv) writes when a picture needs
// more than the plain file says: registers that change from line to line, another size, a
// border colour, compression.
//
// The flag byte: bits 1-0 the mode as in the plain form; bit 2 run-length compression (bit 4
// clear) or, with bit 4, one of epimgconv's LZ methods named by bits 3-2; bit 3 an extended
// header without compression; bit 5 registers per line (not in "Graphics 16"); bit 6 two
// interlaced fields; bit 7 written along with bits 4, 5 or 6 and otherwise meaningless. Any of
// bits 4-2 set means the 16-byte header:
//   0-3   "KEP" and the flag byte
//   4-7   the four registers, used when there are none per line
//   8-9   width in pixels of the mode (512 in "Graphics 2", 256, 128), low byte first
//   10-11 height in lines (both fields counted when interlaced), low byte first
//   12    border colour, in the odd bits
//   13    reserved
//   14-15 the compressed size of the per-line registers (LZ methods only)
// Then the registers per line, if any: each line's first two (in "Graphics 2") or four
// registers, line after line; in run-length files they are never compressed. Then the video
// memory of the picture, line after line, each line as many bytes as the width holds.
//
// Run-length data is a stream of bytes with a current marker, 0 to 3, starting at 0: a byte
// whose top two bits are not the marker is itself; one whose top bits are the marker is a count
// n (its low six bits, 1 to 63) and the byte after it is repeated n times; a count of 1 also
// moves the marker on by one (3 wraps to 0).
#include "tvc_files.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pelorin::tvc {

constexpr size_t kKepExtendedHeaderBytes = 16;
// The longest .kep read: twice the video memory (run-length data that never repeats a byte
// spends two bytes on some) and registers of four bytes per line, rounded up generously.
constexpr size_t kMostKepBytes = 64 * 1024;

// Whether a .kep flag byte announces the extended header.
constexpr bool IsExtendedKepFlag(uint8_t flag) { return (flag & 0x1C) != 0; }

// The picture of an extended .kep (`bytes` the whole file, its flag byte extended): one, or
// the two fields of an interlaced picture, which the machine shows in turn. A picture narrower
// or lower than the screen stands at its top left, the rest of the video memory 0 and the lines
// below it keeping the last line's registers. Throws TvcFileError naming `name` and what the
// file holds for what cannot be shown: a picture larger than the screen, the "-m0" and zlib
// methods, and any data that is cut short or does not decode.
std::vector<TvcPicture> ReadExtendedKep(std::span<const uint8_t> bytes, const std::string& name);

// The extended .kep of `picture` with its registers per line, its video memory run-length
// compressed as epimgconv reads it. `picture` must have lineRegisters and a mode of 2 or 4
// colours.
std::vector<uint8_t> ExtendedKepBytes(const TvcPicture& picture);

// `data` run-length compressed as above; a run never crosses a line of `lineBytes` bytes.
std::vector<uint8_t> KepRunLengthBytes(std::span<const uint8_t> data, size_t lineBytes);

} // namespace pelorin::tvc
