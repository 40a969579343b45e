// The window's icon is the packaged SVG, compiled in: every size is there and shows the drawing.

#include "ProgramIcon.h"

#include <QColor>
#include <QImage>
#include <QTest>

#include <cstdlib>

namespace {

// Whether two colours differ by no more than a little antialiasing in any channel.
bool near(QColor actual, QColor expected)
{
    return std::abs(actual.red() - expected.red()) <= 12 && std::abs(actual.green() - expected.green()) <= 12 &&
           std::abs(actual.blue() - expected.blue()) <= 12 && std::abs(actual.alpha() - expected.alpha()) <= 12;
}

} // namespace

class ProgramIconTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everySizeIsRenderedExactly()
    {
        const QIcon icon = ProgramIcon();
        QVERIFY(!icon.isNull());
        const QList<QSize> sizes = icon.availableSizes();
        for (const int size : {16, 32, 48, 64, 128, 256}) {
            QVERIFY2(sizes.contains(QSize(size, size)), qPrintable(QString::number(size)));
            const QImage image = icon.pixmap(size, size).toImage();
            QCOMPARE(image.size(), QSize(size, size));
            // An empty resource would still give pixmaps, only fully transparent ones.
            const QColor centre = image.pixelColor(size / 2, size / 2);
            QVERIFY2(centre.alpha() == 255, qPrintable(QString::number(size)));
        }
    }

    // Points of the 64-pixel drawing well inside each shape, away from antialiased edges.
    void theDrawingIsAPageWithLinesAndAQuill()
    {
        const QImage image = ProgramIcon().pixmap(64, 64).toImage().convertToFormat(QImage::Format_ARGB32);
        const struct
        {
            QPoint point;
            QColor colour;
            const char* what;
        } expected[] = {
            {{1, 1}, QColor(0, 0, 0, 0), "outside the page"},
            {{4, 32}, QColor(0, 0, 0, 0), "left of the page"},
            {{14, 54}, QColor(0xff, 0xff, 0xff), "the page"},
            {{10, 32}, QColor(0x33, 0x4d, 0x80), "the page's border"},
            {{25, 18}, QColor(0x99, 0xa8, 0xc4), "the first line"},
            {{25, 45}, QColor(0x99, 0xa8, 0xc4), "the last line"},
            {{25, 31}, QColor(0xff, 0xff, 0xff), "between the lines"},
            {{40, 27}, QColor(0xd9, 0x5b, 0x2b), "the quill's feather"},
            {{22, 59}, QColor(0x5a, 0x2a, 0x10), "the quill's nib"},
        };
        for (const auto& [point, colour, what] : expected)
            QVERIFY2(near(image.pixelColor(point), colour),
                     qPrintable(QStringLiteral("%1 at (%2, %3) is %4").arg(what).arg(point.x()).arg(point.y())
                                    .arg(image.pixelColor(point).name(QColor::HexArgb))));
    }
};

QTEST_MAIN(ProgramIconTest)
#include "ProgramIconTest.moc"
