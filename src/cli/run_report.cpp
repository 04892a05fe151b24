#include "run_report.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <cstring>

namespace pelorin::cli {

double BlurredDifference(const platform::Surface& converted, const platform::Surface& unreduced)
{
    if (converted.width != unreduced.width || converted.height != unreduced.height)
        throw std::invalid_argument("pictures of different sizes have no difference");
    const int w = converted.width, h = converted.height;
    if (w <= 0 || h <= 0)
        return 0;
    // The blur is linear, so the difference of the blurred pictures is the blurred difference:
    // one blur of per-channel differences, row sums first, then three rows of them.
    const size_t rowInts = 3 * size_t(w);
    std::vector<int> rowSums(rowInts * size_t(h));
    std::vector<int> diff(rowInts);
    for (int y = 0; y < h; ++y) {
        const uint32_t* a = converted.Row(y);
        const uint32_t* b = unreduced.Row(y);
        for (int x = 0; x < w; ++x)
            for (int ch = 0; ch < 3; ++ch)
                diff[3 * size_t(x) + size_t(ch)]
                    = int((a[x] >> (8 * ch)) & 0xFF) - int((b[x] >> (8 * ch)) & 0xFF);
        int* sums = rowSums.data() + size_t(y) * rowInts;
        for (int x = 0; x < w; ++x) {
            const size_t left = 3 * size_t(x > 0 ? x - 1 : 0);
            const size_t right = 3 * size_t(x + 1 < w ? x + 1 : w - 1);
            for (size_t ch = 0; ch < 3; ++ch)
                sums[3 * size_t(x) + ch] = diff[left + ch] + diff[3 * size_t(x) + ch] + diff[right + ch];
        }
    }
    int64_t total = 0;
    for (int y = 0; y < h; ++y) {
        const int* up = rowSums.data() + size_t(y > 0 ? y - 1 : 0) * rowInts;
        const int* mid = rowSums.data() + size_t(y) * rowInts;
        const int* down = rowSums.data() + size_t(y + 1 < h ? y + 1 : h - 1) * rowInts;
        for (size_t i = 0; i < rowInts; ++i)
            total += std::abs(up[i] + mid[i] + down[i]);
    }
    return double(total) / 9.0 / double(rowInts * size_t(h));
}

void RunStats::AddWrittenFrame(const platform::Surface& frame)
{
    ++m_frames;
    if (m_previous.width == frame.width && m_previous.height == frame.height
        && !frame.pixels.empty()) {
        size_t changed = 0;
        for (size_t i = 0; i < frame.pixels.size(); ++i)
            changed += frame.pixels[i] != m_previous.pixels[i];
        m_changedShareSum += double(changed) / double(frame.pixels.size());
        ++m_transitions;
    }
    m_previous = frame;
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
    if (const auto t = ConversionTimes()) {
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
