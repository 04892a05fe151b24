#include "picture_view.h"

#include "platform/picture_box.h"

#include <QCoreApplication>
#include <QEvent>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QThread>

#include <mutex>

namespace pelorin::window {

namespace {
    const QEvent::Type kFollowBoxEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
}

// Shared between the view and the refresh handler it gives the box. The view clears `view`
// before it dies, under `lock`, so a refresh arriving from another thread either reaches a live
// widget or nothing.
struct PictureView::Link {
    std::mutex lock;
    PictureView* view = nullptr;
};

PictureView::PictureView(platform::PictureBox& box, QWidget* parent)
    : QWidget(parent)
    , m_box(box)
    , m_link(std::make_shared<Link>())
{
    setFixedSize(int(box.ScaleWidth()), int(box.ScaleHeight()));
    // Every pixel is painted from the image, so nothing needs clearing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    m_link->view = this;
    m_box.SetRefreshHandler([link = m_link] {
        std::lock_guard guard(link->lock);
        PictureView* view = link->view;
        if (!view)
            return;
        if (QThread::currentThread() == view->thread())
            view->FollowBox();
        else
            QCoreApplication::postEvent(view, new QEvent(kFollowBoxEvent));
    });
}

PictureView::~PictureView()
{
    m_box.SetRefreshHandler(nullptr);
    std::lock_guard guard(m_link->lock);
    m_link->view = nullptr;
}

void PictureView::FollowBox()
{
    if (isVisibleTo(parentWidget()) != m_box.Visible())
        setVisible(m_box.Visible());
    update();
}

bool PictureView::event(QEvent* event)
{
    if (event->type() == kFollowBoxEvent) {
        FollowBox();
        return true;
    }
    return QWidget::event(event);
}

void PictureView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    std::lock_guard guard(m_box.Lock());
    const platform::Surface& image = m_box.Image();
    const QImage view(reinterpret_cast<const uchar*>(image.pixels.data()), image.width,
        image.height, qsizetype(image.width) * 4, QImage::Format_RGB32);
    painter.drawImage(event->rect(), view, event->rect());
}

} // namespace pelorin::window
