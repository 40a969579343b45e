#include "PlainFrame.h"

#include <QPainter>

void PlainFrame::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    const QFontMetrics metrics(font());
    const int lineY = metrics.height() / 2;
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(QRect(0, lineY, width() - 1, height() - lineY - 1));
    const QRect caption(8, 0, metrics.horizontalAdvance(title()) + 6, metrics.height());
    painter.fillRect(caption, palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(caption, Qt::AlignCenter, title());
}
