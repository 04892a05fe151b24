#pragma once
// The on-screen side of a picture box: a widget of exactly the box's size that paints the box's
// image pixel for pixel. The image is wrapped as a QImage (Format_RGB32 has the surface's byte
// layout) and drawn without conversion or scaling.
//
// The widget follows the box: Refresh() repaints it and a change of Visible() shows or hides it.
// Either may come from another thread (the video device refreshes Pic1 while it draws frames);
// then the repaint is queued to the widget's thread. Hidden or not, the box keeps its image.
#include <QWidget>

#include <memory>

namespace platform {
class PictureBox;
}

namespace pelorin::window {

class PictureView : public QWidget {
    Q_OBJECT
public:
    PictureView(platform::PictureBox& box, QWidget* parent);
    ~PictureView() override;

    platform::PictureBox& Box() { return m_box; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    struct Link;
    // Makes the widget match the box: visibility, then a repaint.
    void FollowBox();

    platform::PictureBox& m_box;
    std::shared_ptr<Link> m_link;
};

} // namespace pelorin::window
