#include "stopwatch.h"

#include "platform/counter.h"
#include "platform/runtime_error.h"

#include <cmath>

namespace pelorin {

namespace {
    Stopwatch g_frameStopwatch;
} // namespace

void Stopwatch::Start()
{
    platform::QueryPerformanceCounter(&StartCount);
    platform::QueryPerformanceFrequency(&CounterFrequency);
}

int32_t Stopwatch::ElapsedMs()
{
    using platform::ErrorNumber;
    using platform::RuntimeError;
    platform::QueryPerformanceCounter(&StopCount);
    int64_t d = 0;
    if (__builtin_sub_overflow(StopCount, StartCount, &d))
        throw RuntimeError(ErrorNumber::Overflow, "counter difference");
    if (CounterFrequency == 0)
        throw RuntimeError(ErrorNumber::DivisionByZero, "counter frequency is 0");
    const double ms = double(d) / double(CounterFrequency) * 1000.0;
    if (!std::isfinite(ms))
        throw RuntimeError(ErrorNumber::Overflow, "elapsed time");
    // Halves go to the even neighbour: 12.5 → 12, 13.5 → 14.
    return platform::RoundHalfEven(ms);
}

double Stopwatch::ElapsedSeconds() const
{
    return CounterFrequency == 0 ? 0.0 : double(StopCount - StartCount) / double(CounterFrequency);
}

void StopwatchStart() { g_frameStopwatch.Start(); }
int32_t StopwatchElapsedMs() { return g_frameStopwatch.ElapsedMs(); }

StopwatchReadings StopwatchState()
{
    return { g_frameStopwatch.StartCount, g_frameStopwatch.CounterFrequency,
        g_frameStopwatch.StopCount };
}

void StopwatchReset() { g_frameStopwatch = Stopwatch {}; }

} // namespace pelorin
