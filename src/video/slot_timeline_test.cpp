// The slot timeline from lists of timestamps, worked out by hand; and its arithmetic against
// FFmpeg's own over many values.
#include "slot_timeline.h"

extern "C" {
#include <libavutil/mathematics.h>
#include <libavutil/rational.h>
}

#include <gtest/gtest.h>

#include <climits>
#include <random>

namespace pelorin::video {
namespace {

    // The picture each slot shows, slot by slot.
    std::vector<int64_t> Shown(const SlotTimeline& timeline)
    {
        std::vector<int64_t> pictures;
        for (int64_t slot = 0; slot < timeline.SlotCount(); ++slot)
            pictures.push_back(timeline.PictureAt(slot));
        return pictures;
    }

    TEST(SlotTimeline, PicturesStoredOutOfOrderShowInTimestampOrder)
    {
        // An I P B B group twice over, as stored: each P before the B-frames shown ahead of it.
        const SlotTimeline timeline({ 0, 3, 1, 2, 4, 7, 5, 6 }, { 1, 25 }, { 25, 1 });
        EXPECT_EQ(timeline.SlotCount(), 8);
        EXPECT_EQ(timeline.SlotRate(), (Fraction { 25, 1 }));
        EXPECT_EQ(timeline.PictureTimes(), (std::vector<int64_t> { 0, 1, 2, 3, 4, 5, 6, 7 }));
        EXPECT_EQ(Shown(timeline), (std::vector<int64_t> { 0, 1, 2, 3, 4, 5, 6, 7 }));
    }

    TEST(SlotTimeline, TheLastPictureKeepsItsStatedTime)
    {
        // Delays of 0.1, 0.5, 1.0 and 1.0 s in hundredths, nominally 2 a second: 6 a second
        // gives every picture a slot (0, 0.6, 3.6, 9.6 round to 0, 1, 4, 10), and the end at
        // 2.6 s is slot 15.6, so 16 slots; the last picture holds slots 10 ... 15.
        const SlotTimeline gif({ 0, 10, 60, 160 }, { 1, 100 }, { 2, 1 }, 260);
        EXPECT_EQ(gif.SlotRate(), (Fraction { 6, 1 }));
        EXPECT_EQ(gif.SlotCount(), 16);
        EXPECT_EQ(gif.PictureAt(15), 3);
        EXPECT_EQ(gif.PictureAt(10), 3);
        // 0.5, 0.5, 2.0 s at 2 a second: 3.0 s is 6 slots, not 3.
        const SlotTimeline slow({ 0, 50, 100 }, { 1, 100 }, { 2, 1 }, 300);
        EXPECT_EQ(slow.SlotCount(), 6);
        EXPECT_EQ(Shown(slow), (std::vector<int64_t> { 0, 1, 2, 2, 2, 2 }));
    }

    TEST(SlotTimeline, AnEndWithinTheLastSlotChangesNothing)
    {
        // A steady 25 a second whose last picture lasts its one slot (or less, or is not stated).
        for (const std::optional<int64_t> end :
            { std::optional<int64_t>(), std::optional<int64_t>(4), std::optional<int64_t>(3),
                std::optional<int64_t>(2) }) {
            const SlotTimeline timeline({ 0, 1, 2, 3 }, { 1, 25 }, { 25, 1 }, end);
            EXPECT_EQ(timeline.SlotCount(), 4);
        }
    }

    TEST(SlotTimeline, AGapRepeatsThePictureBeforeIt)
    {
        // 40 ms slots; the pictures at 80 and 120 ms were dropped.
        const SlotTimeline timeline({ 0, 40, 160, 200 }, { 1, 1000 }, { 25, 1 });
        EXPECT_EQ(timeline.SlotCount(), 6);
        EXPECT_EQ(timeline.StartSlot(2), 4);
        EXPECT_EQ(Shown(timeline), (std::vector<int64_t> { 0, 1, 1, 1, 2, 3 }));
    }

    TEST(SlotTimeline, UnevenDelaysForceAFinerSlotRate)
    {
        // An animated picture in hundredths of a second at a nominal 10 per second, with delays
        // of 10, 3 and 10: at 10 per second the pictures at 0.10 and 0.13 s share slot 1. Twice
        // the rate puts them at 0, 2, 2.6 → 3 and 4.6 → 5, each in a slot of its own.
        const SlotTimeline timeline({ 0, 10, 13, 23 }, { 1, 100 }, { 10, 1 });
        EXPECT_EQ(timeline.SlotRate(), (Fraction { 20, 1 }));
        EXPECT_EQ(timeline.SlotCount(), 6);
        EXPECT_EQ(Shown(timeline), (std::vector<int64_t> { 0, 0, 1, 2, 2, 3 }));
    }

    TEST(SlotTimeline, SlotsCountFromTheFirstPictureWhereverTheTimestampsStart)
    {
        const SlotTimeline late({ 903003, 900000, 906006 }, { 1, 90000 }, { 30000, 1001 });
        EXPECT_EQ(late.SlotCount(), 3);
        EXPECT_EQ(late.PictureTimes().front(), 900000);
        EXPECT_EQ(Shown(late), (std::vector<int64_t> { 0, 1, 2 }));
        const SlotTimeline early({ -3003, 0, 3003 }, { 1, 90000 }, { 30000, 1001 });
        EXPECT_EQ(Shown(early), (std::vector<int64_t> { 0, 1, 2 }));
    }

    TEST(SlotTimeline, WholeMillisecondsAtNtscRateLandOnTheirOwnSlots)
    {
        // 33.37 ms slots: 33 → 0.99, 67 → 2.01, 100 → 3.00, 133 → 3.99, rounded.
        const SlotTimeline timeline({ 0, 33, 67, 100, 133 }, { 1, 1000 }, { 30000, 1001 });
        EXPECT_EQ(timeline.SlotRate(), (Fraction { 30000, 1001 }));
        EXPECT_EQ(Shown(timeline), (std::vector<int64_t> { 0, 1, 2, 3, 4 }));
    }

    TEST(SlotTimeline, RepeatedTimestampsAreOnePictureAndNoneGiveNoSlots)
    {
        const SlotTimeline repeated({ 0, 0, 1 }, { 1, 25 }, { 25, 1 });
        EXPECT_EQ(repeated.SlotCount(), 2);
        EXPECT_EQ(SlotTimeline({}, { 1, 25 }, { 25, 1 }).SlotCount(), 0);
        EXPECT_EQ(SlotTimeline().SlotCount(), 0);
    }

    TEST(SlotTimeline, PicturesBeyondTheLastSlotAreLeftOut)
    {
        // One picture per second of slots, one tick per second: the third lies past slot 2^31.
        const SlotTimeline timeline({ 0, 1, int64_t(1) << 40 }, { 1, 1 }, { 1, 1 });
        EXPECT_EQ(timeline.PictureTimes().size(), 2u);
        EXPECT_EQ(timeline.SlotCount(), 2);
    }

    // The arithmetic is FFmpeg's: the same answers on ordinary and extreme values, including
    // parts past 32 bits, where FFmpeg takes its 128-bit road.
    TEST(SlotTimelineArithmetic, RescalingAgreesWithFfmpeg)
    {
        std::mt19937_64 random(21);
        const auto part = [&](int bits) {
            return int(1 + random() % (bits >= 31 ? uint64_t(INT_MAX) : (uint64_t(1) << bits)));
        };
        for (int i = 0; i < 200000; ++i) {
            const int64_t ticks = int64_t(random() >> (3 + random() % 61));
            const int bits = 1 + int(random() % 31);
            const Fraction from { part(bits), part(int(random() % 32)) };
            const Fraction to { part(int(random() % 32)), part(bits) };
            const int64_t expected = av_rescale_q_rnd(ticks, AVRational { from.num, from.den },
                AVRational { to.num, to.den },
                AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
            ASSERT_EQ(RescaleNearest(ticks, from, to), expected)
                << ticks << " × " << from.num << "/" << from.den << " in units of " << to.num << "/"
                << to.den;
        }
    }

    TEST(SlotTimelineArithmetic, MultiplyingARateAgreesWithFfmpeg)
    {
        std::mt19937_64 random(7);
        for (int i = 0; i < 200000; ++i) {
            const Fraction rate { int(1 + random() % INT_MAX), int(1 + random() % INT_MAX) };
            const int times = int(2 + random() % (i % 2 ? 100 : INT_MAX - 2));
            const AVRational expected
                = av_mul_q(AVRational { rate.num, rate.den }, AVRational { times, 1 });
            const Fraction got = MultiplyRate(rate, times);
            ASSERT_EQ(got, (Fraction { expected.num, expected.den }))
                << rate.num << "/" << rate.den << " × " << times;
        }
        EXPECT_EQ(MultiplyRate({ 30000, 1001 }, 3), (Fraction { 90000, 1001 }));
        EXPECT_EQ(MultiplyRate({ 25, 2 }, 4), (Fraction { 50, 1 }));
    }

} // namespace
} // namespace pelorin::video
