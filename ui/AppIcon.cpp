#include "ui/AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

// An open book: two pages over a dark cover.
QPixmap DrawBook(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 32.0;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x2b, 0x4c, 0x7e));
    painter.drawRoundedRect(QRectF(1 * s, 6 * s, 30 * s, 21 * s), 2 * s, 2 * s);
    painter.setBrush(QColor(0xfa, 0xf6, 0xec));
    QPainterPath left;
    left.moveTo(16 * s, 8 * s);
    left.cubicTo(12 * s, 5 * s, 7 * s, 5 * s, 3 * s, 6 * s);
    left.lineTo(3 * s, 24 * s);
    left.cubicTo(7 * s, 23 * s, 12 * s, 23 * s, 16 * s, 26 * s);
    left.closeSubpath();
    painter.drawPath(left);
    QTransform mirror;
    mirror.translate(32 * s, 0);
    mirror.scale(-1, 1);
    painter.drawPath(mirror.map(left));
    painter.setPen(QPen(QColor(0x9a, 0xa7, 0xb8), s));
    for (int line = 0; line < 4; ++line) {
        const qreal y = (11 + line * 3.5) * s;
        painter.drawLine(QPointF(6 * s, y), QPointF(13 * s, y));
        painter.drawLine(QPointF(19 * s, y), QPointF(26 * s, y));
    }
    return pixmap;
}

}  // namespace

QIcon AppIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(DrawBook(size));
    return icon;
}
