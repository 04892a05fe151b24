#pragma once
// The eight error-diffusion kernels as data, one row per method, checked at compile time:
// weights sum to the divisor (Atkinson's 6 of 8 on purpose), no entry points at a pixel the
// scan has visited, every reach stays inside the border and the guard rows. Internal to dither/.
#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

namespace pelorin {

struct KernelEntry {
    int dx; // pixels to the right (negative: left)
    int dy; // rows down
    int weight;
};

struct DiffusionKernel {
    std::string_view routineName;
    int divisor;
    int entryCount;
    std::array<KernelEntry, 12> entries; // the first entryCount, in update order
    int guardRows; // G: the scan covers buffer rows G ... H − 1 − G
    bool padBorders; // whether the border is filled from the picture's edges before the scan
};

// The order of kDiffusionKernels.
enum class DiffusionMethod {
    Atkinson,
    Floyd,
    Sierra,
    Burkes,
    Stucki,
    Jarvis,
    SierraLite,
    Sierra2Row
};
constexpr int kDiffusionMethodCount = 8;

// clang-format off
inline constexpr std::array<DiffusionKernel, kDiffusionMethodCount> kDiffusionKernels { {
    { "DitherAtkinson", 8, 6,
        { { { 1, 0, 1 }, { 2, 0, 1 },
            { -1, 1, 1 }, { 0, 1, 1 }, { 1, 1, 1 },
            { 0, 2, 1 } } },
        2, false },
    { "DitherFloyd", 16, 4,
        { { { 1, 0, 7 },
            { -1, 1, 3 }, { 0, 1, 5 }, { 1, 1, 1 } } },
        2, true },
    { "DitherSierra", 32, 10,
        { { { 1, 0, 5 }, { 2, 0, 3 },
            { -2, 1, 2 }, { -1, 1, 4 }, { 0, 1, 5 }, { 1, 1, 4 }, { 2, 1, 2 },
            { -1, 2, 2 }, { 0, 2, 3 }, { 1, 2, 2 } } },
        4, true },
    { "DitherBurkes", 32, 7,
        { { { 1, 0, 8 }, { 2, 0, 4 },
            { -2, 1, 2 }, { -1, 1, 4 }, { 0, 1, 8 }, { 1, 1, 4 }, { 2, 1, 2 } } },
        2, true },
    { "DitherStucki", 42, 12,
        { { { 1, 0, 8 }, { 2, 0, 4 },
            { -2, 1, 2 }, { -1, 1, 4 }, { 0, 1, 8 }, { 1, 1, 4 }, { 2, 1, 2 },
            { -2, 2, 1 }, { -1, 2, 2 }, { 0, 2, 4 }, { 1, 2, 2 }, { 2, 2, 1 } } },
        4, true },
    { "DitherJarvis", 48, 12,
        { { { 1, 0, 7 }, { 2, 0, 5 },
            { -2, 1, 3 }, { -1, 1, 5 }, { 0, 1, 7 }, { 1, 1, 5 }, { 2, 1, 3 },
            { -2, 2, 1 }, { -1, 2, 3 }, { 0, 2, 5 }, { 1, 2, 3 }, { 2, 2, 1 } } },
        4, true },
    { "DitherSierraLite", 4, 3,
        { { { 1, 0, 2 },
            { -1, 1, 1 }, { 0, 1, 1 } } },
        2, true },
    { "DitherSierra2Row", 16, 7,
        { { { 1, 0, 4 }, { 2, 0, 3 },
            { -2, 1, 1 }, { -1, 1, 2 }, { 0, 1, 3 }, { 1, 1, 2 }, { 2, 1, 1 } } },
        2, true },
} };
// clang-format on

constexpr const DiffusionKernel& KernelOf(DiffusionMethod method)
{
    return kDiffusionKernels[static_cast<size_t>(method)];
}

// The border width of the buffer every kernel runs on.
constexpr int kDiffusionBorder = 4;

namespace kernel_checks {

// ---- Compile-time checks of the kernel table -------------------------------------------

constexpr int WeightSum(const DiffusionKernel& k)
{
    int sum = 0;
    for (int i = 0; i < k.entryCount; ++i)
        sum += k.entries[size_t(i)].weight;
    return sum;
}

// Every entry must point at a pixel the scan has not reached yet: later in the same row, or
// in a row below.
constexpr bool OnlyUnvisitedNeighbours(const DiffusionKernel& k)
{
    for (int i = 0; i < k.entryCount; ++i) {
        const KernelEntry& e = k.entries[size_t(i)];
        if (e.dy < 0 || (e.dy == 0 && e.dx <= 0))
            return false;
    }
    return true;
}

// Sideways reach must stay inside the border (so wrapped offsets land in border columns),
// and downward reach inside the guard rows (so the last scanned row's updates stay inside
// the buffer).
constexpr bool ReachWithinBorder(const DiffusionKernel& k)
{
    for (int i = 0; i < k.entryCount; ++i) {
        const KernelEntry& e = k.entries[size_t(i)];
        if (e.dx < -kDiffusionBorder || e.dx > kDiffusionBorder || e.dy > k.guardRows)
            return false;
    }
    return k.guardRows <= kDiffusionBorder;
}

constexpr bool DistinctPositions(const DiffusionKernel& k)
{
    for (int i = 0; i < k.entryCount; ++i)
        for (int j = i + 1; j < k.entryCount; ++j)
            if (k.entries[size_t(i)].dx == k.entries[size_t(j)].dx
                && k.entries[size_t(i)].dy == k.entries[size_t(j)].dy)
                return false;
    return true;
}

constexpr bool TableIsSound()
{
    for (const DiffusionKernel& k : kDiffusionKernels) {
        const bool atkinson = k.routineName == "DitherAtkinson";
        // Atkinson deliberately passes on only 6 eighths of the error.
        if (WeightSum(k) != (atkinson ? 6 : k.divisor))
            return false;
        if (atkinson && k.divisor != 8)
            return false;
    }
    return true;
}

static_assert(TableIsSound(), "weights must sum to the divisor (Atkinson: 6 of 8)");
static_assert(
    std::all_of(kDiffusionKernels.begin(), kDiffusionKernels.end(), OnlyUnvisitedNeighbours),
    "a kernel entry points at a pixel the scan has already visited");
static_assert(
    std::all_of(kDiffusionKernels.begin(), kDiffusionKernels.end(), ReachWithinBorder),
    "a kernel reaches beyond the border or the guard rows");
static_assert(
    std::all_of(kDiffusionKernels.begin(), kDiffusionKernels.end(), DistinctPositions),
    "a kernel names one neighbour twice");
static_assert(KernelOf(DiffusionMethod::Floyd).routineName == "DitherFloyd"
        && KernelOf(DiffusionMethod::Sierra2Row).routineName == "DitherSierra2Row",
    "kDiffusionKernels must follow the order of DiffusionMethod");

} // namespace kernel_checks

} // namespace pelorin
