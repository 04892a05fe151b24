#pragma once
// The frame stopwatch: one for the whole program, not re-entrant.
#include <cstdint>

namespace pelorin {

// Takes the start reading of the high-resolution counter, then reads the counter's rate.
void StopwatchStart();

// Whole milliseconds since the last StopwatchStart, rounded halves to even. Throws
// platform::RuntimeError: division by zero before any start (the rate is still 0), overflow when
// the counter difference or the result leaves its range. Not clamped: a counter running
// backwards gives a negative number.
int32_t StopwatchElapsedMs();

// The three readings, for tests: StartCount, CounterFrequency, StopCount.
struct StopwatchReadings {
    int64_t startCount;
    int64_t counterFrequency;
    int64_t stopCount;
};
StopwatchReadings StopwatchState();
// Back to the all-zero state of program start; for tests.
void StopwatchReset();

} // namespace pelorin
