#include "ui/MainKeyFilter.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QToolButton>

#include <algorithm>

namespace {

bool IsRowButton(const QWidget* widget)
{
    return (qobject_cast<const QPushButton*>(widget) || qobject_cast<const QToolButton*>(widget)) &&
           widget->isVisible() && widget->isEnabled() && (widget->focusPolicy() & Qt::TabFocus);
}

// The buttons beside `button` (same parent), in reading order.
QList<QWidget*> RowOf(QWidget* button)
{
    QList<QWidget*> row;
    for (QWidget* sibling : button->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (IsRowButton(sibling))
            row << sibling;
    std::sort(row.begin(), row.end(), [](const QWidget* a, const QWidget* b) {
        return a->y() != b->y() ? a->y() < b->y() : a->x() < b->x();
    });
    return row;
}

}  // namespace

MainKeyFilter::MainKeyFilter(QWidget* window) : QObject(window), window_(window)
{
    qApp->installEventFilter(this);
}

MainKeyFilter::~MainKeyFilter()
{
    qApp->removeEventFilter(this);
}

bool MainKeyFilter::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != window_ || !IsRowButton(widget) || !widget->parentWidget())
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() & ~Qt::KeypadModifier)
        return false;
    int step = 0;
    switch (key->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up: step = -1; break;
    case Qt::Key_Right:
    case Qt::Key_Down: step = 1; break;
    default: return false;
    }
    const QList<QWidget*> row = RowOf(widget);
    const qsizetype at = row.indexOf(widget);
    if (row.size() < 2 || at < 0)
        return false;
    row[(at + step + row.size()) % row.size()]->setFocus(Qt::TabFocusReason);
    return true;
}
