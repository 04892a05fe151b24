#pragma once
// The noise of "Treshold+Noise" worked out many draws side by side in vector lanes, a block of
// pixels at a time, on the instruction set cpu_dispatch.h chooses; the plain path draws byte
// after byte. Internal to dither/: threshold_noise.cpp and threshold_noise_steady.cpp use it.
//
// Draw k after a state s is the finaliser of s + (k + 1)·step (noise_generator.h), so each draw is
// worked out on its own, in the order of the buffer's bytes: byte 3i + o (o = 0 blue, 1 green,
// 2 red) takes draw 3i + 2 − o, red being drawn first.
#include "cpu_dispatch.h"

#include <cstddef>
#include <cstdint>

namespace pelorin {

constexpr size_t kBlockPixels = 64;
constexpr size_t kBlockBytes = 3 * kBlockPixels;
static_assert(kBlockBytes % 8 == 0, "a block is worked 8 bytes at a time");

// Noises `count` bytes (a whole number of pixels, at most a block) in place: with `drawn` null,
// byte m with draw m's numbers after `state` as above; else each pixel with the numbers of its
// last draw, drawn[pixel] being the generator's state before it (byte 3j + o draws 2 − o after
// drawn[j]).
using NoiseBlockFn = void (*)(
    uint8_t* bytes, size_t count, uint64_t state, const uint64_t* drawn, uint8_t amplitude);

// The block noise of `path`.
NoiseBlockFn NoiseBlockFor(CpuPath path);

// For the tests: AddNoiseBits (noise_generator.h) as the lanes work it out, in one of eight lanes.
uint8_t AddNoiseBitsInLanes(uint8_t channel, uint8_t amplitude, uint32_t bits);

// Eight values side by side. The vector types compile to whatever lanes the function's
// instruction set offers, so every instruction set computes the very same numbers. Vectors are
// passed by reference between functions, never by value, so no call depends on how an
// instruction set would pass them.
using U64x8 = uint64_t __attribute__((vector_size(64)));
using U32x8 = uint32_t __attribute__((vector_size(32)));
using I32x8 = int32_t __attribute__((vector_size(32)));
using U8x8 = uint8_t __attribute__((vector_size(8)));
using U8x16 = uint8_t __attribute__((vector_size(16)));
using U8x32 = uint8_t __attribute__((vector_size(32)));
using U64x4 = uint64_t __attribute__((vector_size(32)));

} // namespace pelorin
