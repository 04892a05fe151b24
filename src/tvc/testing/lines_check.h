#pragma once
// Plays a picture program whose palette registers change from line to line in the TVC model and
// checks every field it shows as the beam draws it (testing/beam.h): each line with its own
// registers, no register written while a line is shown.
#include "tvc/tvc_read.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pelorin::tvc::test {

struct LinesCheck {
    std::vector<std::string> problems; // empty when every field was right
    int fieldsChecked = 0;
    int mostWritesInLine = 0;
    double meanWritesPerLine = 0; // over the lines after the first, in every field checked
    int64_t leastSlackCycles = -1; // over every write between two lines; -1 when none
    // How long after the flag the program's clearing write came, least and most: the polling's
    // spread.
    uint64_t soonestClear = 0, latestClear = 0;
};

// Loads `cas` in a 32K model once for each first flag phase 20,000 + j (j = 0 ... phases − 1)
// and each of plain timing and video-RAM waits; lets the program take `fields` fields from the
// first flag it waits for, and compares each field's beam picture with `expected` (its video
// memory and registers per line); then presses a key and expects the program back in BASIC with
// the machine as it was.
LinesCheck PlayLinesAndCheck(
    std::span<const uint8_t> cas, const TvcFile& expected, int phases, int fields);

// A picture in `mode` ("Graphics 2" or "Graphics 4") of random video memory whose lines change
// 0, 1, 2 and kMaxRegisterChanges registers in turn, to random colours; the same for the
// same `seed`.
TvcPicture RandomLinesPicture(const TvcMode& mode, uint32_t seed);

// The file the reader makes of `picture`, without writing one.
TvcFile FileOf(const TvcPicture& picture);

} // namespace pelorin::tvc::test
