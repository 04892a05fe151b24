#include "cpu_dispatch.h"

#include <atomic>
#include <cassert>

namespace pelorin {

namespace {

    CpuPath Detect()
    {
#if defined(__GNUC__) && defined(__x86_64__)
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq")
            && __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw"))
            return CpuPath::Avx512;
        if (__builtin_cpu_supports("avx2"))
            return CpuPath::Avx2;
#endif
#if defined(__SSE2__)
        return CpuPath::Baseline;
#else
        return CpuPath::Plain;
#endif
    }

    // The path a ScopedCpuPath forces, or −1: none.
    std::atomic<int> g_forced { -1 };

} // namespace

CpuPath WidestCpuPath()
{
    static const CpuPath widest = Detect();
    return widest;
}

bool CanRun(CpuPath path) { return int(path) <= int(WidestCpuPath()); }

std::vector<CpuPath> RunnableCpuPaths()
{
    std::vector<CpuPath> paths;
    for (CpuPath path : { CpuPath::Plain, CpuPath::Baseline, CpuPath::Avx2, CpuPath::Avx512 })
        if (CanRun(path))
            paths.push_back(path);
    return paths;
}

const char* CpuPathName(CpuPath path)
{
    switch (path) {
    case CpuPath::Plain:
        return "plain";
    case CpuPath::Baseline:
        return "baseline";
    case CpuPath::Avx2:
        return "avx2";
    case CpuPath::Avx512:
        return "avx512";
    }
    return "?";
}

CpuPath ActiveCpuPath()
{
    const int forced = g_forced.load(std::memory_order_relaxed);
    return forced < 0 ? WidestCpuPath() : CpuPath(forced);
}

ScopedCpuPath::ScopedCpuPath(CpuPath path)
    : m_previous(g_forced.load())
{
    assert(CanRun(path));
    g_forced.store(int(path));
}

ScopedCpuPath::~ScopedCpuPath() { g_forced.store(m_previous); }

} // namespace pelorin
