#include "conversion_session.h"

#include "convert/tvc_colours.h"
#include "pipeline/tvc_mode.h"

#include <gtest/gtest.h>

namespace pelorin::session {
namespace {

    // A history that has kept frame `frame`, as after a steady conversion of it.
    void Keep(SteadyHistory& history, int64_t frame)
    {
        history.Begin({ 4, 1, 256, 240 }, frame);
        history.Finish();
    }

    // Frames of one colour each: frames 0 ... 4 green, 5 ... 9 magenta, so a choice per scene
    // finds a cut at 5.
    class TwoScenes : public FrameReader {
    public:
        int64_t FrameCount() const override { return 10; }
        void Show(int64_t index) override { m_box.Image().Fill(index < 5 ? 0x00ff00 : 0xff00ff); }
        platform::PictureBox& Picture() override { return m_box; }

    private:
        platform::PictureBox m_box { 64, 30 };
    };

    TEST(ConversionSession, ATvcFileLendsItsModeAndRegistersUnlessOthersAreAsked)
    {
        const std::vector<int> carried = { 0, 12, 9, 3 };
        ConversionSession session;
        session.SetInput({ FindTvcMode(4), carried });
        EXPECT_EQ(session.Effective().mode->number, 4);
        ASSERT_TRUE(session.Effective().palette);
        EXPECT_EQ(session.Effective().palette->colours, carried);

        Recipe named;
        named.mode = FindTvcMode(2);
        named.modeGiven = true;
        session.SetRecipe(named); // another mode: the file's registers do not fit it
        EXPECT_FALSE(session.Effective().palette);

        Recipe none;
        none.method = kNoMethod; // nothing reduces to the registers
        session.SetRecipe(none);
        EXPECT_FALSE(session.Effective().palette);

        session.SetInput({ FindTvcMode(4), DefaultColours(*FindTvcMode(4)) });
        EXPECT_FALSE(session.Effective().palette);
    }

    TEST(ConversionSession, SteadyStartsAfreshOnANewRecipeAPlainFrameOrAnotherScene)
    {
        Recipe recipe;
        recipe.mode = FindTvcMode(4);
        recipe.steady = true;
        recipe.palette.emplace().kind = PaletteRequest::Kind::BestPerScene;
        ConversionSession session(recipe);
        TwoScenes video;
        session.MakePlan(video, 0, 9, false);
        ASSERT_EQ(session.Plan()->scenes.size(), 2u);
        EXPECT_NE(session.ColoursFor(4), session.ColoursFor(5));

        SteadyHistory history;
        EXPECT_EQ(session.OptionsFor(3, &history).steady, &history);
        Keep(history, 3);
        session.OptionsFor(4, &history);
        EXPECT_TRUE(history.SequenceStart()) << "the next frame of the scene continues";
        Keep(history, 4);
        session.OptionsFor(5, &history);
        EXPECT_FALSE(history.SequenceStart()) << "a cut to registers of another scene";
        Keep(history, 5);

        session.SetRecipe(recipe); // the same recipe again changes nothing
        session.OptionsFor(6, &history);
        EXPECT_TRUE(history.SequenceStart());
        Keep(history, 6);
        recipe.adjustments.brightness = 10;
        session.SetRecipe(recipe);
        EXPECT_TRUE(session.NeedsPlan());
        session.OptionsFor(7, &history);
        EXPECT_FALSE(history.SequenceStart()) << "a new recipe";
        Keep(history, 7);

        recipe.steady = false;
        session.SetRecipe(recipe);
        const FrameOptions plain = session.OptionsFor(8, &history);
        EXPECT_EQ(plain.steady, nullptr);
        EXPECT_FALSE(history.SequenceStart()) << "a plain frame";
    }

} // namespace
} // namespace pelorin::session
