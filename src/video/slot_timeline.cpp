#include "slot_timeline.h"

#include <algorithm>
#include <cassert>
#include <climits>
#include <cmath>
#include <limits>
#include <numeric>

namespace pelorin::video {

namespace {

    double ToDouble(Fraction f) { return f.num / double(f.den); }

    // a × b ÷ c rounded to the nearest, halves up, for a ≥ 0, b ≥ 0, c > 0; INT64_MIN when it
    // does not fit. Written the way FFmpeg's rescaling works, with its two 64-bit shortcuts and
    // its 128-bit long division, so that the answer is its answer also where the quotient does
    // not fit 64 bits.
    int64_t RescaleRound(int64_t a, int64_t b, int64_t c)
    {
        const int64_t r = c / 2;
        if (b <= INT_MAX && c <= INT_MAX) {
            if (a <= INT_MAX)
                return (a * b + r) / c;
            const int64_t whole = a / c;
            const int64_t part = (a % c * b + r) / c;
            if (whole >= INT32_MAX && b && whole > (INT64_MAX - part) / b)
                return INT64_MIN;
            return whole * b + part;
        }
        uint64_t low = uint64_t(a) & 0xFFFFFFFF;
        uint64_t high = uint64_t(a) >> 32;
        const uint64_t bLow = uint64_t(b) & 0xFFFFFFFF;
        const uint64_t bHigh = uint64_t(b) >> 32;
        uint64_t quotient = low * bHigh + high * bLow;
        const uint64_t middle = quotient << 32;
        low = low * bLow + middle;
        high = high * bHigh + (quotient >> 32) + (low < middle);
        low += uint64_t(r);
        high += low < uint64_t(r);
        for (int i = 63; i >= 0; --i) {
            high += high + ((low >> i) & 1);
            quotient += quotient;
            if (uint64_t(c) <= high) {
                high -= uint64_t(c);
                ++quotient;
            }
        }
        if (quotient > uint64_t(INT64_MAX))
            return INT64_MIN;
        return int64_t(quotient);
    }

    // num ÷ den (both positive) in lowest terms, or its best approximation by a continued
    // fraction whose parts stay within `max`, as FFmpeg reduces its rationals.
    Fraction Reduce(int64_t num, int64_t den, int64_t max)
    {
        Fraction before { 0, 1 };
        Fraction last { 1, 0 };
        const int64_t gcd = std::gcd(num, den);
        if (gcd) {
            num /= gcd;
            den /= gcd;
        }
        if (num <= max && den <= max) {
            last = { int(num), int(den) };
            den = 0;
        }
        // The arithmetic is unsigned where FFmpeg's is, so that it wraps where FFmpeg's does.
        const auto term = [](uint64_t x, int lastPart, int beforePart) {
            return x * uint64_t(lastPart) + uint64_t(beforePart);
        };
        while (den) {
            uint64_t x = uint64_t(num / den);
            const int64_t nextDen = num - den * int64_t(x);
            const int64_t nextNum = int64_t(term(x, last.num, before.num));
            const int64_t nextDenominator = int64_t(term(x, last.den, before.den));
            if (nextNum > max || nextDenominator > max) {
                if (last.num)
                    x = uint64_t((max - before.num) / last.num);
                if (last.den)
                    x = std::min(x, uint64_t((max - before.den) / last.den));
                if (uint64_t(den) * term(2 * x, last.den, before.den) > uint64_t(num * last.den))
                    last = { int(term(x, last.num, before.num)),
                        int(term(x, last.den, before.den)) };
                break;
            }
            before = last;
            last = { int(nextNum), int(nextDenominator) };
            num = den;
            den = nextDen;
        }
        return last;
    }

} // namespace

bool ValidRate(Fraction rate)
{
    return rate.num > 0 && rate.den > 0 && ToDouble(rate) >= 0.01 && ToDouble(rate) <= kMaxSlotRate;
}

int64_t RescaleNearest(int64_t ticks, Fraction from, Fraction to)
{
    assert(ticks >= 0);
    if (ticks == INT64_MAX)
        return ticks;
    return RescaleRound(ticks, int64_t(from.num) * to.den, int64_t(to.num) * from.den);
}

Fraction MultiplyRate(Fraction rate, int times)
{
    return Reduce(int64_t(rate.num) * times, int64_t(rate.den), INT_MAX);
}

SlotTimeline::SlotTimeline(std::vector<int64_t> pictureTimes, Fraction timeBase,
    Fraction nominalRate, std::optional<int64_t> endTime)
    : m_timeBase(timeBase)
    , m_rate(nominalRate)
    , m_times(std::move(pictureTimes))
{
    std::sort(m_times.begin(), m_times.end());
    m_times.erase(std::unique(m_times.begin(), m_times.end()), m_times.end());
    if (m_times.empty())
        return;

    m_startSlots = SlotsAt(m_rate);
    const auto apart = [this](const std::vector<int64_t>& slots) {
        return slots.size() == m_times.size()
            && std::adjacent_find(slots.begin(), slots.end()) == slots.end();
    };
    if (!apart(m_startSlots) && m_startSlots.size() == m_times.size()) {
        // A slot no longer than the shortest gap between two pictures always gives each its
        // own, so the search ends there.
        int64_t shortestGap = std::numeric_limits<int64_t>::max();
        for (size_t i = 1; i < m_times.size(); ++i)
            shortestGap = std::min(shortestGap, m_times[i] - m_times[i - 1]);
        const double slotSeconds = m_rate.den / double(m_rate.num);
        const double needed = std::ceil(slotSeconds / (double(shortestGap) * ToDouble(m_timeBase)));
        const double allowed = std::floor(kMaxSlotRate / ToDouble(m_rate));
        const int64_t last = int64_t(std::min({ needed, allowed, double(INT32_MAX) }));
        // Whole multiples in turn, the first few; beyond them the one known to work.
        constexpr int64_t kTried = 64;
        for (int64_t k = 2; k <= last; k = k < kTried ? k + 1 : std::max(k + 1, last)) {
            const Fraction finer = MultiplyRate(m_rate, int(k));
            if (finer.num <= 0 || finer.den <= 0 || !ValidRate(finer))
                break;
            std::vector<int64_t> slots = SlotsAt(finer);
            if (apart(slots)) {
                m_rate = finer;
                m_startSlots = std::move(slots);
                break;
            }
        }
    }
    const bool everyPictureHasASlot = m_startSlots.size() == m_times.size();
    m_times.resize(m_startSlots.size());
    m_slotCount = m_startSlots.back() + 1;
    if (endTime && everyPictureHasASlot && *endTime > m_times.back()) {
        // The last picture shows until the end; the slot its end rounds to is the first after it.
        const int64_t endSlot = RescaleNearest(
            *endTime - m_times.front(), m_timeBase, Fraction { m_rate.den, m_rate.num });
        if (endSlot > m_slotCount && endSlot <= kMaxSlots)
            m_slotCount = endSlot;
    }
}

// The slot at which each picture starts at `slotRate`, up to the first that lies outside the
// slot range.
std::vector<int64_t> SlotTimeline::SlotsAt(Fraction slotRate) const
{
    const int64_t start = m_times.front();
    const Fraction slotUnit { slotRate.den, slotRate.num };
    std::vector<int64_t> slots;
    slots.reserve(m_times.size());
    for (const int64_t ts : m_times) {
        const int64_t s = RescaleNearest(ts - start, m_timeBase, slotUnit);
        if (s < 0 || s >= kMaxSlots)
            break;
        slots.push_back(s);
    }
    return slots;
}

int64_t SlotTimeline::PictureAt(int64_t slot) const
{
    assert(slot >= 0 && slot < m_slotCount);
    return std::upper_bound(m_startSlots.begin(), m_startSlots.end(), slot) - m_startSlots.begin()
        - 1;
}

} // namespace pelorin::video
