#include "app/AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

// The design lives on a 64 x 64 grid; see resources/vindrel.svg.
QPixmap DrawIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x1f, 0x4e, 0x79));
    painter.drawRoundedRect(QRectF(4, 4, 56, 56), 12, 12);

    painter.setBrush(QColor(0xe8, 0xee, 0xf4));
    painter.drawRoundedRect(QRectF(12, 24, 40, 28), 5, 5);
    painter.drawRect(QRectF(24, 19, 16, 6));

    painter.setBrush(QColor(0x1f, 0x4e, 0x79));
    painter.drawEllipse(QPointF(32, 38), 10, 10);
    painter.setBrush(QColor(0x4f, 0xc3, 0xf7));
    painter.drawEllipse(QPointF(32, 38), 6, 6);

    QPen arc(QColor(0x4f, 0xc3, 0xf7), 3, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(arc);
    painter.setBrush(Qt::NoBrush);
    painter.drawArc(QRectF(44, 6, 12, 12), 0 * 16, 90 * 16);
    painter.drawArc(QRectF(38, 0, 24, 24), 0 * 16, 90 * 16);
    return pixmap;
}

} // namespace

QIcon AppIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128})
        icon.addPixmap(DrawIcon(size));
    return icon;
}
