#pragma once
// A clip frame packed for the TVC's clip player (z80/play_clip.asm describes the commands): the
// changes that turn one screen into the next, as moves, bytes to copy, and copies from elsewhere
// on the screen. The screen is its own dictionary: a dithered picture repeats every few bytes
// and every few lines, and a moving thing looks like what it looked like a frame before, so most
// changed bytes are found on the screen already and cost 3 or 4 bytes a copy of up to 66.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <vector>

namespace pelorin::tvc {

struct PackedFrame {
    std::vector<uint8_t> bytes; // the commands, ending in 00h 00h
    std::vector<uint32_t> commandStarts; // where each command starts in `bytes`, the end mark too
};

// The commands that turn `before` into `after` (two screens of the same size, at most 15,360
// bytes). Drawn by the player, they leave exactly `after`. A copy costs the player about 200
// cycles more than bytes given as they are, so a frame short of drawing time is packed with
// copies of at least `leastCopy` bytes only (0: none at all).
PackedFrame PackFrame(
    std::span<const uint8_t> before, std::span<const uint8_t> after, size_t leastCopy = 3);

// The player's cycles for drawing a packed frame (its commands, without jumps), from the start of
// the drawing to the end mark, without any wait the video chip may add.
uint64_t DrawCycles(std::span<const uint8_t> commands);

struct PackedFrameError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Draws the frame whose commands start at `at` in `data` over `screen`, as the player does: a jump
// goes on at `jumpTarget(address)`, an offset in `data` (which throws PackedFrameError when the
// address is no place to go). Returns the offset just past the end mark. Commands that run past
// `data`, moves or copies past the screen, and more than a few jumps in one frame throw
// PackedFrameError naming what is wrong.
size_t DrawPacked(std::span<const uint8_t> data, size_t at, std::span<uint8_t> screen,
    const std::function<size_t(uint16_t)>& jumpTarget);

// Command bytes, shared with the clip builder and reader.
constexpr uint8_t kJumpCommand = 0x80;
constexpr size_t kJumpBytes = 4; // 00h 80h and the address
// A record starts with its lead byte, or with this and an address: a jump to the record.
constexpr uint8_t kRecordJump = 0xFF;
constexpr size_t kRecordJumpBytes = 3;
constexpr uint16_t kScreenAddress = 0x8000; // where the player sees the screen

} // namespace pelorin::tvc
