#include "counter.h"

#include <chrono>
#include <ratio>

namespace platform {

namespace {
    std::function<int64_t()> g_count;
    int64_t g_frequency = 0;
} // namespace

void QueryPerformanceCounter(int64_t* count)
{
    if (!count)
        return;
    if (g_count) {
        *count = g_count();
        return;
    }
    *count = std::chrono::steady_clock::now().time_since_epoch().count();
}

void QueryPerformanceFrequency(int64_t* frequency)
{
    if (!frequency)
        return;
    if (g_count) {
        *frequency = g_frequency;
        return;
    }
    using Period = std::chrono::steady_clock::period;
    *frequency = Period::den / Period::num;
}

void SetCounterSource(std::function<int64_t()> count, int64_t frequency)
{
    g_count = std::move(count);
    g_frequency = frequency;
}

void ResetCounterSource()
{
    g_count = nullptr;
    g_frequency = 0;
}

} // namespace platform
