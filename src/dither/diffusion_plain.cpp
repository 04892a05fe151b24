// The plain reference scan: error_diffusion_engine.h's contract written out pixel after pixel,
// with nothing arranged for speed. The fast scans (diffusion_scan.cpp) must give its bytes; it
// is what CpuPath::Plain runs and what the tests compare them with.
#include "error_diffusion_engine.h"

#include <algorithm>

namespace pelorin {

void PlainDiffuseErrors(DiffusionMethod method, uint8_t* buffer, const BufferGeometry& geometry,
    const NearestColorTable& table, const SteadyPrevious* previous, SteadyTolerance tolerance,
    const std::atomic<bool>* stop)
{
    const DiffusionKernel& k = KernelOf(method);
    const size_t stride = geometry.StrideBytes();
    const size_t begin = stride * size_t(k.guardRows);
    const size_t end = stride * size_t(geometry.H - k.guardRows);
    const auto movedAt = [&](size_t i) {
        return previous->moved && (previous->moved[i / 8] >> (i % 8) & 1) != 0;
    };
    size_t nextStopCheck = begin;
    for (size_t p = begin; p < end; p += 3) {
        if (p >= nextStopCheck) {
            if (stop && stop->load(std::memory_order_relaxed))
                throw ConversionStopped();
            nextStopCheck += stride;
        }
        const int c[3] = { buffer[p], buffer[p + 1], buffer[p + 2] };
        const uint32_t n = table.Lookup(uint8_t(c[2]), uint8_t(c[1]), uint8_t(c[0]));
        int chosen[3] = { int(n & 0xFF), int((n >> 8) & 0xFF), int(n >> 16) };
        if (previous) {
            // Steady dithering's choice (SteadyTolerance): the frame before's colour where c lies
            // at most the pixel's tolerance further from it than from the nearest colour.
            const uint8_t* before = previous->result + p;
            const int bonus = movedAt(p) || movedAt(p + 1) || movedAt(p + 2) ? tolerance.moved
                                                                            : tolerance.still;
            int dn = 0, dp = 0;
            for (int ch = 0; ch < 3; ++ch) {
                dn += (c[ch] - chosen[ch]) * (c[ch] - chosen[ch]);
                dp += (c[ch] - before[ch]) * (c[ch] - before[ch]);
            }
            if (dp - dn < 255 * bonus)
                for (int ch = 0; ch < 3; ++ch)
                    chosen[ch] = before[ch];
        }
        for (int ch = 0; ch < 3; ++ch) {
            const int q = (c[ch] - chosen[ch]) / k.divisor;
            buffer[p + size_t(ch)] = uint8_t(chosen[ch]);
            for (int i = 0; i < k.entryCount; ++i) {
                const KernelEntry& e = k.entries[size_t(i)];
                uint8_t& to = buffer[ptrdiff_t(p) + 3 * e.dx + ptrdiff_t(stride) * e.dy + ch];
                to = uint8_t(std::clamp(to + e.weight * q, 0, 255));
            }
        }
    }
}

} // namespace pelorin
