#pragma once
// The sixteen conversion methods, in Option1 index order. The window's dispatch, the
// command-line tool's method names and the benchmarks all read this one table.
#include "platform/picture_box.h"

#include <array>
#include <string_view>

namespace pelorin {

struct Method {
    int index; // the Option1 index, 1 ... 16
    std::string_view caption; // exactly as the window shows it ("Treshold", "Burkles", ...)
    std::string_view routineName; // "DitherAtkinson", ...
    // Runs the routine on (destination, source) with its extra arguments bound
    // ("Treshold": 128; "Treshold+Noise": 128 and 30).
    void (*routine)(platform::PictureBox& destination, platform::PictureBox& source);
    bool thenMapToPalette; // the pipeline follows the routine with MapToPalette
};

constexpr int kMethodCount = 16;

// Index 1 first.
const std::array<Method, kMethodCount>& Methods();

// Null when index is outside 1 ... 16.
const Method* FindMethod(int index);

// Runs method `index` on `picture` as the frame pipeline does: the routine with the picture as
// destination and source, then MapToPalette(picture, picture) where the table says so.
// Throws std::out_of_range for an index outside 1 ... 16.
void RunMethod(int index, platform::PictureBox& picture);

} // namespace pelorin
