#include "clip_player.h"

#include "pipeline/vram.h"
#include "tvc_files.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace pelorin::tvc {

namespace {

    // The player's cycle costs, as play_clip.asm spends them (standard Z80 timings).
    // From the end of a frame to `record`: PUSH HL, CALL anyKey, anyKey with no key held (666),
    // POP HL, JR Z taken.
    constexpr uint64_t kAfterFrame = 11 + 17 + 666 + 10 + 12;
    // A jump record: its two FFh bytes read and tested, the address loaded, JP record.
    constexpr uint64_t kJumpRecord = 7 + 6 + 7 + 6 + 4 + 4 + 4 + 7 + 7 + 6 + 7 + 4 + 10;
    // A frame record's wait count read and tested, up to `wait`.
    constexpr uint64_t kFrameHeader = 7 + 6 + 7 + 6 + 4 + 4 + 4 + 12;
    // LD DE,8000h at `draw`.
    constexpr uint64_t kDrawStart = 10;
    // A run's SKIP and COUNT read and SKIP added to DE, up to JR Z (without the JR NC).
    constexpr uint64_t kRunHead = 7 + 6 + 7 + 6 + 4 + 4 + 4 + 4;
    constexpr uint64_t kNoCarry = 12; // JR NC taken
    constexpr uint64_t kCarry = 7 + 4; // JR NC not taken, INC D
    // COUNT > 0: JR Z not taken, LDIR (21 a byte, 5 fewer for the last), JP run.
    constexpr uint64_t kCopyFixed = 7 - 5 + 10;
    constexpr uint64_t kCopyPerByte = 21;
    // COUNT = 0: JR Z taken, SKIP read again and tested, JP NZ.
    constexpr uint64_t kNoBytes = 12 + 6 + 6 + 7 + 6 + 6 + 4 + 10;
    // The wait: W = 0 takes 20 cycles, otherwise 10 + 64 W.
    constexpr uint64_t WaitCycles(uint64_t w) { return w == 0 ? 20 : 10 + 64 * w; }
    constexpr uint64_t kLongestWait = 0xFFFE;

    constexpr size_t kSettingsBytes = 14;
    constexpr size_t kJumpBytes = 4;
    constexpr size_t kRegionOneEnd = 0x8000;
    // Page 2 of the loaded program is played from page 3.
    constexpr size_t kRegionTwoShift = 0x4000;

    // Gaps of up to this many unchanged bytes are copied rather than skipped.
    constexpr size_t kJoinGap = 2;

    // The cycles from `draw` to the end of a frame's runs.
    uint64_t DrawCycles(std::span<const uint8_t> runs)
    {
        uint64_t cycles = kDrawStart;
        unsigned e = 0x00; // low byte of DE; 8000h to start
        for (size_t i = 0; i + 1 < runs.size();) {
            const unsigned skip = runs[i], count = runs[i + 1];
            cycles += kRunHead + (e + skip > 0xFF ? kCarry : kNoCarry);
            e = (e + skip) & 0xFF;
            i += 2;
            if (count == 0) {
                cycles += kNoBytes;
                if (skip == 0)
                    break;
                continue;
            }
            cycles += kCopyFixed + kCopyPerByte * count;
            e = (e + count) & 0xFF;
            i += count;
        }
        return cycles;
    }

    size_t Runtime(size_t loadAddress)
    {
        return loadAddress < kRegionOneEnd ? loadAddress : loadAddress + kRegionTwoShift;
    }

    // The waits of the loop's frames 1 ... N, given the fewest cycles each takes from the end of
    // the frame before to its own end with a wait of 0, and `due(j)`, the cycle at which frame j
    // is due after frame 0. Frame j ends as near its due time as its wait allows: a frame that
    // cannot be drawn in its time is late, and the waits after it catch up. Every pass of the
    // loop runs the same records, so a pass must start frame 0 as late as the previous pass
    // ended it (the way back to frame 0 may be the slow one): the schedule is worked out again
    // from that lateness until it no longer changes.
    template <class Due>
    std::vector<uint64_t> LoopWaits(const std::vector<uint64_t>& fewest, const Due& due)
    {
        std::vector<uint64_t> waits(fewest.size(), 0);
        int64_t start = 0; // frame 0's end against its due time
        for (int round = 0; round < 8 && !fewest.empty(); ++round) {
            int64_t end = start;
            for (size_t j = 0; j < fewest.size(); ++j) {
                const int64_t ready = end + int64_t(fewest[j]);
                const int64_t gap = int64_t(due(int64_t(j) + 1)) - ready;
                // A wait W ≥ 1 takes 64 W − 10 cycles more than W = 0.
                const uint64_t w = gap < 27
                    ? 0
                    : std::clamp<uint64_t>(uint64_t(gap + 10 + 32) / 64, 1, kLongestWait);
                waits[j] = w;
                end = ready + int64_t(WaitCycles(w)) - int64_t(WaitCycles(0));
            }
            const int64_t carried = end - int64_t(due(int64_t(fewest.size())));
            if (std::abs(carried - start) <= 32)
                break;
            start = carried;
        }
        return waits;
    }

} // namespace

std::vector<uint8_t> EncodeDifference(
    std::span<const uint8_t> before, std::span<const uint8_t> after)
{
    if (before.size() != after.size())
        throw std::invalid_argument("frames of different sizes");
    std::vector<uint8_t> out;
    size_t cursor = 0; // where the player's DE stands
    size_t i = 0;
    const size_t n = after.size();
    while (i < n) {
        // Unchanged stretches are most of a frame: pass them eight bytes at a time.
        while (i + 8 <= n && std::memcmp(before.data() + i, after.data() + i, 8) == 0)
            i += 8;
        if (i >= n)
            break;
        if (before[i] == after[i]) {
            ++i;
            continue;
        }
        // A run from i: extended while the next change is at most kJoinGap bytes away.
        size_t end = i + 1;
        for (;;) {
            while (end < n && before[end] != after[end])
                ++end;
            size_t next = end;
            while (next < n && next - end <= kJoinGap && before[next] == after[next])
                ++next;
            if (next < n && next - end <= kJoinGap && before[next] != after[next])
                end = next;
            else
                break;
        }
        size_t gap = i - cursor;
        while (gap > 0xFF) {
            out.push_back(0xFF);
            out.push_back(0x00);
            gap -= 0xFF;
        }
        for (size_t at = i; at < end;) {
            const size_t count = std::min<size_t>(end - at, 0xFF);
            out.push_back(uint8_t(gap));
            out.push_back(uint8_t(count));
            out.insert(
                out.end(), after.begin() + ptrdiff_t(at), after.begin() + ptrdiff_t(at + count));
            gap = 0;
            at += count;
        }
        cursor = end;
        i = end;
    }
    out.push_back(0x00);
    out.push_back(0x00);
    return out;
}

struct ClipBuilder::Layout {
    struct Item {
        bool jump; // a jump record (the region change, or back into the loop)
        size_t record; // frame record index; m_records.size() for the record back to frame 0
        size_t load; // load address
    };
    bool fits = true;
    std::vector<Item> items;
    size_t end = 0; // load address after the last byte
};

ClipBuilder::ClipBuilder(const TvcMode& mode, int64_t rateNumerator, int64_t rateDenominator,
    std::optional<PaletteRegisters> registers)
    : m_mode(&mode)
    , m_registers(registers ? *registers : PaletteRegistersOf(mode))
    , m_rateNumerator(rateNumerator)
    , m_rateDenominator(rateDenominator)
{
    if (rateNumerator <= 0 || rateDenominator <= 0 || rateNumerator > 0xFFFFFFFF
        || rateDenominator > 0xFFFFFFFF)
        throw std::invalid_argument(
            "a clip needs a frame rate above 0, as a ratio of 32-bit numbers");
    const double frameCycles
        = double(kTvcClockHz) * double(rateDenominator) / double(rateNumerator);
    if (frameCycles > double(WaitCycles(kLongestWait)))
        throw std::invalid_argument("the player waits at most "
            + std::to_string(double(WaitCycles(kLongestWait)) / kTvcClockHz)
            + " s between frames; the frame rate is too low");
}

ClipBuilder::Layout ClipBuilder::Place(size_t wrapBytes) const
{
    Layout layout;
    size_t pos = kCodeAddress + PlayClipCode().size() + kSettingsBytes;
    bool regionTwo = false;
    const auto put = [&](size_t record, size_t bytes, bool withJump) {
        const size_t block = bytes + (withJump ? kJumpBytes : 0);
        if (!regionTwo && pos + block + kJumpBytes > kRegionOneEnd) {
            layout.items.push_back({ true, 0, pos });
            pos = kRegionOneEnd;
            regionTwo = true;
        }
        if (pos + block > kClipLoadLimit)
            layout.fits = false;
        layout.items.push_back({ false, record, pos });
        pos += bytes;
        if (withJump) {
            layout.items.push_back({ true, 1, pos });
            pos += kJumpBytes;
        }
    };
    for (size_t r = 0; r < m_records.size(); ++r)
        put(r, m_records[r].size(), r == 0);
    put(m_records.size(), wrapBytes, true);
    layout.end = pos;
    return layout;
}

bool ClipBuilder::Add(std::span<const uint8_t> vram)
{
    if (vram.size() != kVramFrameBytes)
        throw std::invalid_argument(
            "a frame of video memory has " + std::to_string(kVramFrameBytes) + " bytes");
    if (m_full)
        return false;
    static const std::vector<uint8_t> kEmpty(kVramFrameBytes, 0);
    std::vector<uint8_t> record { 0, 0 };
    const std::vector<uint8_t> runs
        = EncodeDifference(m_frames.empty() ? std::span<const uint8_t>(kEmpty)
                                            : std::span<const uint8_t>(m_frames.back()),
            vram);
    record.insert(record.end(), runs.begin(), runs.end());
    std::vector<uint8_t> wrap { 0, 0 };
    const std::vector<uint8_t> back = EncodeDifference(
        vram, m_frames.empty() ? vram : std::span<const uint8_t>(m_frames.front()));
    wrap.insert(wrap.end(), back.begin(), back.end());

    m_records.push_back(std::move(record));
    if (!Place(wrap.size()).fits) {
        m_records.pop_back();
        m_full = true;
        return false;
    }
    m_wrap = std::move(wrap);
    // Only the first and the latest frame are needed again.
    if (m_frames.size() >= 2)
        m_frames.pop_back();
    m_frames.emplace_back(vram.begin(), vram.end());
    return true;
}

uint64_t ClipBuilder::DueCycle(int64_t frame) const
{
    // Rounded to the nearest cycle: frame · clock · denominator / numerator.
    const __int128 scaled = __int128(frame) * kTvcClockHz * m_rateDenominator;
    return uint64_t((scaled * 2 + m_rateNumerator) / (2 * m_rateNumerator));
}

std::vector<uint8_t> ClipBuilder::CasBytes() const
{
    if (m_records.empty())
        throw std::logic_error("a clip needs a frame");
    const Layout layout = Place(m_wrap.size());
    if (!layout.fits)
        throw std::logic_error("the clip was let grow past its memory");
    const size_t dataStart = kCodeAddress + PlayClipCode().size();
    std::vector<uint8_t> data(layout.end - dataStart, 0);
    data[0] = ModePortValue(*m_mode);
    std::copy(m_registers.begin(), m_registers.end(), data.begin() + 1);
    data[5] = kBorderColour;
    for (int i = 0; i < 4; ++i) {
        data[6 + size_t(i)] = uint8_t(uint64_t(m_rateNumerator) >> (8 * i));
        data[10 + size_t(i)] = uint8_t(uint64_t(m_rateDenominator) >> (8 * i));
    }

    // The loop goes back to the record after frame 0's (frame 1, or the way back to frame 0
    // when there is only one frame).
    size_t loopTarget = 0;
    for (size_t i = 0; i < layout.items.size(); ++i)
        if (!layout.items[i].jump && layout.items[i].record == 1) {
            loopTarget = Runtime(layout.items[i].load);
            break;
        }
    const auto recordBytes = [&](size_t r) -> const std::vector<uint8_t>& {
        return r < m_records.size() ? m_records[r] : m_wrap;
    };

    // Frame j of the loop (1 ... N − 1, then N: the record back to frame 0): where its wait
    // goes, and the fewest cycles from the end of frame j − 1 to its own end, with a wait of 0.
    std::vector<uint8_t*> waitAt;
    std::vector<uint64_t> fewest;
    uint64_t pending = 0; // cycles since the last frame ended, before the next record's wait
    bool first = true;
    for (const Layout::Item& item : layout.items) {
        uint8_t* at = data.data() + (item.load - dataStart);
        if (item.jump) {
            const size_t target = item.record == 0 ? Runtime(kRegionOneEnd) : loopTarget;
            at[0] = 0xFF;
            at[1] = 0xFF;
            at[2] = uint8_t(target & 0xFF);
            at[3] = uint8_t(target >> 8);
            // Loop jumps always run; a region change placed right before frame 1 never does,
            // as the loop's jump goes past it to frame 1 itself.
            if (item.record == 1 || !waitAt.empty())
                pending += kJumpRecord;
            continue;
        }
        const std::vector<uint8_t>& bytes = recordBytes(item.record);
        std::copy(bytes.begin(), bytes.end(), at);
        if (!first) {
            waitAt.push_back(at);
            fewest.push_back(
                pending + kFrameHeader + WaitCycles(0) + DrawCycles(std::span(bytes).subspan(2)));
        }
        first = false;
        pending = kAfterFrame;
    }
    const std::vector<uint64_t> waits
        = LoopWaits(fewest, [this](int64_t frame) { return DueCycle(frame); });
    for (size_t j = 0; j < waitAt.size(); ++j) {
        waitAt[j][0] = uint8_t(waits[j] & 0xFF);
        waitAt[j][1] = uint8_t(waits[j] >> 8);
    }
    return tvc::CasBytes(PlayClipCode(), data);
}

std::vector<size_t> ClipBuilder::FrameRecordOffsets() const
{
    const Layout layout = Place(m_wrap.size());
    std::vector<size_t> offsets(m_records.size() + 1);
    for (const Layout::Item& item : layout.items)
        if (!item.jump)
            offsets[item.record] = kCasHeaderBytes + (item.load - kProgramLoadAddress);
    return offsets;
}

ClipBuilder::Summary ClipBuilder::Report() const
{
    Summary s;
    s.framesKept = m_records.size();
    s.frameSeconds = double(m_rateDenominator) / double(m_rateNumerator);
    s.seconds = double(s.framesKept) * s.frameSeconds;
    s.bytesAvailable = kClipLoadLimit - kProgramLoadAddress;
    if (m_records.empty())
        return s;
    const Layout layout = Place(m_wrap.size());
    s.bytesUsed = layout.end - kProgramLoadAddress;
    const double frameCycles = double(kTvcClockHz) * s.frameSeconds;
    uint64_t slowest = 0;
    for (size_t r = 1; r <= m_records.size(); ++r) {
        const std::vector<uint8_t>& bytes = r < m_records.size() ? m_records[r] : m_wrap;
        const uint64_t cycles = kAfterFrame + kJumpRecord + kFrameHeader + WaitCycles(0)
            + DrawCycles(std::span(bytes).subspan(2));
        slowest = std::max(slowest, cycles);
        if (double(cycles) > frameCycles)
            ++s.lateFrames;
    }
    s.slowestFrameSeconds = double(slowest) / kTvcClockHz;
    return s;
}

} // namespace pelorin::tvc
