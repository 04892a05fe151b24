#include "testing/beam.h"

#include <algorithm>
#include <cstdio>

namespace pelorin::tvc::test {

namespace {

    bool IsPalettePort(uint8_t port)
    {
        return port >= kFirstPalettePort && port < kFirstPalettePort + 4;
    }

    std::string Describe(const TvcMachine::PortWrite& write)
    {
        char text[64];
        std::snprintf(text, sizeof text, "a write of %02Xh to port %02Xh at cycle %llu",
            write.value, write.port, static_cast<unsigned long long>(write.cycle));
        return text;
    }

} // namespace

BeamField TraceField(std::span<const TvcMachine::PortWrite> writes, uint64_t flagCycle,
    const PaletteRegisters& initial)
{
    BeamField field;
    PaletteRegisters registers = initial;
    const uint64_t firstShown = flagCycle + kFirstLineAfterFlag;
    size_t next = 0;
    const auto applyBefore = [&](uint64_t cycle) {
        for (; next < writes.size() && writes[next].cycle < cycle; ++next)
            if (IsPalettePort(writes[next].port))
                registers[writes[next].port - kFirstPalettePort] = writes[next].value;
    };
    for (uint64_t line = 0; line < kShownLines; ++line) {
        const uint64_t shown = firstShown + line * kLineCycles;
        // The writes of the blanking before this line (of the vertical one before line 0).
        const size_t blankingStart = next;
        applyBefore(shown);
        int inBlanking = 0;
        for (size_t i = blankingStart; i < next; ++i) {
            if (!IsPalettePort(writes[i].port))
                continue;
            const uint64_t cycle = writes[i].cycle;
            // Where the line before ends: line 239 of the field before for line 0, whose own
            // writes before that are that field's concern.
            const uint64_t lineBeforeEnds
                = (line == 0 ? flagCycle : shown) - kLineCycles + kVisibleCycles;
            if (line == 0 && cycle < lineBeforeEnds)
                continue;
            const int64_t afterLast = int64_t(cycle) - int64_t(lineBeforeEnds + kGuardCycles);
            const int64_t beforeNext = int64_t(shown - kGuardCycles) - int64_t(cycle);
            if (afterLast < 0 || beforeNext < 0) {
                field.problems.push_back(Describe(writes[i]) + ", "
                    + std::to_string(int64_t(cycle) - int64_t(shown))
                    + " cycles from the start of line " + std::to_string(line)
                    + ": within a character of a visible part");
                continue;
            }
            if (line == 0)
                continue; // in the vertical blanking: no edge near
            ++inBlanking;
            const int64_t slack = std::min(afterLast, beforeNext);
            if (field.leastSlackCycles < 0 || slack < field.leastSlackCycles)
                field.leastSlackCycles = slack;
        }
        field.mostWritesInLine = std::max(field.mostWritesInLine, inBlanking);
        field.writesBetweenLines += inBlanking;
        field.lineRegisters.push_back(registers);
        // Writes while the line is shown change what the beam draws of it.
        const size_t shownStart = next;
        applyBefore(shown + kVisibleCycles);
        for (size_t i = shownStart; i < next; ++i)
            if (IsPalettePort(writes[i].port))
                field.problems.push_back(Describe(writes[i]) + ", "
                    + std::to_string(writes[i].cycle - shown) + " cycles into line "
                    + std::to_string(line) + ", while it is shown");
    }
    return field;
}

} // namespace pelorin::tvc::test
