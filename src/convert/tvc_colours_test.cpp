#include "convert/tvc_colours.h"

#include <gtest/gtest.h>

namespace pelorin {
namespace {

    TEST(TvcColours, RegisterValuesFollowTheSixteenColourPixelBits)
    {
        // Worked by hand from 0 I 0 G 0 R 0 B: blue bit 0, red bit 2, green bit 4, bright bit 6.
        EXPECT_EQ(RegisterValue(0), 0x00);
        EXPECT_EQ(RegisterValue(15), 0x55);
        EXPECT_EQ(RegisterValue(9), 0x41); // bright blue
        EXPECT_EQ(RegisterValue(10), 0x44); // bright red
        EXPECT_EQ(RegisterValue(6), 0x14); // dark yellow: red and green
        EXPECT_EQ(RegisterValue(5), 0x11); // dark cyan: green and blue
        for (int c = 0; c < kTvcColourCount; ++c)
            EXPECT_EQ(ColourOfRegister(RegisterValue(c)), c);
        EXPECT_FALSE(ColourOfRegister(0xAA).has_value());
        EXPECT_FALSE(ColourOfRegister(0x02).has_value());
        const std::vector<int> own { 0, 15, 9, 10 };
        EXPECT_EQ(RegisterText(own), "0x00 0x55 0x41 0x44");
    }

    TEST(TvcColours, EntriesShowLitChannelsDimOrBright)
    {
        // PaletteEntry is blue, green, red.
        EXPECT_EQ(ColourOfEntry({ 0, 0, 0, 0 }), 0);
        EXPECT_EQ(ColourOfEntry({ 255, 255, 255, 0 }), 15);
        EXPECT_EQ(ColourOfEntry({ 255, 0, 0, 0 }), 9); // bright blue
        EXPECT_EQ(ColourOfEntry({ 0, 145, 0, 0 }), 4); // dim green
        EXPECT_EQ(ColourOfEntry({ 145, 145, 0, 0 }), 5); // dim cyan
        EXPECT_FALSE(ColourOfEntry({ 128, 0, 0, 0 }));
        EXPECT_FALSE(ColourOfEntry({ 145, 255, 0, 0 }));
        for (int c = 0; c < kTvcColourCount; ++c) {
            const uint8_t reg = RegisterValue(c);
            // Colour 8 is black, which has no intensity of its own.
            EXPECT_EQ(ColourOfEntry(EntryOfColour(c)), c == 8 ? 0 : c) << "colour " << c;
            EXPECT_EQ(EntryOfRegister(reg), kTvcPalette16[size_t(c)]) << "colour " << c;
            // A register read from a file may set the bits that show nothing.
            EXPECT_EQ(EntryOfRegister(uint8_t(reg | 0xAA)), kTvcPalette16[size_t(c)]);
        }
    }

    TEST(TvcColours, NamesReadBackInAnySpelling)
    {
        for (int c = 0; c < kTvcColourCount; ++c)
            EXPECT_EQ(ColourOfName(ColourName(c)), c) << ColourName(c);
        EXPECT_EQ(ColourName(2), "dark-red");
        EXPECT_EQ(ColourOfName("Dark_Red"), 2);
        EXPECT_EQ(ColourOfName("dark yellow"), 6);
        EXPECT_EQ(ColourOfName("GREY"), 7);
        EXPECT_FALSE(ColourOfName("purple"));
        // Of the two blacks the lower number, and a colour near a dim one finds it.
        EXPECT_EQ(NearestColour(0, 0, 0), 0);
        EXPECT_EQ(NearestColour(150, 140, 0), 6);
        EXPECT_EQ(NearestColour(250, 255, 240), 15);
    }

} // namespace
} // namespace pelorin
