#include "testing/tvc_machine.h"
#include "tvc_files.h"

#include "convert/palette.h"
#include "pipeline/vram.h"

#include <gtest/gtest.h>

#include <random>

namespace pelorin::tvc {
namespace {

    using test::TvcMachine;

    platform::Surface RandomWorking(const TvcMode& mode, uint32_t seed)
    {
        platform::Surface picture(mode.workingWidth, mode.workingHeight);
        std::mt19937 random(seed);
        for (uint32_t& pixel : picture.pixels)
            pixel = PackEntry(mode.palette[random() % mode.palette.size()]);
        return picture;
    }

    // BASIC's stack on a 32K machine: high in U1, clear of a picture program.
    constexpr uint16_t kStack32K = 0x7FF0;

    struct PictureRun {
        std::vector<uint8_t> vramAtKeyWait;
        std::vector<TvcMachine::PortWrite> writes;
    };

    // Loads `cas` on a 32K model, calls the code as the BASIC line does, runs to the wait for
    // a key, presses one and runs to the return. Faults fail the test.
    PictureRun RunPicture(
        const std::vector<uint8_t>& cas, bool interruptsOn, uint64_t fieldPhase = 20'000)
    {
        PictureRun result;
        TvcMachine machine(TvcMachine::Model::Tvc32K);
        machine.SetFieldPhase(fieldPhase);
        EXPECT_EQ(machine.LoadCas(cas), "");
        machine.Call(kCodeAddress, kStack32K, interruptsOn);
        EXPECT_TRUE(machine.Run(2'000'000, [&] { return machine.KeyboardReads() > 0; }))
            << "no wait for a key";
        result.vramAtKeyWait.assign(
            machine.VideoRam().begin(), machine.VideoRam().begin() + kVramFrameBytes);
        // Waiting: no key for a while, then one.
        EXPECT_FALSE(machine.Run(100'000));
        EXPECT_FALSE(machine.Returned()) << "returned without a key";
        machine.SetKeyDown(true);
        EXPECT_TRUE(machine.Run(100'000)) << "no return after the key";
        EXPECT_TRUE(machine.Returned());
        EXPECT_EQ(machine.Paging(), TvcMachine::kBasicPaging);
        EXPECT_EQ(machine.LowRam(0x0003), TvcMachine::kBasicPaging);
        EXPECT_EQ(machine.InterruptsOn(), interruptsOn);
        EXPECT_EQ(machine.StackPointer(), kStack32K);
        // The keyboard's rows chosen beside the expansion slot the system had, and the system's
        // value back on the way out.
        for (const auto& w : machine.PortWrites()) {
            if (w.port == 0x03) {
                EXPECT_EQ(w.value & 0xC0, TvcMachine::kBasicPort03 & 0xC0);
            }
        }
        EXPECT_EQ(machine.LastWrite(0x03), TvcMachine::kBasicPort03);
        for (const std::string& fault : machine.Faults())
            ADD_FAILURE() << fault;
        result.writes = machine.PortWrites();
        return result;
    }

    TEST(PictureProgram, ShowsThePictureInEveryModeAndReturnsAsItFoundTheMachine)
    {
        for (const TvcMode& mode : TvcModes()) {
            SCOPED_TRACE(mode.QuotedCaption());
            const platform::Surface working = RandomWorking(mode, uint32_t(mode.number));
            std::vector<uint8_t> expected;
            PackVram(working, mode, expected);
            for (const bool interruptsOn : { true, false }) {
                const PictureRun run
                    = RunPicture(PictureCasBytes(PictureFromWorking(working, mode)), interruptsOn);
                EXPECT_TRUE(run.vramAtKeyWait == expected) << "video RAM differs";
                // Written once each: the mode, the registers, the border; paging switched to
                // video RAM and back.
                std::vector<std::pair<int, int>> settings;
                std::vector<int> paging;
                for (const auto& w : run.writes) {
                    if (w.port == 0x02)
                        paging.push_back(w.value);
                    else if (w.port == 0x06 || w.port == 0x00 || (w.port >= 0x60 && w.port <= 0x63))
                        settings.emplace_back(w.port, w.value);
                }
                EXPECT_EQ(paging, (std::vector<int> { 0x50, 0x70, 0x70 })); // and on the way out
                const PaletteRegisters regs = PaletteRegistersOf(mode);
                // The mode beside the system's sound and printer bits, and on the way out the
                // system's own value again.
                const int port06 = (TvcMachine::kBasicPort06 & 0xFC) | ModePortValue(mode);
                const std::vector<std::pair<int, int>> want { { 0x06, port06 }, { 0x60, regs[0] },
                    { 0x61, regs[1] }, { 0x62, regs[2] }, { 0x63, regs[3] },
                    { 0x00, kBorderColour }, { 0x06, TvcMachine::kBasicPort06 } };
                EXPECT_EQ(settings, want);
            }
        }
    }

    TEST(PictureProgram, AnInterruptDuringTheFirstLookAtTheInterruptStateDoesNotLeaveThemOff)
    {
        // The model first: LD A,I with the field's interrupt accepted right after it reads
        // "off" as the NMOS Z80 does. LD A,I; DI; PUSH AF; POP BC; LD A,C; LD (7000h),A; RET.
        const uint8_t look[] = { 0xED, 0x57, 0xF3, 0xF5, 0xC1, 0x79, 0x32, 0x00, 0x70, 0xC9 };
        for (const uint64_t phase : { uint64_t(5), uint64_t(20'000) }) {
            TvcMachine machine(TvcMachine::Model::Tvc32K);
            ASSERT_EQ(machine.LoadCas(CasBytes(look, {})), "");
            machine.SetFieldPhase(phase);
            machine.Call(kCodeAddress, kStack32K, true);
            ASSERT_TRUE(machine.Run(1000));
            EXPECT_EQ((machine.LowRam(0x7000) & 0x04) != 0, phase != 5) << "phase " << phase;
        }
        // The program: the flag comes up at every moment of its first instructions.
        const TvcMode& mode = TvcModeOf(4);
        const std::vector<uint8_t> cas = PictureCasBytes(PictureFromWorking(RandomWorking(mode, 3), mode));
        for (uint64_t phase = 1; phase <= 40; ++phase) {
            SCOPED_TRACE("flag at cycle " + std::to_string(phase));
            RunPicture(cas, true, phase);
        }
    }

    TEST(PictureProgram, ModelFaultsOnRomAccess)
    {
        // The model itself: code that reads the system ROM's page must fail.
        const uint8_t code[] = { 0x3A, 0x00, 0xC0, 0xC9 }; // LD A,(C000h); RET
        TvcMachine machine(TvcMachine::Model::Tvc32K);
        ASSERT_EQ(machine.LoadCas(CasBytes(code, {})), "");
        machine.Call(kCodeAddress, kStack32K, false);
        EXPECT_FALSE(machine.Run(1000));
        ASSERT_EQ(machine.Faults().size(), 1u);
        EXPECT_NE(machine.Faults()[0].find("system ROM"), std::string::npos) << machine.Faults()[0];
    }

    TEST(PictureProgram, ModelRefusesBrokenHeaders)
    {
        const TvcMode& mode = TvcModeOf(2);
        std::vector<uint8_t> cas
            = PictureCasBytes(PictureFromWorking(RandomWorking(mode, 9), mode));
        TvcMachine machine(TvcMachine::Model::Tvc32K);
        std::vector<uint8_t> shorter(cas.begin(), cas.end() - 1);
        EXPECT_NE(machine.LoadCas(shorter), "");
        cas[0x84] = 0;
        EXPECT_NE(machine.LoadCas(cas), "");
    }

} // namespace
} // namespace pelorin::tvc
