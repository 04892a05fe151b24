#pragma once
// The picture as the video chip's beam draws it from a run in the TVC model: which palette
// registers each shown line is drawn with, given the cycle of every port write. A register
// write while a line is being shown would change colours in the middle of it, so a write inside
// a visible part (or within a character of it) is a fault of the program that made it.
//
// The geometry, from the video chip's set-up by the system (6845: 314 lines of 200 cycles, 240
// shown, the cursor's interrupt at the end of line 239) as tvc-hardware.md describes it.
#include "tvc/testing/tvc_machine.h"
#include "tvc/tvc_files.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pelorin::tvc::test {

// A line: 64 characters of 2 cycles shown, then the horizontal blanking and the border.
constexpr uint64_t kLineCycles = 200;
constexpr uint64_t kVisibleCycles = 128;
constexpr uint64_t kShownLines = 240;
// The flag comes at the end of line 239; the 74 lines of the vertical blanking and the border
// pass before line 0 is shown again: 314 lines in all, kFieldCycles.
constexpr uint64_t kFirstLineAfterFlag = 74 * kLineCycles;
static_assert(kFirstLineAfterFlag + kShownLines * kLineCycles == TvcMachine::kFieldCycles);
// A write this close to a visible part may already (or still) be seen by the beam: one
// character.
constexpr uint64_t kGuardCycles = 2;

struct BeamField {
    std::vector<PaletteRegisters> lineRegisters; // kShownLines sets, as each line is drawn
    std::vector<std::string> problems; // palette writes the beam would show mid-line
    int mostWritesInLine = 0; // palette writes in one horizontal blanking
    int writesBetweenLines = 0; // palette writes in all the horizontal blankings
    // The least distance of a write in a horizontal blanking from the guarded visible parts
    // either side; -1 when there was none.
    int64_t leastSlackCycles = -1;
};

// The field whose flag comes at `flagCycle`: each shown line is drawn with the registers in
// force when its visible part starts, from the palette writes (ports 60h-63h) in `writes` (in
// cycle order; those before the field set the registers it starts with, from `initial`).
BeamField TraceField(std::span<const TvcMachine::PortWrite> writes, uint64_t flagCycle,
    const PaletteRegisters& initial = {});

} // namespace pelorin::tvc::test
