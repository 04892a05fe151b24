#include "testing/lines_check.h"

#include "pipeline/vram.h"
#include "testing/beam.h"
#include "testing/tvc_machine.h"

#include <algorithm>
#include <random>

namespace pelorin::tvc::test {

namespace {

    constexpr uint16_t kStack32K = 0x7FF0; // BASIC's stack, high in U1
    constexpr size_t kMostProblems = 20;

    void Note(LinesCheck& check, const std::string& problem)
    {
        if (check.problems.size() < kMostProblems)
            check.problems.push_back(problem);
    }

    // The first line where two pictures differ, -1 where none.
    int FirstDifferentLine(const platform::Surface& a, const platform::Surface& b)
    {
        for (int y = 0; y < a.height; ++y)
            if (!std::equal(a.Row(y), a.Row(y) + a.width, b.Row(y)))
                return y;
        return -1;
    }

    std::string Registers(const PaletteRegisters& registers)
    {
        std::string text;
        for (const uint8_t r : registers)
            text += (text.empty() ? "" : " ") + std::to_string(r);
        return text;
    }

    class OneFrame : public TvcFrames {
    public:
        explicit OneFrame(std::vector<uint8_t> vram)
            : m_vram(std::move(vram))
        {
        }
        size_t Count() const override { return 1; }
        void Read(size_t, std::vector<uint8_t>& vram) const override { vram = m_vram; }

    private:
        std::vector<uint8_t> m_vram;
    };

} // namespace

LinesCheck PlayLinesAndCheck(
    std::span<const uint8_t> cas, const TvcFile& expected, int phases, int fields)
{
    LinesCheck check;
    const platform::Surface want = WorkingPicture(expected, 0);
    int64_t writesBetweenLines = 0;
    bool firstClear = true;
    for (int j = 0; j < phases; ++j) {
        for (const bool waits : { false, true }) {
            const std::string run = (waits ? "with video-RAM waits" : "plain timing")
                + std::string(", first flag at ") + std::to_string(20'000 + j);
            TvcMachine machine(TvcMachine::Model::Tvc32K);
            machine.SetFieldPhase(uint64_t(20'000 + j));
            machine.SetVideoRamWaits(waits);
            if (const std::string error = machine.LoadCas(cas); !error.empty()) {
                Note(check, "not loaded: " + error);
                return check;
            }
            machine.Call(kCodeAddress, kStack32K, false);
            // The program clears the flag once before it waits for the first it times by.
            const auto clears = [&] {
                return std::count_if(machine.PortWrites().begin(), machine.PortWrites().end(),
                    [](const TvcMachine::PortWrite& w) { return w.port == 0x07; });
            };
            machine.Run(4'000'000, [&] { return clears() > 0; });
            if (clears() == 0) {
                Note(check, run + ": the program never cleared the field flag");
                continue;
            }
            const uint64_t start = machine.Cycles();
            const uint64_t phase = machine.FieldPhase();
            const uint64_t firstFlag = phase
                + ((start - phase) / TvcMachine::kFieldCycles + 1) * TvcMachine::kFieldCycles;
            const uint64_t end = firstFlag + uint64_t(fields) * TvcMachine::kFieldCycles;
            machine.Run(end - start + 1, [&] { return machine.Cycles() >= end; });
            for (const std::string& fault : machine.Faults())
                Note(check, run + ": " + fault);
            const std::vector<uint8_t> vram(
                machine.VideoRam().begin(), machine.VideoRam().begin() + kVramFrameBytes);
            if (vram != expected.Frame(0))
                Note(check, run + ": video RAM differs from the picture's");
            TvcFile shown = expected;
            shown.frames = std::make_shared<OneFrame>(vram);
            for (int f = 0; f < fields; ++f) {
                const uint64_t flag = firstFlag + uint64_t(f) * TvcMachine::kFieldCycles;
                const BeamField field = TraceField(machine.PortWrites(), flag);
                ++check.fieldsChecked;
                for (const std::string& p : field.problems)
                    Note(check, run + ", field " + std::to_string(f) + ": " + p);
                check.mostWritesInLine = std::max(check.mostWritesInLine, field.mostWritesInLine);
                writesBetweenLines += field.writesBetweenLines;
                if (field.leastSlackCycles >= 0
                    && (check.leastSlackCycles < 0
                        || field.leastSlackCycles < check.leastSlackCycles))
                    check.leastSlackCycles = field.leastSlackCycles;
                shown.lineRegisters = field.lineRegisters;
                shown.registers = field.lineRegisters[0];
                const platform::Surface got = WorkingPicture(shown, 0);
                if (const int y = FirstDifferentLine(got, want); y >= 0) {
                    const size_t line = size_t(y) * kVramLines / size_t(want.height);
                    const PaletteRegisters& wanted = expected.lineRegisters.empty()
                        ? expected.registers
                        : expected.lineRegisters[line];
                    Note(check,
                        run + ", field " + std::to_string(f) + ": line " + std::to_string(line)
                            + " drawn with registers " + Registers(field.lineRegisters[line])
                            + ", not " + Registers(wanted));
                }
                // The clear that follows this field's flag.
                for (const TvcMachine::PortWrite& w : machine.PortWrites())
                    if (w.port == 0x07 && w.cycle >= flag
                        && w.cycle < flag + TvcMachine::kFieldCycles) {
                        const uint64_t delay = w.cycle - flag;
                        check.soonestClear
                            = firstClear ? delay : std::min(check.soonestClear, delay);
                        check.latestClear = firstClear ? delay : std::max(check.latestClear, delay);
                        firstClear = false;
                        break;
                    }
            }
            machine.SetKeyDown(true);
            if (!machine.Run(4 * TvcMachine::kFieldCycles) || !machine.Returned())
                Note(check, run + ": no return to BASIC after the key");
            else if (machine.Paging() != TvcMachine::kBasicPaging
                || machine.StackPointer() != kStack32K)
                Note(check, run + ": the machine not handed back as BASIC had it");
        }
    }
    const int64_t lines = int64_t(check.fieldsChecked) * int64_t(kVramLines - 1);
    check.meanWritesPerLine = lines > 0 ? double(writesBetweenLines) / double(lines) : 0;
    return check;
}

TvcPicture RandomLinesPicture(const TvcMode& mode, uint32_t seed)
{
    std::mt19937 random(seed);
    TvcPicture picture;
    picture.mode = &mode;
    picture.vram.resize(kVramFrameBytes);
    for (uint8_t& byte : picture.vram)
        byte = uint8_t(random());
    // Colours 0-15 as the registers hold them: 0 I 0 G 0 R 0 B.
    const auto colour = [&] { return uint8_t(random() & 0x55); };
    for (uint8_t& r : picture.registers)
        r = colour();
    picture.lineRegisters.assign(1, picture.registers);
    for (size_t y = 1; y < kVramLines; ++y) {
        PaletteRegisters next = picture.lineRegisters.back();
        std::array<size_t, 4> order { 0, 1, 2, 3 };
        std::shuffle(order.begin(), order.end(), random);
        const size_t changes = y % (kMaxRegisterChanges + 1);
        for (size_t k = 0; k < changes; ++k) {
            uint8_t& r = next[order[k]];
            const uint8_t was = r;
            while (r == was)
                r = colour();
        }
        picture.lineRegisters.push_back(next);
    }
    return picture;
}

TvcFile FileOf(const TvcPicture& picture)
{
    TvcFile file;
    file.mode = picture.mode;
    file.registers = picture.registers;
    file.lineRegisters = picture.lineRegisters;
    file.frames = std::make_shared<OneFrame>(picture.vram);
    return file;
}

} // namespace pelorin::tvc::test
