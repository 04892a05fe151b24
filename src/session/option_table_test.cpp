#include "option_table.h"

#include "option_values.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pelorin::session {
namespace {

    Settings Parse(std::vector<std::string> args, Door door) { return ParseSettings(args, door); }

    TEST(OptionTable, EachDoorsHelpListsExactlyItsOptions)
    {
        for (const Door door : { kTool, kWindow }) {
            const std::string help = OptionsHelp(door, 19);
            for (const OptionSpec& option : OptionTable()) {
                const bool listed = help.find("  " + std::string(option.name)) != std::string::npos;
                EXPECT_EQ(listed, (option.doors & door) != 0) << option.name << " at door " << door;
            }
        }
    }

    TEST(OptionTable, EachDoorRefusesTheOthersOptions)
    {
        EXPECT_THROW(Parse({ "--working" }, kWindow), OptionError);
        EXPECT_THROW(Parse({ "--loop" }, kTool), OptionError);
        EXPECT_TRUE(Parse({ "--loop" }, kWindow).loop);
        EXPECT_EQ(Parse({ "--working" }, kTool).size, Size::Working);
    }

    TEST(OptionTable, ValuesInlineOrAfterOnceEach)
    {
        const Settings s = Parse({ "--mode=4", "--palette", "best", "in.avi" }, kWindow);
        EXPECT_EQ(s.mode->number, 4);
        ASSERT_TRUE(s.palette);
        EXPECT_EQ(s.palette->kind, PaletteRequest::Kind::Best);
        EXPECT_EQ(s.files, std::vector<std::string>({ "in.avi" }));
        EXPECT_THROW(Parse({ "--mode", "4", "--mode", "2" }, kTool), OptionError);
        EXPECT_THROW(Parse({ "--steady=1" }, kTool), OptionError);
        EXPECT_THROW(Parse({ "--gamma" }, kTool), OptionError);
        // The window answers --help whatever follows; the tool reads on.
        EXPECT_TRUE(Parse({ "--help", "--nonsense" }, kWindow).help);
        EXPECT_THROW(Parse({ "--help", "--nonsense" }, kTool), OptionError);
    }

    // What the window writes out for a recipe reads back, at either door, as the same conversion.
    TEST(OptionTable, RecipeArgumentsRoundTrip)
    {
        std::vector<Recipe> recipes(4);
        recipes[1].mode = FindTvcMode(4);
        recipes[1].method = 9;
        recipes[1].steady = true;
        recipes[1].palette.emplace().colours = { 0, 15, 3, 9 };
        recipes[1].adjustments = { 20, -35, 100, 1.75 };
        recipes[1].aspect = video::Aspect::Fill;
        recipes[1].diffusion = Diffusion::Exact;
        recipes[1].linearLight = true;
        recipes[1].distance = Distance::Perceptual;
        recipes[3].diffusion = Diffusion::Exact;
        recipes[2].mode = FindTvcMode(2);
        recipes[2].method = kNoMethod;
        recipes[2].adjustments.gamma = 0.2;
        recipes[2].aspect = video::Aspect::Fit;
        recipes[3].mode = FindTvcMode(4);
        recipes[3].palette.emplace().kind = PaletteRequest::Kind::BestPerScene;
        recipes[3].tvcFps = 12.5;
        recipes[3].denoise = video::Denoise::Light;
        recipes[3].tvcSeconds = 30.5;
        for (const Recipe& recipe : recipes)
            for (const Door door : { kTool, kWindow }) {
                if ((recipe.tvcFps || recipe.denoise != video::Denoise::Off || recipe.tvcSeconds)
                    && door == kWindow)
                    continue;
                const std::vector<std::string> words = RecipeArguments(recipe);
                EXPECT_TRUE(ParseSettings(words, door).SameConversion(recipe))
                    << words.size() << " words at door " << door;
            }
        // Only what differs from the defaults beside mode and method.
        EXPECT_EQ(RecipeArguments(Recipe {}),
            std::vector<std::string>({ "--mode", "16", "--method", MethodWord(1) }));
        EXPECT_TRUE(PictureChoiceArguments(recipes[0]).empty());
    }

    // The exact engine's own choices mean nothing to the integer one: asked for without it,
    // they are refused at either door, naming what is missing.
    TEST(OptionTable, LightAndDistanceNeedTheExactDiffusion)
    {
        for (const Door door : { kTool, kWindow }) {
            for (const std::vector<std::string>& words :
                { std::vector<std::string> { "--linear-light" },
                    { "--distance", "perceptual", "--diffusion", "integer" } }) {
                try {
                    Parse(words, door);
                    ADD_FAILURE() << words[0] << " without --diffusion exact was taken";
                } catch (const OptionError& e) {
                    EXPECT_NE(std::string(e.what()).find("--diffusion exact"), std::string::npos)
                        << e.what();
                }
            }
            const Settings s = Parse(
                { "--distance=perceptual", "--linear-light", "--diffusion", "EXACT" }, door);
            EXPECT_EQ(s.diffusion, Diffusion::Exact);
            EXPECT_EQ(s.distance, Distance::Perceptual);
            EXPECT_TRUE(s.linearLight);
            EXPECT_THROW(Parse({ "--diffusion", "float" }, door), OptionError);
        }
    }

} // namespace
} // namespace pelorin::session
