// The on-screen view of a picture box: what it paints, and how it follows Refresh and Visible,
// also when they come from another thread.
#include "picture_view.h"

#include "platform/picture_box.h"

#include <QCoreApplication>
#include <QImage>
#include <QPixmap>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace pelorin::window;
using platform::PictureBox;

namespace {

// A pattern in which neighbouring pixels, rows and channels all differ, so any shift, scaling,
// channel swap or smoothing shows.
void DrawPattern(PictureBox& box, uint32_t seed)
{
    platform::Surface& image = box.Image();
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            image.At(x, y) = platform::Rgb(
                uint8_t(x * 7 + seed), uint8_t(y * 13 + seed * 3), uint8_t((x ^ y) * 5 + seed));
}

// What the view puts on screen, read back in the surface's pixel format.
QImage Painted(PictureView& view)
{
    return view.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

void ExpectShows(PictureView& view, const platform::Surface& image)
{
    const QImage painted = Painted(view);
    ASSERT_EQ(painted.size(), QSize(image.width, image.height));
    for (int y = 0; y < image.height; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(painted.constScanLine(y));
        for (int x = 0; x < image.width; ++x)
            ASSERT_EQ(row[x] & 0xFFFFFFu, image.At(x, y)) << "at " << x << "," << y;
    }
}

class PictureViewTest : public ::testing::Test {
protected:
    QWidget window;
};

TEST_F(PictureViewTest, PaintsTheImagePixelForPixelAtEverySize)
{
    // Widths with every remainder mod 4, one-row and one-column boxes.
    for (QSize size : { QSize(1, 1), QSize(5, 1), QSize(1, 6), QSize(13, 7), QSize(128, 240),
             QSize(255, 3), QSize(512, 480) }) {
        SCOPED_TRACE(std::to_string(size.width()) + "x" + std::to_string(size.height()));
        PictureBox box(size.width(), size.height(), 0xC0C0FF);
        DrawPattern(box, uint32_t(size.width()));
        PictureView view(box, &window);
        EXPECT_EQ(view.size(), size);
        ExpectShows(view, box.Image());
    }
}

TEST_F(PictureViewTest, RefreshFromAnotherThreadReachesTheViewThroughItsEventQueue)
{
    PictureBox box(8, 8);
    PictureView view(box, &window);
    box.SetVisible(false); // on this thread: at once
    ASSERT_FALSE(view.isVisibleTo(&window));
    std::thread([&] {
        DrawPattern(box, 9);
        box.SetVisible(true);
    }).join();
    // The other thread did not touch the widget itself.
    EXPECT_FALSE(view.isVisibleTo(&window));
    QCoreApplication::sendPostedEvents(&view);
    EXPECT_TRUE(view.isVisibleTo(&window));
    ExpectShows(view, box.Image());
}

// A box refreshed from another thread while its views come and go: a refresh must reach a live
// view or none, never one being destroyed.
TEST_F(PictureViewTest, ViewsDyingWhileAnotherThreadRefreshesAreSafe)
{
    PictureBox box(4, 4);
    std::atomic<bool> stop = false;
    std::thread refresher([&] {
        while (!stop)
            box.Refresh();
    });
    for (int i = 0; i < 300; ++i) {
        auto* view = new PictureView(box, &window);
        QCoreApplication::processEvents();
        delete view;
    }
    stop = true;
    refresher.join();
    QCoreApplication::processEvents();
    SUCCEED();
}

} // namespace
