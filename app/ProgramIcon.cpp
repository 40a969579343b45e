#include "ProgramIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

QIcon ProgramIcon()
{
    QIcon icon;
    for (const int size : {16, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 64.0, size / 64.0);
        // The page.
        painter.setPen(QPen(QColor(0x33, 0x4d, 0x80), 3));
        painter.setBrush(Qt::white);
        painter.drawRoundedRect(QRectF(10, 6, 38, 52), 4, 4);
        painter.setPen(QPen(QColor(0x99, 0xa8, 0xc4), 3));
        for (int y = 18; y <= 46; y += 9)
            painter.drawLine(QPointF(17, y), QPointF(38, y));
        // The quill.
        QPainterPath feather;
        feather.moveTo(58, 4);
        feather.cubicTo(40, 10, 30, 30, 26, 50);
        feather.cubicTo(38, 40, 52, 26, 58, 4);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0xd9, 0x5b, 0x2b));
        painter.drawPath(feather);
        painter.setPen(QPen(QColor(0x5a, 0x2a, 0x10), 2.5));
        painter.drawLine(QPointF(26, 50), QPointF(22, 60));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
