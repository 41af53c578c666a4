#include "ui/FrameResizer.h"

#include <QMouseEvent>
#include <QRubberBand>
#include <QWidget>
#include <QWindow>

namespace {
// Near a corner both edges move, as with a size grip.
constexpr int kCornerSpan = 16;
}  // namespace

FrameResizer::~FrameResizer()
{
    delete frame_;
}

Qt::Edges FrameResizer::EdgesAt(const QPoint& pos) const
{
    const QRect area = window_->rect();
    const int corner = std::max(kCornerSpan, border_);
    Qt::Edges edges;
    const bool near_left = pos.x() < corner, near_right = pos.x() >= area.width() - corner;
    const bool near_top = pos.y() < corner, near_bottom = pos.y() >= area.height() - corner;
    if (pos.x() < border_ || (near_left && (pos.y() < border_ || pos.y() >= area.height() - border_)))
        edges |= Qt::LeftEdge;
    if (pos.x() >= area.width() - border_ || (near_right && (pos.y() < border_ || pos.y() >= area.height() - border_)))
        edges |= Qt::RightEdge;
    if (pos.y() < border_ || (near_top && (pos.x() < border_ || pos.x() >= area.width() - border_)))
        edges |= Qt::TopEdge;
    if (pos.y() >= area.height() - border_ || (near_bottom && (pos.x() < border_ || pos.x() >= area.width() - border_)))
        edges |= Qt::BottomEdge;
    return edges;
}

bool FrameResizer::Press(QMouseEvent* event, bool rubber_band)
{
    if (event->button() != Qt::LeftButton)
        return false;
    const Qt::Edges edges = EdgesAt(event->position().toPoint());
    if (edges == Qt::Edges())
        return false;
    if (!rubber_band) {
        if (QWindow* handle = window_->windowHandle())
            handle->startSystemResize(edges);
        return true;
    }
    edges_ = edges;
    start_ = event->globalPosition().toPoint();
    start_rect_ = window_->geometry();
    if (!frame_)
        frame_ = new QRubberBand(QRubberBand::Rectangle);  // a window of its own, over the desktop
    frame_->setGeometry(start_rect_);
    frame_->show();
    return true;
}

bool FrameResizer::Move(QMouseEvent* event)
{
    if (!Dragging())
        return false;
    frame_->setGeometry(TargetRect(event->globalPosition().toPoint()));
    return true;
}

bool FrameResizer::Release(QMouseEvent* event)
{
    if (!Dragging() || event->button() != Qt::LeftButton)
        return false;
    const QRect target = TargetRect(event->globalPosition().toPoint());
    edges_ = Qt::Edges();
    frame_->hide();
    window_->setGeometry(target);
    return true;
}

QRect FrameResizer::TargetRect(const QPoint& global) const
{
    const QPoint moved = global - start_;
    const QSize least = window_->minimumSize();
    QRect rect = start_rect_;
    if (edges_ & Qt::LeftEdge)
        rect.setLeft(std::min(rect.left() + moved.x(), rect.right() + 1 - least.width()));
    if (edges_ & Qt::RightEdge)
        rect.setRight(std::max(rect.right() + moved.x(), rect.left() + least.width() - 1));
    if (edges_ & Qt::TopEdge)
        rect.setTop(std::min(rect.top() + moved.y(), rect.bottom() + 1 - least.height()));
    if (edges_ & Qt::BottomEdge)
        rect.setBottom(std::max(rect.bottom() + moved.y(), rect.top() + least.height() - 1));
    return rect;
}
