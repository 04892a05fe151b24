#pragma once
// The frame stopwatch: one for the whole program (StopwatchStart / StopwatchElapsedMs), not
// re-entrant; a conversion running beside it times itself with a Stopwatch of its own.
#include <cstdint>

namespace pelorin {

// Start and ElapsedMs behave exactly as StopwatchStart and StopwatchElapsedMs below.
struct Stopwatch {
    int64_t StartCount = 0;
    int64_t CounterFrequency = 0;
    int64_t StopCount = 0;

    void Start();
    int32_t ElapsedMs();
    // The last ElapsedMs's pair of readings without the rounding; 0 before any start.
    double ElapsedSeconds() const;
};

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
