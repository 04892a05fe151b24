// Form1 against the hostile-media table: each file opened the way a dropped file is, stepped by
// the timer past its end and moved about with the scroll bar. Nothing may crash or end the
// program; a refused file is named in a message and leaves stepping off; an opened one shows
// its intact frames exactly and keeps the last good frame over damage and past its end; and
// afterwards "Play AVI" still steps the sample's real frames.
#include "form1.h"
#include "testing/form_test_support.h"

#include "video/mci.h"
#include "video/testing/hostile_media.h"
#include "video/testing/test_videos.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QScrollBar>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace pelorin;
using namespace pelorin::window;
using ::testing::HasSubstr;
using video::test::HostileMedia;
using video::test::OpenExpect;

namespace {

class FormHostileMedia : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override
    {
        m_media = video::test::MakeHostileMedia(GetParam());
        ASSERT_FALSE(m_media.path.empty());
        // The excerpt's frames, as a plain decoder makes them; the sample starts with the same.
        static const std::vector<uint64_t> reference = video::test::ReferenceSlotHashes(
            video::test::HostileMediaBase(), video::test::SlotRule::InOrder);
        m_reference = reference;
        ASSERT_EQ(int64_t(m_reference.size()), video::test::HostileMediaBaseSlots());
        m_form = std::make_unique<Form1>(m_watch.Environment());
        m_form->Timer1()->stop(); // ticks come from the test
        m_form->Form_Load();
    }
    void TearDown() override
    {
        m_form.reset();
        MciCommand(15);
    }

    uint64_t Pic1Hash() const { return video::test::Hash(m_form->Pic1().Snapshot()); }
    int Position() const { return m_form->HScroll1()->value(); }

    // What Pic1 may show at slot `slot` of a file with `length` slots, `before` being the frame
    // shown before the step or move that reached it. Empty when anything decoded may show.
    std::vector<uint64_t> Allowed(int64_t slot, int64_t length, uint64_t before, bool jumped) const
    {
        const HostileMedia& m = m_media;
        // A seek past the end changes nothing.
        if (slot >= length)
            return { before };
        if (slot < m.intactSlots)
            return { m_reference[size_t(slot)] };
        if (m.heldFrom > 0 && slot >= m.heldFrom && slot < m.heldUntil) {
            // A jump past a damaged keyframe may find no good frame on its way; then the frame
            // shown before it stays.
            if (jumped)
                return { m_reference[size_t(m.heldFrom - 1)], before };
            return { m_reference[size_t(m.heldFrom - 1)] };
        }
        if (m.recoversFrom >= 0 && slot >= m.recoversFrom && slot < int64_t(m_reference.size()))
            return { m_reference[size_t(slot)] };
        return {};
    }

    void ExpectShows(int64_t length, uint64_t before, bool jumped, const char* how)
    {
        const int slot = Position();
        const std::vector<uint64_t> allowed = Allowed(slot, length, before, jumped);
        if (allowed.empty())
            return;
        EXPECT_NE(std::find(allowed.begin(), allowed.end(), Pic1Hash()), allowed.end())
            << "Pic1 at slot " << slot << " of " << length << " after " << how;
    }

    HostileMedia m_media;
    std::vector<uint64_t> m_reference;
    FormWatch m_watch;
    std::unique_ptr<Form1> m_form;
};

TEST_P(FormHostileMedia, OpeningSteppingAndScrollingKeepTheWindowWorking)
{
    const HostileMedia& m = m_media;
    m_form->OpenDroppedFile(QString::fromStdString(m.path));
    const bool opened = m_form->Check1()->checkState() == Qt::Checked;
    if (m.expect == OpenExpect::FailsToOpen) {
        EXPECT_FALSE(opened);
    }
    if (m.expect == OpenExpect::Opens) {
        ASSERT_TRUE(opened);
    }
    EXPECT_EQ(m_watch.programEnds, 0);

    if (!opened) {
        ASSERT_EQ(m_watch.messages.size(), 1u);
        EXPECT_EQ(m_watch.messages[0].kind, MessageKind::Warning);
        EXPECT_THAT(m_watch.messages[0].text.toStdString(), HasSubstr(m.path));
        // Stepping stays off, and moving the scroll bar over a closed device draws nothing.
        const uint64_t shown = Pic1Hash();
        for (int tick = 0; tick < 5; ++tick)
            m_form->Timer1_Timer();
        EXPECT_EQ(Position(), 0);
        for (int value : { 3, 40, 32000, 0 })
            m_form->SetHScroll1Value(value);
        EXPECT_EQ(Pic1Hash(), shown);
    } else {
        EXPECT_TRUE(m_watch.messages.empty());
        const std::string lengthText = MciCommand(11);
        const int64_t length = std::stoll(lengthText.substr(0, lengthText.find('\0')));
        EXPECT_GE(length, m.intactSlots);
        EXPECT_EQ(Position(), 0);
        if (m.intactSlots > 0) {
            EXPECT_EQ(Pic1Hash(), m_reference[0]) << "the first frame shows on opening";
        }

        // Through every slot and a few ticks past the end, where the last frame stays.
        const int64_t ticks = std::min<int64_t>(length, 2 * int64_t(m_reference.size())) + 5;
        for (int64_t tick = 0; tick < ticks; ++tick) {
            const uint64_t before = Pic1Hash();
            m_form->Timer1_Timer();
            ASSERT_EQ(Position(), tick + 1);
            ExpectShows(length, before, false, "a tick");
        }
        // Moves across the video, to its last slot, past the end and to the scroll bar's end.
        for (const int64_t value : { length / 2, length - 1, length, length + 7, int64_t(32000),
                 int64_t(0), length - 1 }) {
            const uint64_t before = Pic1Hash();
            m_form->SetHScroll1Value(int(value));
            ASSERT_EQ(Position(), value);
            ExpectShows(length, before, true, "a move");
        }
        // At the scroll bar's end the timer starts over at frame 1.
        m_form->SetHScroll1Value(32000);
        const uint64_t before = Pic1Hash();
        m_form->Timer1_Timer();
        EXPECT_EQ(Position(), 1);
        ExpectShows(length, before, true, "the wrap");
        EXPECT_FALSE(m_form->Text2()->text().isEmpty());
        EXPECT_TRUE(m_watch.messages.empty());
        EXPECT_EQ(m_form->Check1()->checkState(), Qt::Checked);
    }
    EXPECT_EQ(m_watch.programEnds, 0);

    // The good sample afterwards: it opens and steps its real frames.
    const size_t messages = m_watch.messages.size();
    m_form->Command3_Click();
    ASSERT_EQ(m_form->Check1()->checkState(), Qt::Checked);
    EXPECT_EQ(m_watch.messages.size(), messages);
    m_form->SetHScroll1Value(5);
    for (int frame = 6; frame <= 8; ++frame) {
        m_form->Timer1_Timer();
        ASSERT_EQ(Position(), frame);
        EXPECT_EQ(Pic1Hash(), m_reference[size_t(frame)]) << "sample frame " << frame;
    }
}

INSTANTIATE_TEST_SUITE_P(Sample, FormHostileMedia,
    ::testing::ValuesIn(video::test::HostileMediaNames()),
    [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

} // namespace
