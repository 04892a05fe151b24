#pragma once
// VideoDevice: the typed video player. It owns one FrameCursor (FFmpeg's decoder or a
// picture source) and shows its pictures in a
// window inside a frame target (a picture box, or any surface the owner provides). The MCI
// string interpreter drives one per alias; the tool uses one directly.
//
// Drawing. The window is a rectangle of the target's surface (by default the video's own size
// at 0, 0; PutWindow() moves and sizes it). Each shown picture is scaled to fill the rectangle
// and written into the target's Image() under the target's Lock(), clipped to the surface;
// afterwards the target's Refresh() is called with no lock held. During playback that happens
// on the device's own thread, so a refresh handler must not wait for the owner's thread. The
// target is asked for anew before every drawing (see FrameTargetLookup), so an owner whose
// target can go away (the MCI shell's parent picture box) answers null and nothing is drawn.
//
// Threads. Commands come from one thread at a time (the MCI interpreter serialises them);
// playback runs on a thread of its own. Mode() and Position() may be read at any time.
//
// Reading ahead. After a seek has shown slot N, a thread of the device's own decodes slot N + 1
// and scales it for the window while the caller works on slot N, so that a seek to N + 1 only
// copies the finished picture into the window. Any other seek waits for that read-ahead to end,
// then goes to its slot as before; every slot shows exactly the picture it would without it.
#include "frame_decoder.h"
#include "frame_painter.h"
#include "picture_source.h"

#include "platform/frame_target.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace pelorin::video {

class FrameCursor;

enum class DeviceMode { NotReady, Stopped, Playing, Paused, Seeking };

// "not ready", "stopped", "playing", "paused", "seeking".
const char* ModeName(DeviceMode mode);

struct PictureRefDeleter {
    void operator()(AVFrame* frame) const;
};
using PictureRef = std::unique_ptr<AVFrame, PictureRefDeleter>;

// Where the device draws, asked before every drawing and every refresh, from the device's
// threads as well as the caller's; null: nowhere this time. It must stay callable until the
// device is gone.
using FrameTargetLookup = std::function<platform::FrameTarget*()>;

class VideoDevice {
public:
    // Opens `path` with its window in the target that `target` names (an empty lookup: none),
    // shows slot 0 and returns the device, stopped. Null on failure, with the reason in *error.
    // `pictures` is asked first and serves the files it knows (see picture_source.h); the rest
    // FFmpeg decodes with `options`. The opener is asked during this call only.
    static std::unique_ptr<VideoDevice> Open(const std::string& path, FrameTargetLookup target,
        std::string* error, const DecoderOptions& options = {},
        const PictureSourceOpener& pictures = {});
    // The same with a fixed target (null: none), which must outlive the device.
    static std::unique_ptr<VideoDevice> Open(const std::string& path, platform::FrameTarget* target,
        std::string* error, const DecoderOptions& options = {},
        const PictureSourceOpener& pictures = {});
    // Stops playback, releases the decoder and clears the window to the target's back colour,
    // as the target shows through once its child window is gone.
    ~VideoDevice();
    VideoDevice(const VideoDevice&) = delete;
    VideoDevice& operator=(const VideoDevice&) = delete;

    int64_t Length() const { return m_length; } // slots
    int RateNumerator() const { return m_rateNum; }
    int RateDenominator() const { return m_rateDen; }
    // The video's own picture size, upright, whatever the window's size.
    int VideoWidth() const { return m_videoWidth; }
    int VideoHeight() const { return m_videoHeight; }
    int64_t Position() const { return m_position.load(); }
    DeviceMode Mode() const { return m_mode.load(); }

    // Stops playback, then shows `slot` (drawn before returning). False, changing nothing,
    // when the slot is outside 0 ... Length() − 1 or the file cannot be read there.
    bool Seek(int64_t slot);

    // Shows the following slots at the video's own rate from the current one on, until the
    // last slot (then Stopped) or until Pause/Stop/Seek/close. Playing again does nothing.
    void Play();
    // Blocks until playback has ended by itself or been stopped.
    void WaitWhilePlaying();
    void Pause(); // playing → paused; otherwise nothing
    void Resume(); // paused → playing; otherwise nothing
    void Stop(); // → stopped; the picture stays

    // Moves the window and redraws the current picture in it. False, changing nothing, where
    // WindowProblem names a problem.
    bool PutWindow(const WindowRect& rect);
    // Why the picture cannot be drawn into `rect` (see Drawable), naming the sizes; empty when it
    // can.
    std::string WindowProblem(const WindowRect& rect) const;
    WindowRect Window() const;

    bool AudioOn() const { return m_audioOn.load(); }
    void SetAudio(bool on) { m_audioOn = on; }

    // Copied under the device lock, once any read-ahead has ended.
    DecodeCounters Counters() const;
    // Why a seek failed for good in complete reading (see DecoderOptions), or why a picture
    // source could not make a picture; empty otherwise.
    std::string Problem() const;

private:
    VideoDevice(std::unique_ptr<FrameCursor> cursor, FrameTargetLookup target);
    platform::FrameTarget* Target() const;
    // Runs work(image, backColor) on the target's surface under its lock; nothing without one.
    template <class Work> void WithTargetImage(Work work) const;
    void Draw(); // with m_lock held: the shown picture in the window
    // Makes the decoder's current picture the shown one; with m_lock held.
    void KeepShownPicture();
    // The read-ahead thread, and waiting for it to be idle (with m_lock held through `lock`).
    void ReadAheadLoop();
    void WaitForReadAhead(std::unique_lock<std::mutex>& lock) const;
    void ReadAhead(int64_t slot);
    // Decodes slot `slot`, draws it and makes it the position, under m_lock; false (nothing
    // changes) when it cannot be shown.
    bool ShowSlot(int64_t slot);
    void Erase(platform::Surface& image, uint32_t backColor) const; // the window's area
    void Refresh() const;
    void StartPlayback();
    void StopPlayback();
    void PlayLoop();

    std::unique_ptr<FrameCursor> m_cursor; // the decoder or a picture source
    const FrameTargetLookup m_target;
    const int64_t m_length;
    const int m_rateNum;
    const int m_rateDen;
    const int m_videoWidth;
    const int m_videoHeight;
    const Orientation m_turn;

    mutable std::mutex m_lock; // the cursor, the painter, the window and the read-ahead state
    FramePainter m_painter;
    WindowRect m_rect;
    PictureRef m_shown; // the picture in the window (the decoder may have moved past it)

    // Read-ahead, under m_lock: the slot asked for (−1: none), whether the thread is at work, and
    // the slot whose picture waits in m_aheadImage scaled for m_aheadRect (−1: none).
    mutable std::condition_variable m_aheadSignal;
    int64_t m_aheadWanted = -1;
    bool m_aheadBusy = false;
    bool m_aheadQuit = false;
    int64_t m_aheadReady = -1;
    platform::Surface m_aheadImage;
    WindowRect m_aheadRect;
    PictureRef m_aheadPicture;
    std::thread m_aheadThread;

    std::atomic<int64_t> m_position { 0 };
    std::atomic<DeviceMode> m_mode { DeviceMode::Stopped };
    std::atomic<bool> m_audioOn { true };

    std::thread m_player;
    std::mutex m_stopLock;
    std::condition_variable m_stopSignal;
    bool m_stopRequested = false;
};

} // namespace pelorin::video
