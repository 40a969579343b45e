#include "ProgramIcon.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

QIcon ProgramIcon()
{
    // The same drawing the desktop shows in its menus, compiled in, so that the window and the
    // launcher never disagree. Each size is rendered from the vector, crisp at every scale.
    QSvgRenderer renderer(QStringLiteral(":/icons/com.quorvane.Quillory.svg"));
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}
