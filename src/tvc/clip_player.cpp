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

    constexpr size_t kSettingsBytes = 18;
    constexpr size_t kRegionOneEnd = 0x8000;
    // Page 2 of the loaded program is played from page 3.
    constexpr size_t kRegionTwoShift = 0x4000;
    // The player keeps the field it waits for in 16 bits and compares by the sign of the
    // difference, so frames may lie up to half of that apart.
    constexpr uint64_t kMostFieldsAFrame = 0x7FFF;

    // The blanking after the field's flag (74 lines, 14,800 cycles), counted with room for a
    // machine whose video RAM is slower.
    constexpr uint64_t kBlankingCycles = 12'000;

    size_t Runtime(size_t loadAddress)
    {
        return loadAddress < kRegionOneEnd ? loadAddress : loadAddress + kRegionTwoShift;
    }

    void PutJump(uint8_t* at, size_t target, bool startsRecord)
    {
        if (startsRecord) {
            *at++ = kRecordJump;
        } else {
            *at++ = 0x00;
            *at++ = kJumpCommand;
        }
        at[0] = uint8_t(target & 0xFF);
        at[1] = uint8_t(target >> 8);
    }

    // The lead byte: in bits 6-0 how many fields before its due field a frame's drawing starts:
    // the fields its drawing takes, rounded a little down, so that a frame that takes long to
    // draw is complete within half a field of where a quick one is, a tenth of a field or so
    // after its due field's flag. (The player
    // starts it no earlier than the frame before has been whole on the screen for a field.)
    // Bit 7: the drawing goes on past the blanking after the flag, so the frame is whole only
    // from the next field on.
    uint8_t Lead(const PackedFrame& record)
    {
        const uint64_t cycles = DrawCycles(record.bytes);
        const uint64_t fields
            = std::min<uint64_t>((cycles + kFieldCycles * 2 / 5) / kFieldCycles, 0x7E);
        return uint8_t(fields | (cycles > kBlankingCycles ? 0x80 : 0));
    }

} // namespace

// Where the program's records go: one after the other from the end of the settings, a command
// at a time, with a jump to page 3's copy of U2 before the first command that would reach
// 8000h (the player reads U2's part there). A record's lead byte stays with its first command;
// a jump before them is a record's jump, one between commands a command's.
struct ClipBuilder::Placed {
    size_t pos = kCodeAddress; // load address after the last byte placed
    size_t regionJump = 0; // load address of the jump to page 3; 0 while none
    bool regionJumpStartsRecord = false;
    std::vector<size_t> recordStarts; // load address of each record's lead byte
    bool fits = true;

    // Places `bytes` that stay together; `put` gets their load address.
    template <class Put> void Chunk(size_t bytes, bool startsRecord, const Put& put)
    {
        if (regionJump == 0 && pos + bytes + kJumpBytes > kRegionOneEnd) {
            regionJump = pos;
            regionJumpStartsRecord = startsRecord;
            pos = kRegionOneEnd;
        }
        if (pos + bytes > kClipLoadLimit)
            fits = false;
        put(pos);
        pos += bytes;
    }
    // A record, its lead and then a command at a time: `put(load address, from, bytes)` with
    // offsets into the lead byte followed by the commands.
    template <class Put> void Record(const PackedFrame& record, const Put& put)
    {
        const std::vector<uint32_t>& starts = record.commandStarts;
        for (size_t k = 0; k < starts.size(); ++k) {
            const size_t from = k == 0 ? 0 : starts[k] + 1;
            const size_t to = k + 1 < starts.size() ? starts[k + 1] + 1 : record.bytes.size() + 1;
            Chunk(to - from, k == 0, [&](size_t load) {
                if (k == 0)
                    recordStarts.push_back(load);
                put(load, from, to - from);
            });
        }
    }
    // The way back to frame 0 and the jump on to frame 1.
    template <class Put> void Loop(const PackedFrame& wrap, const Put& put)
    {
        Record(wrap, put);
        recordStarts.pop_back();
        Chunk(kRecordJumpBytes, true, [](size_t) {});
    }
};

ClipBuilder::ClipBuilder(const TvcMode& mode, int64_t rateNumerator, int64_t rateDenominator,
    std::optional<PaletteRegisters> registers)
    : m_mode(&mode)
    , m_registers(registers ? *registers : PaletteRegistersOf(mode))
    , m_rateNumerator(rateNumerator)
    , m_rateDenominator(rateDenominator)
    , m_placed(std::make_unique<Placed>())
{
    if (rateNumerator <= 0 || rateDenominator <= 0 || rateNumerator > 0xFFFFFFFF
        || rateDenominator > 0xFFFFFFFF)
        throw std::invalid_argument(
            "a clip needs a frame rate above 0, as a ratio of 32-bit numbers");
    // Fields a frame, 16.16, rounded: denominator · clock · 65536 / (numerator · field).
    const __int128 scaled = __int128(rateDenominator) * kTvcClockHz * 65536;
    const __int128 per = __int128(rateNumerator) * kFieldCycles;
    const __int128 step = (scaled * 2 + per) / (2 * per);
    if (step > __int128(kMostFieldsAFrame) << 16)
        throw std::invalid_argument("the player waits at most "
            + std::to_string(kMostFieldsAFrame * kFieldCycles / kTvcClockHz)
            + " s between frames; the frame rate is too low");
    m_fieldStep = uint32_t(std::max<__int128>(step, 1));
    m_placed->pos = kCodeAddress + PlayClipCode().size() + kSettingsBytes;
}

ClipBuilder::~ClipBuilder() = default;
ClipBuilder::ClipBuilder(ClipBuilder&&) noexcept = default;

bool ClipBuilder::Add(std::span<const uint8_t> vram)
{
    if (vram.size() != kVramFrameBytes)
        throw std::invalid_argument(
            "a frame of video memory has " + std::to_string(kVramFrameBytes) + " bytes");
    if (m_full)
        return false;
    static const std::vector<uint8_t> kEmpty(kVramFrameBytes, 0);
    PackedFrame record = PackInTime(m_records.empty() ? std::span<const uint8_t>(kEmpty)
                                                      : std::span<const uint8_t>(m_last),
        vram, m_records.empty());
    PackedFrame wrap
        = PackInTime(vram, m_records.empty() ? vram : std::span<const uint8_t>(m_first), false);

    Placed trial = *m_placed;
    const auto nothing = [](size_t, size_t, size_t) {};
    trial.Record(record, nothing);
    trial.Loop(wrap, nothing);
    if (!trial.fits) {
        m_full = true;
        return false;
    }
    m_placed->Record(record, nothing);
    if (!m_records.empty()) {
        for (size_t i = 0; i < vram.size(); ++i)
            m_changedBytes += vram[i] != m_last[i];
    }
    m_records.push_back(std::move(record));
    m_wrap = std::move(wrap);
    if (m_first.empty())
        m_first.assign(vram.begin(), vram.end());
    m_last.assign(vram.begin(), vram.end());
    return true;
}

bool ClipBuilder::InTime(uint64_t drawCycles) const
{
    // A frame drawn within the blanking after its flag is whole on the screen from that field
    // on. A longer one starts its whole fields early, and the next frame waits until it has
    // been whole for a field: it takes its whole fields and two more of the fewest between two
    // frames.
    const uint64_t fewestFields = m_fieldStep >> 16;
    return drawCycles <= kBlankingCycles
        || (fewestFields >= 2 && drawCycles < (fewestFields - 1) * kFieldCycles);
}

PackedFrame ClipBuilder::PackInTime(
    std::span<const uint8_t> before, std::span<const uint8_t> after, bool first) const
{
    // Frame 0 is drawn before the clock starts; any other frame that would be late is packed
    // again with long copies only, or none, which the player draws faster.
    PackedFrame packed = PackFrame(before, after);
    for (const size_t leastCopy : { 8, 24, 0 }) {
        if (first || InTime(DrawCycles(packed.bytes)))
            break;
        packed = PackFrame(before, after, leastCopy);
    }
    return packed;
}

size_t ClipBuilder::RecordBytes(
    std::span<const uint8_t> before, std::span<const uint8_t> after) const
{
    return 1 + PackInTime(before, after, false).bytes.size(); // the lead byte and the commands
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
    const size_t dataStart = kCodeAddress + PlayClipCode().size();
    Placed placed;
    placed.pos = dataStart + kSettingsBytes;
    std::vector<uint8_t> data(kClipLoadLimit - dataStart, 0);
    data[0] = ModePortValue(*m_mode);
    std::copy(m_registers.begin(), m_registers.end(), data.begin() + 1);
    data[5] = kBorderColour;
    for (int i = 0; i < 4; ++i) {
        data[6 + size_t(i)] = uint8_t(uint64_t(m_rateNumerator) >> (8 * i));
        data[10 + size_t(i)] = uint8_t(uint64_t(m_rateDenominator) >> (8 * i));
        data[14 + size_t(i)] = uint8_t(m_fieldStep >> (8 * i));
    }
    const auto place = [&](const PackedFrame& record, bool first) {
        placed.Record(record, [&](size_t load, size_t from, size_t bytes) {
            uint8_t* at = data.data() + (load - dataStart);
            if (from == 0) {
                *at++ = first ? 0 : Lead(record);
                ++from;
                --bytes;
            }
            std::copy_n(record.bytes.begin() + ptrdiff_t(from - 1), bytes, at);
        });
    };
    for (size_t r = 0; r < m_records.size(); ++r)
        place(m_records[r], r == 0);
    place(m_wrap, false);
    size_t loopJump = 0;
    placed.Chunk(kRecordJumpBytes, true, [&](size_t load) { loopJump = load; });
    if (!placed.fits)
        throw std::logic_error("the clip was let grow past its memory");
    // The loop goes on with frame 1, or with the way back to frame 0 when there is only one.
    const size_t loopTarget = placed.recordStarts.size() > 1 ? placed.recordStarts[1]
                                                             : placed.recordStarts.back();
    PutJump(data.data() + (loopJump - dataStart), Runtime(loopTarget), true);
    if (placed.regionJump != 0)
        PutJump(data.data() + (placed.regionJump - dataStart), Runtime(kRegionOneEnd),
            placed.regionJumpStartsRecord);
    data.resize(placed.pos - dataStart);
    return tvc::CasBytes(PlayClipCode(), data);
}

std::vector<size_t> ClipBuilder::FrameRecordOffsets() const
{
    Placed placed = *m_placed;
    placed.Record(m_wrap, [](size_t, size_t, size_t) {});
    std::vector<size_t> offsets;
    for (const size_t load : placed.recordStarts)
        offsets.push_back(kCasHeaderBytes + (load - kProgramLoadAddress));
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
    Placed placed = *m_placed;
    placed.Loop(m_wrap, [](size_t, size_t, size_t) {});
    s.bytesUsed = placed.pos - kProgramLoadAddress;
    uint64_t slowest = 0, total = 0;
    for (size_t r = 1; r <= m_records.size(); ++r) {
        const PackedFrame& record = r < m_records.size() ? m_records[r] : m_wrap;
        const uint64_t cycles = DrawCycles(record.bytes);
        slowest = std::max(slowest, cycles);
        total += cycles;
        if (!InTime(cycles))
            ++s.lateFrames;
    }
    s.slowestFrameSeconds = double(slowest) / kTvcClockHz;
    s.meanFrameSeconds = double(total) / double(m_records.size()) / kTvcClockHz;
    if (m_records.size() > 1)
        s.meanChangedBytes = double(m_changedBytes) / double(m_records.size() - 1);
    s.firstFrameBytes = m_records.front().bytes.size() + 1;
    return s;
}

} // namespace pelorin::tvc
