#include "run_report.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pelorin::cli {

void RunStats::AddWrittenFrame(const platform::Surface& frame)
{
    ++m_frames;
    if (m_previous.width == frame.width && m_previous.height == frame.height
        && !frame.pixels.empty()) {
        const uint32_t* a = frame.pixels.data();
        const uint32_t* b = m_previous.pixels.data();
        const size_t n = frame.pixels.size();
        size_t changed = 0, i = 0;
#if defined(__SSE2__)
        for (; i + 4 <= n; i += 4) {
            const __m128i same
                = _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i)),
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i)));
            changed += 4 - size_t(__builtin_popcount(_mm_movemask_ps(_mm_castsi128_ps(same))));
        }
#endif
        for (; i < n; ++i)
            changed += a[i] != b[i];
        m_changedShareSum += double(changed) / double(n);
        ++m_transitions;
    }
    m_previous = frame;
}

void RunStats::AddWrittenNumber(int64_t frameNumber)
{
    if (!m_firstNumber)
        m_firstNumber = frameNumber;
    m_lastNumber = frameNumber;
}

std::optional<RunStats::Spread> RunStats::ConversionTimes() const
{
    if (m_seconds.empty())
        return std::nullopt;
    std::vector<double> sorted = m_seconds;
    std::sort(sorted.begin(), sorted.end());
    const size_t n = sorted.size();
    const double median = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    return Spread { sorted.front(), median, sorted.back() };
}

std::optional<double> RunStats::Flicker() const
{
    if (m_transitions == 0)
        return std::nullopt;
    return m_changedShareSum / double(m_transitions);
}

std::optional<double> RunStats::Faithfulness() const
{
    if (m_differences == 0)
        return std::nullopt;
    return m_differenceSum / double(m_differences);
}

std::string RunStats::Summary() const
{
    char line[200];
    std::string text;
    std::snprintf(line, sizeof line, "frames written: %lld\n", static_cast<long long>(m_frames));
    text += line;
    if (m_firstNumber) {
        // A frame's time is when it starts, rounded up to the millisecond: given back to
        // --frames, that time is within the frame (frames last longer than a millisecond).
        const auto start = [&](int64_t number) {
            const __int128 den = __int128(m_rateNum) * 1000;
            const int64_t ms = int64_t((__int128(number) * m_rateDen * 1'000'000 + den - 1) / den);
            char time[40];
            std::snprintf(time, sizeof time, "%lld.%03lld s", static_cast<long long>(ms / 1000),
                static_cast<long long>(ms % 1000));
            return std::string(time);
        };
        const bool timed = m_rateNum > 0 && m_rateDen > 0;
        if (*m_firstNumber == *m_lastNumber)
            text += "frame " + std::to_string(*m_firstNumber)
                + (timed ? " (" + start(*m_firstNumber) + ")" : std::string()) + "\n";
        else
            text += "frames " + std::to_string(*m_firstNumber) + " ... "
                + std::to_string(*m_lastNumber)
                + (timed ? " (" + start(*m_firstNumber) + " ... " + start(*m_lastNumber) + ")"
                         : std::string())
                + "\n";
    }
    const auto t = ConversionTimes();
    if (m_setUpSeconds && t) {
        // When the set-up conversion converted a frame too, what it took beyond the first
        // frame's own conversion is the set-up.
        std::snprintf(line, sizeof line,
            "set-up (stopwatch): %.3f ms once, before the first frame (tables, storage)\n",
            std::max(0.0, *m_setUpSeconds - (m_setUpHoldsFrame ? m_seconds.front() : 0.0)) * 1e3);
        text += line;
    }
    if (t && m_seconds.size() == 1) {
        std::snprintf(
            line, sizeof line, "conversion of the frame (stopwatch): %.3f ms\n", t->median * 1e3);
        text += line;
    } else if (t) {
        std::snprintf(line, sizeof line,
            "conversion per frame (stopwatch): min %.3f ms, median %.3f ms, max %.3f ms\n",
            t->min * 1e3, t->median * 1e3, t->max * 1e3);
        text += line;
    }
    if (const auto f = Flicker()) {
        std::snprintf(line, sizeof line, "flicker: %.2f %% of pixels change from frame to frame\n",
            *f * 100.0);
        text += line;
    } else {
        text += "flicker: none to measure (one frame)\n";
    }
    if (const auto d = Faithfulness()) {
        std::snprintf(line, sizeof line,
            "faithfulness: %.3f mean difference (of 255) from the unreduced working picture, "
            "both blurred 3 x 3\n",
            *d);
        text += line;
    }
    return text;
}

ProgressLine::ProgressLine(bool enabled, int64_t total, std::FILE* out)
    : m_enabled(enabled && total > 1)
    , m_total(total)
    , m_out(out)
    , m_start(std::chrono::steady_clock::now())
    , m_lastDraw(m_start)
{
}

ProgressLine::~ProgressLine() { Finish(); }

void ProgressLine::Update(int64_t done)
{
    if (!m_enabled)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (m_drawn && now - m_lastDraw < std::chrono::milliseconds(100) && done < m_total)
        return;
    m_lastDraw = now;
    const double seconds = std::chrono::duration<double>(now - m_start).count();
    const double rate = seconds > 0 ? double(done) / seconds : 0;
    char left[32] = "?";
    if (rate > 0) {
        const auto remaining = static_cast<long long>(double(m_total - done) / rate + 0.5);
        // Long jobs count hours: "1:02:03", short ones "2:03".
        if (remaining >= 3600)
            std::snprintf(left, sizeof left, "%lld:%02lld:%02lld", remaining / 3600,
                remaining / 60 % 60, remaining % 60);
        else
            std::snprintf(left, sizeof left, "%lld:%02lld", remaining / 60, remaining % 60);
    }
    // "\033[K" clears what a longer earlier line left behind.
    std::fprintf(m_out, "\rframe %lld of %lld, %.1f frames/s, %s left\033[K",
        static_cast<long long>(done), static_cast<long long>(m_total), rate, left);
    std::fflush(m_out);
    m_drawn = true;
}

void ProgressLine::Finish()
{
    if (m_drawn) {
        std::fprintf(m_out, "\r\033[K");
        std::fflush(m_out);
        m_drawn = false;
    }
}

} // namespace pelorin::cli
