#pragma once
// The high-resolution counter: a monotonic count and its fixed rate in counts per second
// (std::chrono::steady_clock underneath). Tests may put a counter of their own in its place.
#include <cstdint>
#include <functional>

namespace platform {

void QueryPerformanceCounter(int64_t* count);
void QueryPerformanceFrequency(int64_t* frequency);

// Replaces the counter and the rate until ResetCounterSource(); for tests.
void SetCounterSource(std::function<int64_t()> count, int64_t frequency);
void ResetCounterSource();

} // namespace platform
