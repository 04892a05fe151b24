#include "tvc_files.h"

#include "convert/palette.h"
#include "pipeline/vram.h"

#include <gtest/gtest.h>

#include <random>

namespace pelorin::tvc {
namespace {

    // A working picture of `mode` whose pixels are the mode's colours, picked at random.
    platform::Surface RandomWorking(const TvcMode& mode, uint32_t seed)
    {
        platform::Surface picture(mode.workingWidth, mode.workingHeight);
        std::mt19937 random(seed);
        for (uint32_t& pixel : picture.pixels)
            pixel = PackEntry(mode.palette[random() % mode.palette.size()]);
        return picture;
    }

    TEST(TvcPictureFile, ModeRegistersShowTheModesPalette)
    {
        EXPECT_EQ(PaletteRegistersOf(TvcModeOf(2)), (PaletteRegisters { 0x00, 0x55, 0x00, 0x00 }));
        EXPECT_EQ(PaletteRegistersOf(TvcModeOf(4)), (PaletteRegisters { 0x00, 0x55, 0x41, 0x44 }));
        EXPECT_EQ(ModePortValue(TvcModeOf(2)), 0);
        EXPECT_EQ(ModePortValue(TvcModeOf(4)), 1);
        EXPECT_EQ(ModePortValue(TvcModeOf(16)), 2);
    }

    TEST(KepFile, HoldsSignatureModeRegistersAndVideoMemory)
    {
        for (const TvcMode& mode : TvcModes()) {
            const platform::Surface working = RandomWorking(mode, 7);
            const std::vector<uint8_t> kep = KepBytes(PictureFromWorking(working, mode));
            ASSERT_EQ(kep.size(), 15368u);
            EXPECT_EQ(std::string(kep.begin(), kep.begin() + 3), "KEP");
            EXPECT_EQ(kep[3], ModePortValue(mode));
            const PaletteRegisters registers = PaletteRegistersOf(mode);
            EXPECT_TRUE(std::equal(registers.begin(), registers.end(), kep.begin() + 4));
            std::vector<uint8_t> vram;
            PackVram(working, mode, vram);
            EXPECT_TRUE(std::equal(vram.begin(), vram.end(), kep.begin() + 8)) << mode.number;
        }
    }

    TEST(CasFile, HeadersCountTheWholeFileAndTheLineCallsTheCode)
    {
        const uint8_t code[] = { 0xC9 };
        const uint8_t data[300] = {};
        const std::vector<uint8_t> cas = CasBytes(code, data);
        // 144 header bytes, the 16-byte BASIC part, the code and the data.
        const size_t size = 144 + 16 + 1 + 300;
        ASSERT_EQ(cas.size(), size);
        EXPECT_EQ(cas[0], 0x11);
        EXPECT_EQ(cas[2] + 256 * cas[3], int(size / 128));
        EXPECT_EQ(cas[4], int(size % 128));
        EXPECT_EQ(cas[0x81], 0x01);
        EXPECT_EQ(cas[0x82] + 256 * cas[0x83], int(size - 144));
        EXPECT_EQ(cas[0x84], 0xFF);
        // 1 X=USR(6655), tokenised: the length, line 1, X = U S R ( 6 6 5 5 ) and the line end,
        // then the program's end.
        const std::vector<uint8_t> line { 15, 1, 0, 'X', 0x9A, 'U', 'S', 'R', 0x96, '6', '6', '5',
            '5', 0x95, 0xFF, 0x00 };
        EXPECT_EQ(std::vector<uint8_t>(cas.begin() + 144, cas.begin() + 160), line);
        EXPECT_EQ(0x19EF + 16, 6655);
        EXPECT_EQ(cas[160], 0xC9);
    }

    TEST(CasFile, PictureProgramEndsBelow8000h)
    {
        const TvcMode& mode = TvcModeOf(16);
        const std::vector<uint8_t> cas
            = PictureCasBytes(PictureFromWorking(RandomWorking(mode, 1), mode));
        EXPECT_LT(0x19EF + cas.size() - 144, 0x8000u);
    }

    TEST(TvcPictureFile, RefusesAPictureOutsideThePalette)
    {
        const TvcMode& mode = TvcModeOf(4);
        platform::Surface working = RandomWorking(mode, 3);
        working.pixels[5] = 0x123456;
        EXPECT_THROW(PictureFromWorking(working, mode), std::invalid_argument);
        EXPECT_THROW(WriteTvcPictureFile("/tmp/never-written.png", RandomWorking(mode, 3), mode),
            std::invalid_argument);
    }

} // namespace
} // namespace pelorin::tvc
