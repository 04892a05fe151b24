#pragma once
// The state one conversion works on, owned by its caller: the palette table, the nearest-colour
// table that answers for it, the working buffer's storage kept from one conversion to the next,
// the noise generator of "Treshold+Noise" and the stopwatch that times a frame.
//
// One context converts one picture at a time. Two contexts share nothing they write, so two
// threads may convert at once, each on its own context, and get the bytes they would get one
// after the other. The program's window uses exactly one context, ProgramContext(); the names the
// conversion core has always had (`Palette`, SetPalette16, DitherFloyd, MapToPalette, ...) work
// on it.
#include "palette.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace pelorin {

class NearestColorTable;

// What steady dithering remembers of the last frame a context converted with it, so that the
// next frame can keep to the same pattern. It continues only from the frame just before, in the
// same mode, by the same method, at the same picture size; anything else converts as without it.
struct SteadyMemory {
    struct Key {
        int mode = 0; // the TVC mode's number
        int method = 0; // 1 ... 16
        int width = 0; // the working picture, pixels
        int height = 0;
        bool operator==(const Key&) const = default;
    };
    bool valid = false;
    Key key;
    int64_t frame = 0; // the frame number the caller gave for that conversion
    // The working buffer as the method left it (before MapToPalette), `leftBytes` long in
    // storage of `leftCapacity`: the working bitmap's own storage, taken over rather than copied
    // (WorkingBitmap::LeaveFor). Error diffusion and the screens keep it here.
    std::unique_ptr<uint8_t[]> left;
    size_t leftCapacity = 0;
    size_t leftBytes = 0;
    // What was left for a buffer of `size` bytes, or null.
    const uint8_t* Left(size_t size) const { return leftBytes == size ? left.get() : nullptr; }
    // "Treshold+Noise": its output for the frame, kept as it is written.
    std::vector<uint8_t> result;
    // Error diffusion: the working buffer as it was before the scan, and a bit per byte for
    // whether that moved from the frame before's (worked out afresh each frame).
    std::vector<uint8_t> input;
    std::vector<uint8_t> moved;
    // "Treshold+Noise": per buffer pixel, the unreduced colour its output was drawn from, and
    // the generator's state before the three noise numbers of that draw.
    std::vector<uint8_t> source;
    std::vector<uint64_t> noise;

    void Forget() { valid = false; }
    // Whether a conversion of `frame` under `key` follows on from what is remembered.
    bool Continues(const Key& next, int64_t nextFrame) const
    {
        return valid && key == next && frame < INT64_MAX && frame + 1 == nextFrame;
    }
};

// The generator of "Treshold+Noise" starts here in every context and in every run.
inline constexpr uint64_t kNoiseStartState = 0x5EEDF00DULL;

class ConversionContext {
public:
    constexpr ConversionContext() = default;
    ~ConversionContext();
    ConversionContext(const ConversionContext&) = delete;
    ConversionContext& operator=(const ConversionContext&) = delete;

    // The palette table: the colours of the mode in use, replaced whole by each palette load.
    std::vector<PaletteEntry> palette;

    // The nearest-colour table for the current `palette`. Tables are built once per distinct
    // palette for the whole process and shared read-only, so a palette reload per frame costs a
    // comparison. Throws platform::RuntimeError (subscript out of range) for an empty palette.
    const NearestColorTable& NearestTable();

    // The noise generator's state: a counter stepped once per number drawn.
    uint64_t noiseState = kNoiseStartState;

    // Steady dithering's memory of the frame before; untouched unless the option is on.
    SteadyMemory steady;

    // Storage of the last working buffer, kept for the next conversion: every frame needs a
    // buffer of the same size, and fresh memory costs page faults each time.
    std::unique_ptr<uint8_t[]> spareBuffer;
    size_t spareBytes = 0;

private:
    std::shared_ptr<const NearestColorTable> m_table;
};

// The program's one context.
ConversionContext& ProgramContext();

} // namespace pelorin
