#pragma once
// A model of the TVC for running the programs we write for it: a Z80 (the z80ex library) with
// the paging of port 02h, video RAM, RAM U0-U3 and no ROM at all. Any read, write or
// instruction fetch of the system ROM, a cartridge, the expansion area or RAM the model lacks
// (U2 and U3 on a 32K machine) is a fault that stops the run, as is any read of a port other
// than the keyboard's and the picture clock's. Port writes are logged with the cycle the port
// latches them at (the end of the instruction's output cycle); the keyboard reports a key (Enter, row 5) while the test holds it down.
//
// The picture clock: the video chip's flag comes up once a field (every 62,800 cycles, the first
// at FieldPhase()), reads as bit 4 of port 59h low, and stays up until port 07h is written. With
// interrupts on it interrupts the processor (IM 1, at 0038h of page 0, where Call() puts a
// handler like the system's: it writes port 07h and returns with interrupts on). The model
// takes LD A,I as the original NMOS Z80 does: when an interrupt is accepted right after it, the
// P/V flag it set reads 0. With video-RAM waits on, every access to video RAM waits for the
// video chip's 2-cycle character clock (1 or 2 cycles more), as some machines may.
//
// Port 02h: bits 7-6 page 3 (00 cartridge, 01 system ROM, 10 U3, 11 expansion), bit 5 page 2
// (0 video RAM, 1 U2), bits 4-3 page 0 (00 system ROM, 01 cartridge, 10 U0, 11 video RAM on the
// 64K+ only, a fault here); page 1 is always U1.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace pelorin::tvc::test {

class TvcMachine {
public:
    enum class Model { Tvc32K, Tvc64K };
    // Where the caller (BASIC) returns to; never executed, the run stops there.
    static constexpr uint16_t kReturnAddress = 0x1000;
    static constexpr uint8_t kBasicPaging = 0x70; // U0, U1, U2 and the system ROM
    // The system's copies of ports 03h (at 0B11h) and 06h (at 0B13h) as Call() leaves them:
    // an expansion slot and a keyboard row; sound and printer bits beside mode 0.
    static constexpr uint8_t kBasicPort03 = 0x47;
    static constexpr uint8_t kBasicPort06 = 0xA4;
    static constexpr uint64_t kFieldCycles = 62'800;

    explicit TvcMachine(Model model);
    ~TvcMachine();
    TvcMachine(const TvcMachine&) = delete;
    TvcMachine& operator=(const TvcMachine&) = delete;

    // Checks the two headers of a .cas file and puts its program at 19EFh, as the machine's
    // loader does. Returns what is wrong, empty when loaded.
    std::string LoadCas(std::span<const uint8_t> file);

    // The state BASIC calls machine code in: port 02h and 0003h at 70h, the system's copies of
    // ports 03h and 06h, the stack at `stack` holding kReturnAddress, interrupts on or off (IM 1,
    // the handler at 0038h), PC at `address`.
    void Call(uint16_t address, uint16_t stack, bool interruptsOn);

    // Runs until `stop` says so (asked before each instruction), the program returns to
    // kReturnAddress, a fault happens or `maxCycles` more cycles have run. True when `stop`
    // ended it or the program returned.
    bool Run(uint64_t maxCycles, const std::function<bool()>& stop = {});
    bool Returned() const;

    void SetKeyDown(bool down) { m_keyDown = down; }
    // Before Call(): where the first field flag comes, and whether video RAM waits.
    void SetFieldPhase(uint64_t cycle) { m_fieldPhase = cycle; }
    uint64_t FieldPhase() const { return m_fieldPhase; }
    void SetVideoRamWaits(bool on) { m_videoRamWaits = on; }
    // Interrupts the processor accepted.
    int InterruptsTaken() const { return m_interruptsTaken; }
    // The keyboard reads of port 58h so far.
    uint64_t KeyboardReads() const { return m_keyboardReads; }

    struct PortWrite {
        uint64_t cycle;
        uint8_t port;
        uint8_t value;
    };
    const std::vector<PortWrite>& PortWrites() const { return m_portWrites; }
    // Called after every port write is logged.
    std::function<void(const PortWrite&)> onPortWrite;
    // The last value written to `port`; -1 when never written.
    int LastWrite(uint8_t port) const;

    const std::vector<std::string>& Faults() const { return m_faults; }
    uint64_t Cycles() const { return m_cycles; }
    uint8_t Paging() const { return m_paging; }
    bool InterruptsOn() const;
    uint16_t StackPointer() const;

    // The 16 KB of video RAM (the picture in its first 15,360 bytes).
    std::span<const uint8_t> VideoRam() const { return m_vram; }
    // A byte of RAM U0 / U1 (addresses 0000h-7FFFh) as it stands, whatever the paging.
    uint8_t LowRam(uint16_t address) const;

private:
    uint8_t* Map(uint16_t address, const char* access);
    uint8_t* Target(uint16_t address, const char*& missing);
    void VideoRamWait(uint16_t address);
    static uint8_t ReadMemory(void* cpu, uint16_t address, int m1, void* self);
    static void WriteMemory(void* cpu, uint16_t address, uint8_t value, void* self);
    static uint8_t ReadPort(void* cpu, uint16_t port, void* self);
    static void WritePort(void* cpu, uint16_t port, uint8_t value, void* self);
    void Fault(const std::string& what);
    bool FlagUp(uint64_t cycle) const;
    uint64_t Now() const;
    uint8_t Peek(uint16_t address) const;

    struct Cpu;
    std::unique_ptr<Cpu> m_cpu;
    Model m_model;
    std::vector<uint8_t> m_u0, m_u1, m_u2, m_u3, m_vram;
    uint8_t m_paging = kBasicPaging;
    uint8_t m_keyboardRow = 0;
    bool m_keyDown = false;
    uint64_t m_keyboardReads = 0;
    uint64_t m_cycles = 0;
    uint64_t m_fieldPhase = 20'000;
    int64_t m_flagClearedAt = -1;
    bool m_videoRamWaits = false;
    int m_interruptsTaken = 0;
    std::vector<PortWrite> m_portWrites;
    std::vector<std::string> m_faults;
};

} // namespace pelorin::tvc::test
