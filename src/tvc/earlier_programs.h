#pragma once
// The machine code that earlier versions of Pelorin put into their .cas files, byte for byte, so
// that files written then are still read back. Their picture program kept the same layout as
// today's; their clip player stored each frame as a wait count and plain runs of bytes, timed
// by counted cycles (the reader draws those runs; it never runs the code).
#include <cstdint>
#include <span>

namespace pelorin::tvc {

std::span<const uint8_t> EarlierShowPictureCode();
std::span<const uint8_t> EarlierPlayClipCode();

} // namespace pelorin::tvc
