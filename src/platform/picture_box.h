#pragma once
// The picture-box model: a drawable area of a fixed pixel size with a persistent image.
//  - hDC() draws into and reads from that image, also while the box is hidden.
//  - hWnd() is a number registered in the window handle table, so the MCI shell can find the
//    box named as parent in an MCI "open ... parent N" string.
//  - Refresh() tells whoever shows the box (the window's view) to repaint it from the image.
//  - With AutoRedraw off, the box shows what a video child window draws into it; here the video
//    device draws its frames straight into the same image, under the box's lock, so a read of
//    hDC() yields the frame as displayed. The box is a FrameTarget for that.
#include "frame_target.h"
#include "gdi.h"
#include "surface.h"

#include <functional>
#include <mutex>

namespace platform {

constexpr int kScaleModePixel = 3;

class PictureBox final : public FrameTarget {
public:
    // Throws std::invalid_argument for sizes outside 1 ... kMaxSurfaceSide.
    PictureBox(int width, int height, uint32_t backColor = 0);
    ~PictureBox();
    PictureBox(const PictureBox&) = delete;
    PictureBox& operator=(const PictureBox&) = delete;

    double ScaleWidth() const { return m_image.width; }
    double ScaleHeight() const { return m_image.height; }
    int ScaleMode() const { return m_scaleMode; }
    void SetScaleMode(int mode) { m_scaleMode = mode; }

    HDC hDC() { return &m_dc; }
    int hWnd() const { return m_hWnd; }

    bool AutoRedraw() const { return m_autoRedraw; }
    void SetAutoRedraw(bool on) { m_autoRedraw = on; }
    bool Visible() const { return m_visible; }
    void SetVisible(bool visible);
    uint32_t BackColor() const override { return m_backColor; }

    // Puts the persistent image on the screen: calls the refresh handler, if any.
    void Refresh() override;
    // The window's view registers here; called on Refresh and on a change of Visible.
    void SetRefreshHandler(std::function<void()> handler);

    // The image itself. Hold Lock() while touching it from a thread other than the window's.
    Surface& Image() override { return m_image; }
    const Surface& Image() const { return m_image; }
    std::mutex& Lock() const override { return m_lock; }
    // A copy of the image taken under the lock.
    Surface Snapshot() const;

private:
    Surface m_image;
    mutable std::mutex m_lock;
    DeviceContext m_dc;
    int m_hWnd;
    int m_scaleMode = kScaleModePixel;
    bool m_autoRedraw = true;
    bool m_visible = true;
    uint32_t m_backColor;
    std::function<void()> m_refresh;
    std::mutex m_handlerLock;
};

// The locks of a routine's source and destination for the length of its work: both, taken
// together so two routines on the same pair in either order cannot deadlock, or the one when
// they are the same box.
class PictureLocks {
public:
    PictureLocks(const PictureBox& source, const PictureBox& destination)
    {
        if (&source.Lock() == &destination.Lock()) {
            m_first = std::unique_lock(source.Lock());
            return;
        }
        std::lock(source.Lock(), destination.Lock());
        m_first = std::unique_lock(source.Lock(), std::adopt_lock);
        m_second = std::unique_lock(destination.Lock(), std::adopt_lock);
    }

private:
    std::unique_lock<std::mutex> m_first, m_second;
};

// The window handle table. Handles are small positive numbers, never reused within a run.
int RegisterWindow(PictureBox* box);
void UnregisterWindow(int hWnd);
// Null when no live window has that handle.
PictureBox* FindWindow(int hWnd);

} // namespace platform
