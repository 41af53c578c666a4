// Resizing the main window by its own border (the few pixels around the tabs). With
// `lockwindow_when_dragging` on, a frame follows the mouse and the window takes the
// frame's size in one step when the button is released, so the pages are laid out
// once instead of on every mouse move; otherwise the window manager resizes it live.
// A size below the window's minimum is never taken.
#pragma once

#include <QPoint>
#include <QRect>

class QMouseEvent;
class QRubberBand;
class QWidget;

class FrameResizer {
public:
    FrameResizer(QWidget* window, int border) : window_(window), border_(border) {}
    ~FrameResizer();
    FrameResizer(const FrameResizer&) = delete;
    FrameResizer& operator=(const FrameResizer&) = delete;

    // The window edges a press at `pos` (window coordinates) would move.
    Qt::Edges EdgesAt(const QPoint& pos) const;
    // Each returns true when it handled the event.
    bool Press(QMouseEvent* event, bool rubber_band);
    bool Move(QMouseEvent* event);
    bool Release(QMouseEvent* event);
    bool Dragging() const { return edges_ != Qt::Edges(); }
    // The frame shown while dragging (null before the first drag).
    QRubberBand* Frame() const { return frame_; }

private:
    QRect TargetRect(const QPoint& global) const;

    QWidget* window_;
    int border_;
    Qt::Edges edges_;
    QPoint start_;
    QRect start_rect_;
    QRubberBand* frame_ = nullptr;
};
