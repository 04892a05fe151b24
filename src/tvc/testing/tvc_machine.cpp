#include "testing/tvc_machine.h"

#include "tvc_files.h"

#include <z80ex/z80ex.h>

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace pelorin::tvc::test {

namespace {

    constexpr size_t kPage = 0x4000;

    std::string Hex(unsigned value, int digits)
    {
        char text[16];
        std::snprintf(text, sizeof text, "%0*Xh", digits, value);
        return text;
    }

} // namespace

struct TvcMachine::Cpu {
    Z80EX_CONTEXT* context = nullptr;
    ~Cpu()
    {
        if (context != nullptr)
            z80ex_destroy(context);
    }
};

TvcMachine::TvcMachine(Model model)
    : m_cpu(std::make_unique<Cpu>())
    , m_model(model)
    , m_u0(kPage, 0)
    , m_u1(kPage, 0)
    , m_vram(kPage, 0)
{
    if (model == Model::Tvc64K) {
        m_u2.assign(kPage, 0);
        m_u3.assign(kPage, 0);
    }
    m_cpu->context = z80ex_create(
        [](Z80EX_CONTEXT* c, Z80EX_WORD a, int m1, void* s) { return ReadMemory(c, a, m1, s); },
        this,
        [](Z80EX_CONTEXT* c, Z80EX_WORD a, Z80EX_BYTE v, void* s) { WriteMemory(c, a, v, s); },
        this, [](Z80EX_CONTEXT* c, Z80EX_WORD p, void* s) { return ReadPort(c, p, s); }, this,
        [](Z80EX_CONTEXT* c, Z80EX_WORD p, Z80EX_BYTE v, void* s) { WritePort(c, p, v, s); }, this,
        [](Z80EX_CONTEXT*, void*) -> Z80EX_BYTE { return 0xFF; }, nullptr);
}

TvcMachine::~TvcMachine() = default;

std::string TvcMachine::LoadCas(std::span<const uint8_t> file)
{
    if (file.size() < kCasHeaderBytes)
        return "the file has " + std::to_string(file.size()) + " bytes, less than its headers";
    if (file[0] != 0x11)
        return "file type " + Hex(file[0], 2) + ", not 11h";
    const size_t blocks = size_t(file[2]) | size_t(file[3]) << 8;
    if (blocks * 128 + file[4] != file.size() || file[4] >= 128)
        return "the file header gives " + std::to_string(blocks) + " blocks and "
            + std::to_string(file[4]) + " bytes, the file has " + std::to_string(file.size());
    for (size_t i = 5; i < 0x80; ++i)
        if (file[i] != 0)
            return "file header byte " + Hex(unsigned(i), 2) + " is not 0";
    if (file[0x80] != 0x00 || file[0x81] != 0x01)
        return "the program header does not name a program";
    const size_t length = size_t(file[0x82]) | size_t(file[0x83]) << 8;
    if (length != file.size() - kCasHeaderBytes)
        return "the program header gives " + std::to_string(length) + " bytes, the file holds "
            + std::to_string(file.size() - kCasHeaderBytes);
    if (file[0x84] != 0xFF)
        return "the program does not start by itself";
    const size_t top = m_model == Model::Tvc64K ? 0xC000 : 0x8000;
    if (kProgramLoadAddress + length > top)
        return "the program reaches " + Hex(unsigned(kProgramLoadAddress + length - 1), 4)
            + ", past the RAM of this model";
    for (size_t i = 0; i < length; ++i) {
        const size_t address = kProgramLoadAddress + i;
        std::vector<uint8_t>& page = address < kPage ? m_u0 : address < 2 * kPage ? m_u1 : m_u2;
        page[address % kPage] = file[kCasHeaderBytes + i];
    }
    return {};
}

void TvcMachine::Call(uint16_t address, uint16_t stack, bool interruptsOn)
{
    Z80EX_CONTEXT* cpu = m_cpu->context;
    z80ex_reset(cpu);
    m_paging = kBasicPaging;
    m_u0[0x0003] = kBasicPaging;
    m_u0[0x0B11] = kBasicPort03;
    m_u0[0x0B13] = kBasicPort06;
    m_keyboardRow = kBasicPort03 & 0x0F;
    // The system's interrupt handler, as far as a program can tell: PUSH AF; OUT (07h),A;
    // POP AF; EI; RETI.
    const uint8_t handler[] = { 0xF5, 0xD3, 0x07, 0xF1, 0xFB, 0xED, 0x4D };
    std::copy(std::begin(handler), std::end(handler), m_u0.begin() + 0x38);
    const uint16_t sp = uint16_t(stack - 2);
    uint8_t* low = Map(sp, "the stack");
    uint8_t* high = Map(uint16_t(sp + 1), "the stack");
    if (low != nullptr && high != nullptr) {
        *low = kReturnAddress & 0xFF;
        *high = kReturnAddress >> 8;
    }
    z80ex_set_reg(cpu, regSP, sp);
    z80ex_set_reg(cpu, regPC, address);
    z80ex_set_reg(cpu, regIM, 1);
    z80ex_set_reg(cpu, regIFF1, interruptsOn ? 1 : 0);
    z80ex_set_reg(cpu, regIFF2, interruptsOn ? 1 : 0);
}

bool TvcMachine::Returned() const { return z80ex_get_reg(m_cpu->context, regPC) == kReturnAddress; }

bool TvcMachine::Run(uint64_t maxCycles, const std::function<bool()>& stop)
{
    Z80EX_CONTEXT* cpu = m_cpu->context;
    const uint64_t end = m_cycles + maxCycles;
    while (m_cycles < end) {
        if (!m_faults.empty())
            return false;
        if (Returned() || (stop && stop()))
            return true;
        const uint16_t pc = z80ex_get_reg(cpu, regPC);
        m_cycles += uint64_t(z80ex_step(cpu));
        if (!FlagUp(m_cycles) || z80ex_get_reg(cpu, regIFF1) == 0)
            continue;
        // LD A,I or LD A,R just done (the step after the ED prefix)?
        const uint16_t after = z80ex_get_reg(cpu, regPC);
        const bool readInterruptState = after == uint16_t(pc + 1) && Peek(uint16_t(pc - 1)) == 0xED
            && (Peek(pc) == 0x57 || Peek(pc) == 0x5F);
        const int taken = z80ex_int(cpu);
        if (taken > 0) {
            ++m_interruptsTaken;
            m_cycles += uint64_t(taken);
            if (readInterruptState)
                z80ex_set_reg(cpu, regAF, uint16_t(z80ex_get_reg(cpu, regAF) & ~0x0004));
        }
    }
    return false;
}

uint64_t TvcMachine::Now() const
{
    return m_cycles + uint64_t(z80ex_op_tstate(m_cpu->context));
}

bool TvcMachine::FlagUp(uint64_t cycle) const
{
    if (cycle < m_fieldPhase)
        return false;
    const uint64_t latest = m_fieldPhase + (cycle - m_fieldPhase) / kFieldCycles * kFieldCycles;
    return int64_t(latest) > m_flagClearedAt;
}

uint8_t TvcMachine::Peek(uint16_t address) const
{
    // Only for looking at code the processor has just run from, so mapped; else 0.
    const char* missing = nullptr;
    const uint8_t* at = const_cast<TvcMachine*>(this)->Target(address, missing);
    return at != nullptr ? *at : 0;
}

int TvcMachine::LastWrite(uint8_t port) const
{
    for (auto it = m_portWrites.rbegin(); it != m_portWrites.rend(); ++it)
        if (it->port == port)
            return it->value;
    return -1;
}

bool TvcMachine::InterruptsOn() const { return z80ex_get_reg(m_cpu->context, regIFF1) != 0; }
uint16_t TvcMachine::StackPointer() const { return z80ex_get_reg(m_cpu->context, regSP); }

uint8_t TvcMachine::LowRam(uint16_t address) const
{
    return address < kPage ? m_u0[address] : m_u1[(address - kPage) % kPage];
}

void TvcMachine::Fault(const std::string& what)
{
    m_faults.push_back(what + " at PC " + Hex(z80ex_get_reg(m_cpu->context, regPC), 4) + ", cycle "
        + std::to_string(m_cycles) + ", port 02h " + Hex(m_paging, 2));
}

uint8_t* TvcMachine::Map(uint16_t address, const char* access)
{
    const char* missing = nullptr;
    uint8_t* at = Target(address, missing);
    if (at == nullptr)
        Fault(std::string(access) + " of " + Hex(address, 4) + " reaches " + missing);
    return at;
}

uint8_t* TvcMachine::Target(uint16_t address, const char*& missing)
{
    const size_t offset = address % kPage;
    const auto none = [&](const char* what) -> uint8_t* {
        missing = what;
        return nullptr;
    };
    switch (address / kPage) {
    case 0:
        switch ((m_paging >> 3) & 3) {
        case 0:
            return none("the system ROM");
        case 1:
            return none("the cartridge");
        case 2:
            return &m_u0[offset];
        default:
            return none("video RAM of a 64K+ in page 0");
        }
    case 1:
        return &m_u1[offset];
    case 2:
        if ((m_paging & 0x20) == 0)
            return &m_vram[offset];
        if (m_u2.empty())
            return none("U2, which a 32K TVC lacks");
        return &m_u2[offset];
    default:
        switch ((m_paging >> 6) & 3) {
        case 0:
            return none("the cartridge");
        case 1:
            return none("the system ROM");
        case 2:
            if (m_u3.empty())
                return none("U3, which a 32K TVC lacks");
            return &m_u3[offset];
        default:
            return none("the expansion area");
        }
    }
}

void TvcMachine::VideoRamWait(uint16_t address)
{
    if (m_videoRamWaits && address / kPage == 2 && (m_paging & 0x20) == 0)
        z80ex_w_states(m_cpu->context, (Now() & 1) != 0 ? 1 : 2);
}

uint8_t TvcMachine::ReadMemory(void*, uint16_t address, int m1, void* self)
{
    auto* machine = static_cast<TvcMachine*>(self);
    machine->VideoRamWait(address);
    const uint8_t* at = machine->Map(address, m1 ? "an instruction fetch" : "a read");
    return at != nullptr ? *at : 0xFF;
}

void TvcMachine::WriteMemory(void*, uint16_t address, uint8_t value, void* self)
{
    auto* machine = static_cast<TvcMachine*>(self);
    machine->VideoRamWait(address);
    if (uint8_t* at = machine->Map(address, "a write"))
        *at = value;
}

uint8_t TvcMachine::ReadPort(void*, uint16_t port, void* self)
{
    auto* machine = static_cast<TvcMachine*>(self);
    if ((port & 0xFF) == 0x58) {
        ++machine->m_keyboardReads;
        // Enter is bit 4 of row 5.
        return machine->m_keyDown && machine->m_keyboardRow == 5 ? 0xEF : 0xFF;
    }
    if ((port & 0xFF) == 0x59)
        return machine->FlagUp(machine->Now()) ? 0xEF : 0xFF;
    machine->Fault("a read of port " + Hex(port & 0xFF, 2));
    return 0xFF;
}

void TvcMachine::WritePort(void*, uint16_t port, uint8_t value, void* self)
{
    auto* machine = static_cast<TvcMachine*>(self);
    // z80ex calls this at T2 of the output cycle, when IORQ and WR go active; the port latches
    // the byte when they end, in T3, after the cycle's automatic wait state: 2 cycles later (for
    // OUT (C),r 11 cycles into its 12, for OUT (n),A 10 into its 11).
    constexpr uint64_t kWriteLatchedAfter = 2;
    const PortWrite write { machine->m_cycles + uint64_t(z80ex_op_tstate(machine->m_cpu->context))
            + kWriteLatchedAfter,
        uint8_t(port & 0xFF), value };
    machine->m_portWrites.push_back(write);
    if (write.port == 0x02)
        machine->m_paging = value;
    else if (write.port == 0x03)
        machine->m_keyboardRow = value & 0x0F;
    else if (write.port == 0x07)
        machine->m_flagClearedAt = int64_t(write.cycle);
    if (machine->onPortWrite)
        machine->onPortWrite(write);
}

} // namespace pelorin::tvc::test
