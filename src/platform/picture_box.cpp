#include "picture_box.h"

#include <map>
#include <stdexcept>
#include <string>

namespace platform {

namespace {
    std::mutex g_tableLock;
    std::map<int, PictureBox*> g_windows;
    // Start well away from 0 so that a handle never looks like a flag or a count.
    int g_nextHandle = 0x100;
} // namespace

int RegisterWindow(PictureBox* box)
{
    std::lock_guard lock(g_tableLock);
    const int handle = g_nextHandle;
    g_nextHandle += 2;
    g_windows[handle] = box;
    return handle;
}

void UnregisterWindow(int hWnd)
{
    std::lock_guard lock(g_tableLock);
    g_windows.erase(hWnd);
}

PictureBox* FindWindow(int hWnd)
{
    std::lock_guard lock(g_tableLock);
    auto it = g_windows.find(hWnd);
    return it == g_windows.end() ? nullptr : it->second;
}

PictureBox::PictureBox(int width, int height, uint32_t backColor)
    : m_image(width, height, backColor)
    , m_dc(&m_image, &m_lock)
    , m_backColor(backColor & 0x00FFFFFFu)
{
    if (width <= 0 || height <= 0)
        throw std::invalid_argument("picture box size " + std::to_string(width) + " x "
            + std::to_string(height) + " must be positive");
    m_hWnd = RegisterWindow(this);
}

PictureBox::~PictureBox() { UnregisterWindow(m_hWnd); }

void PictureBox::SetVisible(bool visible)
{
    m_visible = visible;
    Refresh();
}

void PictureBox::Refresh()
{
    std::function<void()> handler;
    {
        std::lock_guard lock(m_handlerLock);
        handler = m_refresh;
    }
    if (handler)
        handler();
}

void PictureBox::SetRefreshHandler(std::function<void()> handler)
{
    std::lock_guard lock(m_handlerLock);
    m_refresh = std::move(handler);
}

Surface PictureBox::Snapshot() const
{
    std::lock_guard lock(m_lock);
    return m_image;
}

} // namespace platform
