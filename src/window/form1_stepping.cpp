// Form1's stepping beside the plain rule of Timer1: the timer sleeps while there is nothing to
// step, and the menu's pacing at the video's own frame rate and looping at its end.
#include "form1.h"

#include "video/mci.h"
#include "video/video_device.h"

#include <QCheckBox>
#include <QTimer>

#include <cmath>

namespace pelorin::window {

namespace {
    // How long one frame of the open video lasts, from the player's frame rate in whole
    // thousandths of a frame a second (the precision the MCI status answer has always given the
    // window); zero when no video is open or it has no rate.
    std::chrono::nanoseconds VideoFrameDuration()
    {
        const video::VideoDevice* player = MciOpenVideo("video1");
        if (!player)
            return {};
        const int64_t milliFramesPerSecond
            = std::llround(1000.0 * player->RateNumerator() / player->RateDenominator());
        if (milliFramesPerSecond <= 0)
            return {};
        return std::chrono::nanoseconds(std::llround(1e12 / double(milliFramesPerSecond)));
    }
} // namespace

void Form1::SleepTimer1IfIdle()
{
    // A tick without stepping does nothing; a timer firing every millisecond for nothing keeps
    // the machine from resting.
    if (m_ended || m_check1->checkState() != Qt::Unchecked || !m_timer1->isActive())
        return;
    m_timer1->stop();
    m_timer1Asleep = true;
}

void Form1::WakeTimer1()
{
    // Only a timer the form put to sleep: one stopped from outside (ticks delivered by hand)
    // stays stopped.
    if (!m_timer1Asleep || m_ended)
        return;
    m_timer1Asleep = false;
    m_timer1->start();
}

bool Form1::FrameDueAtVideoRate()
{
    if (!m_frameDuration)
        m_frameDuration = VideoFrameDuration();
    const std::chrono::nanoseconds duration = *m_frameDuration;
    if (duration.count() <= 0)
        return true; // no rate to keep: every tick steps
    const auto now = m_environment.clock();
    if (!m_lastAdvance) {
        m_lastAdvance = now;
        return true;
    }
    const auto since = now - *m_lastAdvance;
    if (since < duration)
        return false;
    // The next frame is due one frame after this one was, which keeps the video's rate on
    // average though ticks come only every millisecond; a window that has fallen more than a
    // frame behind (slow conversions) counts afresh from now instead of rushing to catch up.
    m_lastAdvance = since < 2 * duration ? *m_lastAdvance + duration : now;
    return true;
}

bool Form1::AtLastFrameOfVideo(int position)
{
    // A single picture has no end to loop from.
    const int64_t length = VideoLength();
    return length >= 2 && position >= length - 1;
}

} // namespace pelorin::window
