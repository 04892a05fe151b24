#pragma once
// Which instruction set dither/'s fast paths run on, decided here and nowhere else: once, from
// what the processor offers, unless a test forces a path (ScopedCpuPath) to check it against the
// plain reference. Every path gives exactly the bytes of every other; only the speed differs.
#include <vector>

namespace pelorin {

// In order of width; a path may use what the narrower ones use.
enum class CpuPath {
    // The plain reference code of error diffusion and of the noise: pixel after pixel as the
    // contracts state it, portable, slow. The tests' reference, and what a build without a fast
    // path runs.
    Plain,
    // The fast scans on the build's own instruction set (SSE2 on x86-64): 16-byte row updates
    // for error diffusion, the noise lanes as the compiler lays them out for it.
    Baseline,
    // AVX2: 32-byte row updates for error diffusion, noise lanes with byte shuffles.
    Avx2,
    // AVX-512 (F, DQ, VL, BW): noise lanes with 64-bit multiplies in one instruction.
    Avx512,
};

// The widest path the build and the processor can run; detected once.
CpuPath WidestCpuPath();

// Whether `path` can run here: it is no wider than WidestCpuPath().
bool CanRun(CpuPath path);

// Every path that can run here, narrowest first: what a test of the fast paths goes through.
std::vector<CpuPath> RunnableCpuPaths();

// "plain", "baseline", "avx2", "avx512": for test messages.
const char* CpuPathName(CpuPath path);

// The path conversions take now: WidestCpuPath(), or the one a ScopedCpuPath forces. Each
// conversion reads it once, at its start.
CpuPath ActiveCpuPath();

// For the tests: while it lives, conversions take `path`, which must satisfy CanRun; the path
// before comes back when it ends. Scopes nest. Not meant for a time when conversions run on
// other threads: they would pick up the forced path at their next start.
class ScopedCpuPath {
public:
    explicit ScopedCpuPath(CpuPath path);
    ~ScopedCpuPath();
    ScopedCpuPath(const ScopedCpuPath&) = delete;
    ScopedCpuPath& operator=(const ScopedCpuPath&) = delete;

private:
    int m_previous;
};

} // namespace pelorin
