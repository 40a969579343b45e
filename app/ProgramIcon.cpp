#include "ProgramIcon.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>
#ifndef QUILLORY_ICON_FROM_PNG
#include <QSvgRenderer>
#endif

QIcon ProgramIcon()
{
#ifdef QUILLORY_ICON_FROM_PNG
    // Rendered from the same drawing when the program was built, one file a size.
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1x%1/com.quorvane.Quillory.png").arg(size));
    return icon;
#else
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
#endif
}
