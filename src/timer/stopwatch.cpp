#include "stopwatch.h"

#include "platform/counter.h"
#include "platform/runtime_error.h"

#include <cmath>

namespace pelorin {

namespace {
    int64_t StartCount = 0;
    int64_t CounterFrequency = 0;
    int64_t StopCount = 0;
} // namespace

void StopwatchStart()
{
    platform::QueryPerformanceCounter(&StartCount);
    platform::QueryPerformanceFrequency(&CounterFrequency);
}

int32_t StopwatchElapsedMs()
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

StopwatchReadings StopwatchState() { return { StartCount, CounterFrequency, StopCount }; }

void StopwatchReset() { StartCount = CounterFrequency = StopCount = 0; }

} // namespace pelorin
