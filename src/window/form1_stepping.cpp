// Form1's stepping: Timer1's step of one frame and the scroll bar it moves, and beside its plain
// rule the timer sleeping while there is nothing to step, the menu's pacing at the video's own
// frame rate and looping at its end.
#include "form1.h"

#include "platform/runtime_error.h"
#include "video/mci.h"
#include "video/video_device.h"

#include <QAction>
#include <QCheckBox>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTimer>

#include <cmath>
#include <limits>

namespace pelorin::window {

using platform::ErrorNumber;
using platform::RuntimeError;

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

// ---- the timer's step and the scroll bar ----

void Form1::Timer1_Timer()
{
    try {
        if (m_check1->checkState() != Qt::Unchecked) {
            if (m_hscroll1->isSliderDown()) {
                // The user holds the thumb: show the frame under it. Stepping goes on from
                // where the thumb is let go.
                SetHScroll1Value(m_hscroll1->sliderPosition());
                return;
            }
            // A still picture is converted once: there is nothing to step on to. So is any input
            // of one frame when the bar fits the video or loops at its end, which would
            // otherwise run on over that one frame.
            if (VideoLength() == 1
                && (OpenInputIsStillPicture() || MenuAction(MenuItem::Loop)->isChecked()
                    || MenuAction(MenuItem::FitScrollBar)->isChecked())) {
                m_check1->setCheckState(Qt::Unchecked);
                if (m_hscroll1->value() == 0)
                    HScroll1_Change();
                else
                    SetHScroll1Value(0);
                return;
            }
            if (MenuAction(MenuItem::RealTime)->isChecked() && !FrameDueAtVideoRate())
                return;
            const int position = m_hscroll1->value();
            if (MenuAction(MenuItem::Loop)->isChecked() && AtLastFrameOfVideo(position)) {
                SetHScroll1Value(1);
                return;
            }
            // A bar fitted to the video ends with it.
            if (MenuAction(MenuItem::FitScrollBar)->isChecked() && VideoLength() >= 1
                && position >= m_hscroll1->maximum()) {
                m_check1->setCheckState(Qt::Unchecked);
                return;
            }
            // The position is a 16-bit signed number; one past 32767 overflows.
            if (position < std::numeric_limits<int16_t>::min()
                || position >= std::numeric_limits<int16_t>::max())
                throw RuntimeError(
                    ErrorNumber::Overflow, "HScroll1.Value " + std::to_string(position) + " + 1");
            SetHScroll1Value(position + 1);
        }
    } catch (...) {
        // Past the scroll bar's end (or on any other error of the step) stepping restarts at
        // frame 1, not 0.
        SetHScroll1Value(1);
    }
}

void Form1::SetHScroll1Value(int value)
{
    if (value < m_hscroll1->minimum() || value > m_hscroll1->maximum())
        throw RuntimeError(ErrorNumber::InvalidProcedureCall,
            "HScroll1.Value " + std::to_string(value) + " outside "
                + std::to_string(m_hscroll1->minimum()) + " ... "
                + std::to_string(m_hscroll1->maximum()));
    if (value == m_hscroll1->value())
        return;
    {
        const QSignalBlocker quiet(m_hscroll1);
        m_hscroll1->setValue(value);
    }
    HScroll1_Change();
}

} // namespace pelorin::window
