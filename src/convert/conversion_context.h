#pragma once
// The state one conversion works on, owned by its caller: the palette table, the nearest-colour
// table that answers for it, the working buffer's storage kept from one conversion to the next
// and the noise generator of "Treshold+Noise". What steady dithering keeps from frame to frame is
// dither/'s (dither/steady_history.h), held by the caller beside the context.
//
// One context converts one picture at a time. Two contexts share nothing they write, so two
// threads may convert at once, each on its own context, and get the bytes they would get one
// after the other. The program's window uses exactly one context, ProgramContext(); the names the
// conversion core has always had (`Palette`, SetPalette16, DitherFloyd, MapToPalette, ...) work
// on it.
#include "palette.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

namespace pelorin {

class NearestColorTable;

// Thrown from inside a conversion broken off by its context's stop request.
class ConversionStopped : public std::runtime_error {
public:
    ConversionStopped()
        : std::runtime_error("the conversion was stopped")
    {
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

    // Storage of the last working buffer, kept for the next conversion: every frame needs a
    // buffer of the same size, and fresh memory costs page faults each time.
    std::unique_ptr<uint8_t[]> spareBuffer;
    size_t spareBytes = 0;
    // A request to break a long conversion off, read between rows (relaxed: it only has to be
    // seen soon); once it is set, the routine that sees it throws ConversionStopped and the
    // picture is left half converted. Null (the window's context): conversions always finish.
    const std::atomic<bool>* stopRequest = nullptr;

private:
    std::shared_ptr<const NearestColorTable> m_table;
};

// The program's one context.
ConversionContext& ProgramContext();

} // namespace pelorin
