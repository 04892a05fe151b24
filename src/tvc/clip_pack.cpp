#include "clip_pack.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>

namespace pelorin::tvc {

namespace {

    constexpr size_t kLargestScreen = 0x3C00;
    constexpr size_t kLineMove = 64; // a move-only command moves this many bytes a step
    constexpr size_t kMostLiteral = 0x7F;
    constexpr size_t kLeastCopy = 3;
    constexpr size_t kMostNear = 0xBF - 0x80 + 2; // 65
    constexpr size_t kMostFar = 0xFF - 0xC0 + 3; // 66
    constexpr size_t kNearReach = 256;
    constexpr size_t kNearBytes = 3; // SKIP, command, distance
    constexpr size_t kFarBytes = 4; // SKIP, command, address
    // Gaps of up to this many unchanged bytes inside a stretch of bytes are copied as they are
    // rather than moved over: never longer, and never slower.
    constexpr size_t kJoinGap = 2;
    // Distances a dithered screen repeats at: along a line, and whole lines back (64 bytes a line).
    constexpr std::array<size_t, 12> kNearDistances { 1, 2, 3, 4, 6, 8, 16, 32, 64, 128, 192, 256 };
    constexpr int kHashBits = 13;
    constexpr size_t kFewChanges = 64;
    constexpr int kChainDepth = 24;

    // Where on the screen each three bytes stand, most recent first. Places the screen changes
    // at are put in again; what they held before stays in the chains and fails the comparison.
    class ScreenIndex {
    public:
        explicit ScreenIndex(const std::vector<uint8_t>& screen)
            : m_screen(screen)
            , m_head(size_t(1) << kHashBits, -1)
            , m_previous(screen.size(), -1)
        {
            for (size_t p = 0; p < screen.size(); ++p)
                Insert(p);
        }
        // After the byte at `p` changed.
        void Changed(size_t p)
        {
            for (size_t q = p >= 2 ? p - 2 : 0; q <= p; ++q)
                Insert(q);
        }
        template <class Visit> void Candidates(const uint8_t* key, const Visit& visit) const
        {
            int p = m_head[Hash(key)];
            for (int depth = 0; p >= 0 && depth < kChainDepth; ++depth) {
                visit(size_t(p));
                p = m_previous[size_t(p)];
            }
        }

    private:
        static size_t Hash(const uint8_t* at)
        {
            const uint32_t v = uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16;
            return (v * 2654435761u) >> (32 - kHashBits);
        }
        void Insert(size_t p)
        {
            if (p + 3 > m_screen.size())
                return;
            int& head = m_head[Hash(&m_screen[p])];
            if (head == int(p))
                return;
            m_previous[p] = head;
            head = int(p);
        }

        const std::vector<uint8_t>& m_screen;
        std::vector<int> m_head;
        std::vector<int> m_previous;
    };

    struct Copy {
        size_t from = 0;
        size_t length = 0; // 0: none worth taking
        bool near = false;
    };

    class Packer {
    public:
        Packer(std::span<const uint8_t> before, std::span<const uint8_t> after, size_t leastCopy)
            : m_leastCopy(leastCopy)
            , m_after(after)
            , m_screen(before.begin(), before.end())
        {
            // A few scattered changes gain little from copies found anywhere on the screen, and
            // the index of the whole screen would cost more than the rest of the packing.
            size_t changed = 0;
            for (size_t i = 0; i < after.size() && changed <= kFewChanges && leastCopy > 0; ++i)
                changed += before[i] != after[i];
            if (changed > kFewChanges && leastCopy > 0)
                m_index.emplace(m_screen);
        }

        PackedFrame Pack()
        {
            const size_t n = m_after.size();
            size_t i = 0;
            while (i < n) {
                if (m_screen[i] == m_after[i]) {
                    i = Unchanged(i);
                    continue;
                }
                const bool open = LiteralContinues(i);
                const Copy copy = m_leastCopy > 0 ? BestCopy(i, open) : Copy {};
                if (copy.length > 0) {
                    FlushLiteral();
                    PutCopy(i, copy);
                    i += copy.length;
                    continue;
                }
                if (!open || m_literal.size() == kMostLiteral) {
                    FlushLiteral();
                    m_literalAt = i;
                }
                AppendLiteral(i);
                ++i;
            }
            FlushLiteral();
            m_out.commandStarts.push_back(uint32_t(m_out.bytes.size()));
            m_out.bytes.push_back(0x00);
            m_out.bytes.push_back(0x00);
            return std::move(m_out);
        }

    private:
        bool LiteralContinues(size_t i) const
        {
            return !m_literal.empty() && m_literalAt + m_literal.size() == i;
        }

        // At an unchanged byte: joins a short gap into the open stretch of bytes, or passes
        // the unchanged bytes. Returns where to go on.
        size_t Unchanged(size_t i)
        {
            const size_t n = m_after.size();
            if (LiteralContinues(i)) {
                size_t next = i;
                while (next < n && next - i < kJoinGap && m_screen[next] == m_after[next])
                    ++next;
                if (next < n && m_screen[next] != m_after[next]
                    && m_literal.size() + (next - i) < kMostLiteral) {
                    for (; i < next; ++i)
                        m_literal.push_back(m_after[i]);
                    return next;
                }
            }
            FlushLiteral();
            while (i + 8 <= n && std::memcmp(m_screen.data() + i, m_after.data() + i, 8) == 0)
                i += 8;
            while (i < n && m_screen[i] == m_after[i])
                ++i;
            return i;
        }

        // How many bytes from `from` a byte-at-a-time copy to `to` puts right, at most `most`.
        // A copy from behind reads what it has just written.
        size_t CopyLength(size_t from, size_t to, size_t most) const
        {
            const size_t n = m_after.size();
            most = std::min({ most, n - to, n - from });
            size_t k = 0;
            for (; k < most; ++k) {
                const size_t at = from + k;
                const uint8_t value = from < to && at >= to ? m_after[at] : m_screen[at];
                if (value != m_after[to + k])
                    break;
            }
            // Ending on bytes already right draws them for nothing.
            while (k > 0 && m_screen[to + k - 1] == m_after[to + k - 1])
                --k;
            return k;
        }

        Copy BestCopy(size_t i, bool literalOpen) const
        {
            Copy best;
            long bestGain = 0;
            // Against a stretch of bytes already open the copy saves only its bytes; against a
            // new stretch it also saves the stretch's SKIP and count.
            const long spare = literalOpen ? 0 : 2;
            const auto consider = [&](size_t from) {
                if (from == i)
                    return;
                const bool near = from < i && i - from <= kNearReach;
                const size_t length = CopyLength(from, i, near ? kMostNear : kMostFar);
                if (length < std::max(kLeastCopy, m_leastCopy))
                    return;
                const long gain = long(length) + spare - long(near ? kNearBytes : kFarBytes);
                if (gain > bestGain) {
                    bestGain = gain;
                    best = { from, length, near };
                }
            };
            for (const size_t d : kNearDistances)
                if (d <= i)
                    consider(i - d);
            if (i + 3 <= m_after.size())
                if (m_index)
                    m_index->Candidates(&m_after[i], consider);
            return best;
        }

        void Put(size_t at, uint8_t command)
        {
            m_out.commandStarts.push_back(uint32_t(m_out.bytes.size()));
            size_t gap = at - m_cursor;
            if (gap > 0xFF) {
                // Whole lines first, then the rest as the command's own SKIP.
                m_out.bytes.push_back(uint8_t(gap / kLineMove));
                m_out.bytes.push_back(0x00);
                m_out.commandStarts.push_back(uint32_t(m_out.bytes.size()));
                gap %= kLineMove;
            }
            m_out.bytes.push_back(uint8_t(gap));
            m_out.bytes.push_back(command);
        }

        void PutCopy(size_t i, const Copy& copy)
        {
            if (copy.near) {
                Put(i, uint8_t(0x80 + copy.length - 2));
                m_out.bytes.push_back(uint8_t(i - copy.from - 1));
            } else {
                Put(i, uint8_t(0xC0 + copy.length - 3));
                const size_t address = kScreenAddress + copy.from;
                m_out.bytes.push_back(uint8_t(address & 0xFF));
                m_out.bytes.push_back(uint8_t(address >> 8));
            }
            for (size_t k = 0; k < copy.length; ++k)
                Write(i + k);
            m_cursor = i + copy.length;
        }

        void AppendLiteral(size_t i)
        {
            m_literal.push_back(m_after[i]);
            Write(i);
        }

        void FlushLiteral()
        {
            if (m_literal.empty())
                return;
            Put(m_literalAt, uint8_t(m_literal.size()));
            m_out.bytes.insert(m_out.bytes.end(), m_literal.begin(), m_literal.end());
            m_cursor = m_literalAt + m_literal.size();
            m_literal.clear();
        }

        void Write(size_t at)
        {
            if (m_screen[at] == m_after[at])
                return;
            m_screen[at] = m_after[at];
            if (m_index)
                m_index->Changed(at);
        }

        size_t m_leastCopy;
        std::span<const uint8_t> m_after;
        std::vector<uint8_t> m_screen; // as the player has drawn it so far
        std::optional<ScreenIndex> m_index; // only for frames with more than a few changes
        PackedFrame m_out;
        size_t m_cursor = 0; // where the player's DE stands
        size_t m_literalAt = 0;
        std::vector<uint8_t> m_literal; // bytes waiting to be put as one command
    };

    // The player's costs (standard Z80 timings, written beside play_clip.asm's instructions).
    // Every command: countField with no flag, SKIP and command read, the command tested.
    constexpr uint64_t kCommandHead = 17 + 11 + 7 + 11 + 7 + 6 + 7 + 6 + 4 + 4;
    // A command that is not a move: JR Z, SKIP added (a carry costs one cycle less), JP M.
    constexpr uint64_t kTyped = 7 + 4 + 4 + 12 + 4 + 4 + 10;
    constexpr uint64_t kLdirPerByte = 21;

} // namespace

PackedFrame PackFrame(
    std::span<const uint8_t> before, std::span<const uint8_t> after, size_t leastCopy)
{
    if (before.size() != after.size() || after.size() > kLargestScreen)
        throw std::invalid_argument("packing needs two screens of the same size, at most "
            + std::to_string(kLargestScreen) + " bytes");
    return Packer(before, after, leastCopy).Pack();
}

uint64_t DrawCycles(std::span<const uint8_t> commands)
{
    uint64_t cycles = 17 + 10; // the call, LD DE
    size_t at = 0;
    while (at + 2 <= commands.size()) {
        const uint8_t command = commands[at + 1];
        const bool end = commands[at] == 0 && command == 0;
        at += 2;
        cycles += kCommandHead;
        if (command == 0) {
            cycles += 12 + 4; // JR Z taken, OR A
            if (end)
                return cycles + 11; // RET Z: the frame is drawn
            cycles += 5 + 11 + 4 + 7 + 6 * 11 + 11 + 4 + 10 + 10; // the lines added to DE
            continue;
        }
        cycles += kTyped;
        if (command < 0x80) {
            cycles += 7 + kLdirPerByte * command - 5 + 10;
            at += command;
        } else if (command == kJumpCommand) {
            cycles += 7 + 7 + 7 + 12 + 7 + 6 + 7 + 4 + 10;
            at += 2;
        } else if (command < 0xC0) {
            const uint64_t length = command - 0x80 + 2;
            cycles += 7 + 7 + 7 + 7 + 7 + 4 + 7 + 6 + 11 + 4 + 4 + 4 + 4 + 7 + 4 + 7
                + kLdirPerByte * length - 5 + 10 + 10;
            at += 1;
        } else {
            const uint64_t length = command - 0xC0 + 3;
            cycles += 7 + 12 + 7 + 4 + 7 + 6 + 7 + 6 + 11 + 4 + 4 + 7 + kLdirPerByte * length
                - 5 + 10 + 10;
            at += 2;
        }
    }
    return cycles;
}

size_t DrawPacked(std::span<const uint8_t> data, size_t at, std::span<uint8_t> screen,
    const std::function<size_t(uint16_t)>& jumpTarget)
{
    constexpr int kMostJumps = 4;
    const auto need = [&](size_t bytes) {
        if (at + bytes > data.size())
            throw PackedFrameError("a record runs past the end of the file");
    };
    size_t cursor = 0;
    int jumps = 0;
    for (;;) {
        need(2);
        const size_t skip = data[at];
        const uint8_t command = data[at + 1];
        at += 2;
        if (skip == 0 && command == 0)
            return at;
        if (command == 0) {
            cursor += skip * kLineMove;
            if (cursor > screen.size())
                throw PackedFrameError("a move past the end of video memory");
            continue;
        }
        cursor += skip;
        if (command == kJumpCommand) {
            need(2);
            if (++jumps > kMostJumps)
                throw PackedFrameError("its jumps go round in a circle");
            at = jumpTarget(uint16_t(data[at] | data[at + 1] << 8));
            continue;
        }
        size_t length = command;
        size_t from = 0;
        if (command >= 0xC0) {
            need(2);
            length = command - 0xC0 + 3;
            const size_t address = data[at] | size_t(data[at + 1]) << 8;
            at += 2;
            if (address < kScreenAddress || address - kScreenAddress + length > screen.size())
                throw PackedFrameError("a copy from outside the picture");
            from = address - kScreenAddress;
        } else if (command > 0x80) {
            need(1);
            length = command - 0x80 + 2;
            const size_t distance = size_t(data[at]) + 1;
            at += 1;
            if (distance > cursor)
                throw PackedFrameError("a copy from before the picture");
            from = cursor - distance;
        } else {
            need(length);
        }
        if (cursor + length > screen.size())
            throw PackedFrameError("a run past the end of video memory");
        if (command < 0x80) {
            std::copy_n(data.begin() + ptrdiff_t(at), length, screen.begin() + ptrdiff_t(cursor));
            at += length;
        } else {
            for (size_t k = 0; k < length; ++k)
                screen[cursor + k] = screen[from + k];
        }
        cursor += length;
    }
}

} // namespace pelorin::tvc
