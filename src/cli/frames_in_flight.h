#pragma once
// How many frames a run holds at once, and on how many threads it converts them: a function of
// the frame's size, the cores and a memory budget, never of --threads alone.
//
// A parallel run with C converters holds 2·C + 2 frames (every converter has one while one is
// decoded and one is written), C working buffers, and what the reader and writer keep
// (FrameCost). C is at most what --threads asks, kConvertersPerCore per core and the number of
// frames, and is lowered until the whole fits the budget; a serial run holds one frame. A run
// whose single frame does not fit is refused before any work.
#include <cstdint>

namespace pelorin::cli {

// Converters beyond this many per core only wait for a core, holding frames meanwhile.
constexpr int kConvertersPerCore = 2;

// The memory one run needs, in bytes.
struct FrameCost {
    uint64_t fixedBytes = 0; // the reader, the writer and the run's own pictures, once
    uint64_t frameBytes = 0; // one frame in flight: its picture and what is converted from it
    uint64_t converterBytes = 0; // one converter's working storage
    uint64_t serialFrameBytes = 0; // the one frame of a serial run, which converts in place
};

// The cost of converting frames of `frameWidth` × `frameHeight` (the picture each frame is
// converted at: the working picture, or with --keep-size the frame's own size) decoded from a
// video of `sourceWidth` × `sourceHeight`, written by a writer that keeps `writerBytesPerPixel`
// bytes per pixel of the written picture (`writtenPixels`). An estimate from the pictures the
// run allocates and from measured peaks, somewhat above them.
FrameCost EstimateFrameCost(int sourceWidth, int sourceHeight, int frameWidth, int frameHeight,
    bool keepSize, uint64_t writtenPixels, int writerBytesPerPixel);

struct FramesInFlight {
    int converters = 1; // 1: serial, one frame at a time
    int frames = 1; // frames held at once
    uint64_t bytes = 0; // the estimate for the whole run
};

// The plan for a run of `frameCount` frames. `requestedThreads` is --threads (0: one per core),
// `cores` ≥ 1. Returns the largest plan that fits `budgetBytes`; throws CliError (1) naming the
// frame size, the memory a frame needs and the budget when not even the serial plan fits.
FramesInFlight PlanFramesInFlight(int requestedThreads, int cores, int64_t frameCount,
    const FrameCost& cost, uint64_t budgetBytes, int frameWidth, int frameHeight);

// What choosing palette registers holds beside the run's own pictures, for frames of
// `frameWidth` × `frameHeight`: the frames it looks at, their reduced copies, and one conversion
// with its faithfulness figure at a time.
uint64_t PaletteSearchBytes(int frameWidth, int frameHeight);

// Throws CliError (1) naming the frame size, `bytes` and the budget when `bytes` exceeds it.
void CheckMemoryFits(uint64_t bytes, uint64_t budgetBytes, int frameWidth, int frameHeight);

// Half of the machine's memory, or of the process's address-space or data limit when that is
// smaller.
uint64_t DefaultMemoryBudget();

} // namespace pelorin::cli
