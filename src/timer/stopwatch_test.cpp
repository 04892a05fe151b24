#include "platform/counter.h"
#include "platform/runtime_error.h"
#include "timer/stopwatch.h"

#include <gtest/gtest.h>

using namespace pelorin;

namespace {
class StopwatchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        StopwatchReset();
        platform::SetCounterSource([this] { return now; }, 1'000'000);
    }
    void TearDown() override { platform::ResetCounterSource(); }
    int64_t now = 5'000'000;
};
} // namespace

TEST_F(StopwatchTest, RoundsHalvesToEven)
{
    for (auto [d, expected] : { std::pair<int64_t, int> { 12'500, 12 }, { 13'500, 14 },
             { 12'501, 13 }, { 0, 0 }, { 499, 0 }, { 500, 0 }, { 1'500, 2 } }) {
        now = 5'000'000;
        StopwatchStart();
        now += d;
        EXPECT_EQ(StopwatchElapsedMs(), expected) << d;
    }
}

TEST_F(StopwatchTest, MeasuresFromTheSameStartAndMayGoNegative)
{
    StopwatchStart();
    now += 3'000;
    const int first = StopwatchElapsedMs();
    now += 4'000;
    EXPECT_EQ(first, 3);
    EXPECT_EQ(StopwatchElapsedMs(), 7);
    EXPECT_EQ(StopwatchState().stopCount, now);
    now -= 20'000;
    EXPECT_EQ(StopwatchElapsedMs(), -13);
}

TEST_F(StopwatchTest, ErrorsInsteadOfWrongNumbers)
{
    // Before any start the rate is 0: a division by zero, not 0 ms.
    try {
        StopwatchElapsedMs();
        FAIL() << "no error";
    } catch (const platform::RuntimeError& e) {
        EXPECT_EQ(e.Number(), platform::ErrorNumber::DivisionByZero);
    }
    StopwatchStart();
    now += int64_t(3'000'000'000'000); // 3e9 ms: past the 32-bit result
    EXPECT_THROW(StopwatchElapsedMs(), platform::RuntimeError);
    now = INT64_MIN;
    EXPECT_THROW(StopwatchElapsedMs(), platform::RuntimeError); // 64-bit difference overflows
}

TEST(Stopwatch, RealCounterGivesASmallNonNegativeTime)
{
    StopwatchStart();
    const int ms = StopwatchElapsedMs();
    EXPECT_GE(ms, 0);
    EXPECT_LT(ms, 1000);
}
