#include "video_device.h"

#include "frame_cursor.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <algorithm>
#include <chrono>
#include <cstring>

namespace pelorin::video {

void PictureRefDeleter::operator()(AVFrame* frame) const { av_frame_free(&frame); }

namespace {
    // Another reference to the same picture data, or null.
    PictureRef Reference(const AVFrame* frame)
    {
        return PictureRef(frame ? av_frame_clone(frame) : nullptr);
    }
} // namespace

const char* ModeName(DeviceMode mode)
{
    switch (mode) {
    case DeviceMode::NotReady:
        return "not ready";
    case DeviceMode::Stopped:
        return "stopped";
    case DeviceMode::Playing:
        return "playing";
    case DeviceMode::Paused:
        return "paused";
    case DeviceMode::Seeking:
        return "seeking";
    }
    return "not ready";
}

std::unique_ptr<VideoDevice> VideoDevice::Open(const std::string& path,
    platform::FrameTarget* target, std::string* error, const DecoderOptions& options,
    const PictureSourceOpener& pictures)
{
    return Open(path, target ? FrameTargetLookup([target] { return target; }) : nullptr, error,
        options, pictures);
}

std::unique_ptr<VideoDevice> VideoDevice::Open(const std::string& path, FrameTargetLookup target,
    std::string* error, const DecoderOptions& options, const PictureSourceOpener& pictures)
{
    auto cursor = OpenFrameCursor(path, error, options, pictures);
    if (!cursor)
        return nullptr;
    std::unique_ptr<VideoDevice> device(new VideoDevice(std::move(cursor), std::move(target)));
    {
        std::lock_guard lock(device->m_lock);
        device->KeepShownPicture();
        device->Draw();
    }
    device->Refresh();
    device->m_aheadThread = std::thread([raw = device.get()] { raw->ReadAheadLoop(); });
    return device;
}

VideoDevice::VideoDevice(std::unique_ptr<FrameCursor> cursor, FrameTargetLookup target)
    : m_cursor(std::move(cursor))
    , m_target(std::move(target))
    , m_length(m_cursor->SlotCount())
    , m_rateNum(m_cursor->RateNumerator())
    , m_rateDen(m_cursor->RateDenominator())
    , m_videoWidth(m_cursor->Width())
    , m_videoHeight(m_cursor->Height())
    , m_turn(m_cursor->Turn())
    , m_rect { 0, 0, m_cursor->Width(), m_cursor->Height() }
{
}

VideoDevice::~VideoDevice()
{
    StopPlayback();
    {
        std::lock_guard lock(m_lock);
        m_aheadQuit = true;
    }
    m_aheadSignal.notify_all();
    if (m_aheadThread.joinable())
        m_aheadThread.join();
    {
        std::lock_guard lock(m_lock);
        WithTargetImage(
            [&](platform::Surface& image, uint32_t backColor) { Erase(image, backColor); });
    }
    Refresh();
}

platform::FrameTarget* VideoDevice::Target() const { return m_target ? m_target() : nullptr; }

template <class Work> void VideoDevice::WithTargetImage(Work work) const
{
    platform::FrameTarget* target = Target();
    if (!target)
        return;
    std::lock_guard lock(target->Lock());
    work(target->Image(), target->BackColor());
}

void VideoDevice::Draw()
{
    if (!m_shown)
        return;
    WithTargetImage([&](platform::Surface& image, uint32_t) {
        m_painter.Paint(*m_shown, image, m_rect, m_turn);
    });
}

void VideoDevice::KeepShownPicture() { m_shown = Reference(m_cursor->Picture()); }

void VideoDevice::WaitForReadAhead(std::unique_lock<std::mutex>& lock) const
{
    m_aheadSignal.wait(lock, [this] { return m_aheadWanted < 0 && !m_aheadBusy; });
}

void VideoDevice::ReadAhead(int64_t slot)
{
    {
        std::lock_guard lock(m_lock);
        if (slot >= m_length || m_aheadReady == slot)
            return;
        m_aheadWanted = slot;
    }
    m_aheadSignal.notify_all();
}

void VideoDevice::ReadAheadLoop()
{
    std::unique_lock lock(m_lock);
    for (;;) {
        m_aheadSignal.wait(lock, [this] { return m_aheadQuit || m_aheadWanted >= 0; });
        if (m_aheadQuit)
            return;
        const int64_t slot = m_aheadWanted;
        m_aheadWanted = -1;
        m_aheadBusy = true;
        m_aheadReady = -1;
        // The decoder and the painter are used under m_lock, as by every other caller; the
        // window's picture is left alone until a seek asks for this slot.
        if (m_cursor->SeekToSlot(slot)) {
            m_aheadPicture = Reference(m_cursor->Picture());
            m_aheadRect = m_rect;
            // A window much larger than the target (a very wide picture filling it) is drawn
            // when shown, its visible part alone.
            if (m_aheadPicture && m_aheadRect.width > 0 && m_aheadRect.height > 0
                && m_aheadRect.width <= kMaxVideoSide && m_aheadRect.height <= kMaxVideoSide) {
                if (m_aheadImage.width != m_rect.width || m_aheadImage.height != m_rect.height)
                    m_aheadImage = platform::Surface(m_rect.width, m_rect.height);
                if (m_painter.Paint(*m_aheadPicture, m_aheadImage,
                        WindowRect { 0, 0, m_rect.width, m_rect.height }, m_turn))
                    m_aheadReady = slot;
            }
        }
        m_aheadBusy = false;
        m_aheadSignal.notify_all();
    }
}

void VideoDevice::Erase(platform::Surface& image, uint32_t backColor) const
{
    const int left = std::max(m_rect.x, 0);
    const int top = std::max(m_rect.y, 0);
    const int right = int(std::min<int64_t>(int64_t(m_rect.x) + m_rect.width, image.width));
    const int bottom = int(std::min<int64_t>(int64_t(m_rect.y) + m_rect.height, image.height));
    for (int y = top; y < bottom; ++y)
        std::fill(image.Row(y) + left, image.Row(y) + std::max(left, right), backColor);
}

void VideoDevice::Refresh() const
{
    if (platform::FrameTarget* target = Target())
        target->Refresh();
}

bool VideoDevice::ShowSlot(int64_t slot)
{
    std::unique_lock lock(m_lock);
    m_aheadWanted = -1;
    WaitForReadAhead(lock);
    if (slot == m_aheadReady && m_aheadRect == m_rect) {
        // Read ahead: the picture is scaled already; copy what lies inside the target.
        m_shown = std::move(m_aheadPicture);
        m_aheadReady = -1;
        WithTargetImage([&](platform::Surface& image, uint32_t) {
            const int x0 = std::max(0, m_rect.x), y0 = std::max(0, m_rect.y);
            const int x1 = int(std::min<int64_t>(int64_t(m_rect.x) + m_rect.width, image.width));
            const int y1 = int(std::min<int64_t>(int64_t(m_rect.y) + m_rect.height, image.height));
            for (int y = y0; y < y1; ++y)
                std::memcpy(image.Row(y) + x0, m_aheadImage.Row(y - m_rect.y) + (x0 - m_rect.x),
                    size_t(std::max(0, x1 - x0)) * 4);
        });
        m_position = slot;
        return true;
    }
    if (slot == m_position.load() && m_shown) {
        // The picture on show again; the decoder may stand on a slot read ahead.
        Draw();
        return true;
    }
    m_aheadReady = -1;
    const DecodeCounters before = m_cursor->Counters();
    if (!m_cursor->SeekToSlot(slot))
        return false;
    // After a read-ahead the decoder's last good picture is one that was never shown. A jump
    // that decoded (or sought) and still holds that very picture found no good one of its own:
    // the window keeps the picture it showed, as it would had nothing been read ahead.
    const DecodeCounters& after = m_cursor->Counters();
    const AVFrame* now = m_cursor->Picture();
    const bool decoded = after.packetsSent != before.packetsSent
        || after.demuxerSeeks != before.demuxerSeeks;
    const bool stillReadAhead
        = m_aheadPicture && now && now->data[0] == m_aheadPicture->data[0];
    if (!(decoded && stillReadAhead))
        KeepShownPicture();
    m_aheadPicture.reset();
    Draw();
    m_position = slot;
    return true;
}

bool VideoDevice::Seek(int64_t slot)
{
    if (slot < 0 || slot >= m_length)
        return false;
    const DeviceMode before = m_mode.load();
    StopPlayback();
    m_mode = DeviceMode::Seeking;
    const bool shown = ShowSlot(slot);
    // A seek ends playing and pausing alike; a failed one leaves a paused device paused.
    m_mode = shown || before == DeviceMode::Playing ? DeviceMode::Stopped : before;
    if (shown) {
        Refresh();
        ReadAhead(slot + 1);
    }
    return shown;
}

void VideoDevice::Play()
{
    if (m_mode == DeviceMode::Playing)
        return;
    StopPlayback(); // joins a player that ran to the end by itself
    StartPlayback();
}

void VideoDevice::Pause()
{
    if (m_mode != DeviceMode::Playing)
        return;
    StopPlayback();
    m_mode = DeviceMode::Paused;
}

void VideoDevice::Resume()
{
    if (m_mode != DeviceMode::Paused)
        return;
    StopPlayback();
    StartPlayback();
}

void VideoDevice::Stop()
{
    StopPlayback();
    m_mode = DeviceMode::Stopped;
}

std::string VideoDevice::WindowProblem(const WindowRect& rect) const
{
    int surfaceWidth = 0, surfaceHeight = 0;
    WithTargetImage([&](platform::Surface& image, uint32_t) {
        surfaceWidth = image.width;
        surfaceHeight = image.height;
    });
    if (Drawable(m_videoWidth, m_videoHeight, rect, surfaceWidth, surfaceHeight))
        return {};
    const std::string window = std::to_string(rect.width) + " x " + std::to_string(rect.height);
    if (rect.width <= 0 || rect.height <= 0 || rect.width > kMaxWindowSide
        || rect.height > kMaxWindowSide)
        return "a window of " + window + " pixels is none the video device takes (sides 1 ... "
            + std::to_string(kMaxWindowSide) + ")";
    const int64_t across = rect.width / std::max(1, m_videoWidth);
    const int64_t down = rect.height / std::max(1, m_videoHeight);
    return "a window of " + window + " pixels draws each pixel of the "
        + std::to_string(m_videoWidth) + " x " + std::to_string(m_videoHeight) + " picture about "
        + std::to_string(across) + " x " + std::to_string(down)
        + " pixels large, and the video device scales a picture to at most "
        + std::to_string(kMaxVideoSide) + " pixels a side";
}

bool VideoDevice::PutWindow(const WindowRect& rect)
{
    if (!WindowProblem(rect).empty())
        return false;
    {
        std::unique_lock lock(m_lock);
        WaitForReadAhead(lock);
        // The old area shows the target again, the new one the picture; a reader of the
        // target never sees the step in between.
        WithTargetImage([&](platform::Surface& image, uint32_t backColor) {
            Erase(image, backColor);
            m_rect = rect;
            if (m_shown)
                m_painter.Paint(*m_shown, image, m_rect, m_turn);
        });
        m_rect = rect;
    }
    Refresh();
    return true;
}

WindowRect VideoDevice::Window() const
{
    std::lock_guard lock(m_lock);
    return m_rect;
}

DecodeCounters VideoDevice::Counters() const
{
    std::unique_lock lock(m_lock);
    WaitForReadAhead(lock);
    return m_cursor->Counters();
}

std::string VideoDevice::Problem() const
{
    std::lock_guard lock(m_lock);
    return m_cursor->Problem();
}

void VideoDevice::StartPlayback()
{
    m_stopRequested = false;
    m_mode = DeviceMode::Playing;
    m_player = std::thread([this] { PlayLoop(); });
}

void VideoDevice::StopPlayback()
{
    {
        std::lock_guard lock(m_stopLock);
        m_stopRequested = true;
    }
    m_stopSignal.notify_all();
    if (m_player.joinable())
        m_player.join();
    if (m_mode == DeviceMode::Playing)
        m_mode = DeviceMode::Stopped;
}

void VideoDevice::WaitWhilePlaying()
{
    while (m_mode == DeviceMode::Playing) {
        std::unique_lock lock(m_stopLock);
        m_stopSignal.wait_for(lock, std::chrono::milliseconds(10));
    }
}

void VideoDevice::PlayLoop()
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const int64_t first = m_position.load();
    for (int64_t step = 1;; ++step) {
        const int64_t slot = first + step;
        if (slot >= m_length)
            break;
        // Slot `slot` is due step ÷ rate seconds after playback began.
        const auto due = start
            + std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(double(step) * m_rateDen / m_rateNum));
        {
            std::unique_lock lock(m_stopLock);
            if (m_stopSignal.wait_until(lock, due, [this] { return m_stopRequested; }))
                return;
        }
        const bool shown = ShowSlot(slot);
        if (!shown)
            break;
        Refresh();
    }
    m_mode = DeviceMode::Stopped;
    m_stopSignal.notify_all();
}

} // namespace pelorin::video
