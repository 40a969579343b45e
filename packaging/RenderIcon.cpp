// Renders the program's SVG icon to the PNG sizes the icon theme installs, at build time, so that
// the bitmaps are always the SVG's and never committed.
//
// Usage: RenderIcon ICON.svg OUTPUT_FOLDER SIZE...
// Writes OUTPUT_FOLDER/SIZExSIZE/<ICON>.png for every size.

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "Usage: RenderIcon ICON.svg OUTPUT_FOLDER SIZE...\n");
        return 2;
    }
    const QString source = QString::fromLocal8Bit(argv[1]);
    QSvgRenderer renderer(source);
    if (!renderer.isValid()) {
        std::fprintf(stderr, "RenderIcon: %s is not a valid SVG image\n", argv[1]);
        return 1;
    }
    const QString name = QFileInfo(source).completeBaseName() + QStringLiteral(".png");
    const QDir output(QString::fromLocal8Bit(argv[2]));
    for (int i = 3; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size < 1 || size > 1024) {
            std::fprintf(stderr, "RenderIcon: '%s' is not a size in pixels\n", argv[i]);
            return 2;
        }
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        renderer.render(&painter);
        painter.end();
        const QString folder = QStringLiteral("%1x%1").arg(size);
        const QString path = output.filePath(folder + QLatin1Char('/') + name);
        if (!output.mkpath(folder) || !image.save(path, "PNG")) {
            std::fprintf(stderr, "RenderIcon: could not write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
