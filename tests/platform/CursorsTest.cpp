#include "Cursors.h"

#include "TempDir.h"

#include <QApplication>
#include <QPixmap>
#include <QtEndian>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

// Cursors hold pixmaps, which need an application object; every test of this program gets one.
class OffscreenApplication : public testing::Environment
{
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        m_app = std::make_unique<QApplication>(m_argc, m_argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    int m_argc = 1;
    char m_name[32] = "quillory_platform_widget_tests";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QApplication> m_app;
};

[[maybe_unused]] testing::Environment* const offscreenApplication =
    testing::AddGlobalTestEnvironment(new OffscreenApplication);

struct Image
{
    int width;
    int height;
    int bitsPerPixel; // 1 or 32
    int hotX = 0;
    int hotY = 0;
};

void appendU16(QByteArray& bytes, quint16 value)
{
    char le[2];
    qToLittleEndian(value, le);
    bytes.append(le, 2);
}

void appendU32(QByteArray& bytes, quint32 value)
{
    char le[4];
    qToLittleEndian(value, le);
    bytes.append(le, 4);
}

// A device-independent bitmap as icon and cursor files hold it: the header (with the height of colour
// and mask together), the palette of a monochrome image, the colour rows, then the AND mask.
QByteArray bitmap(const Image& image)
{
    QByteArray bytes;
    appendU32(bytes, 40);
    appendU32(bytes, image.width);
    appendU32(bytes, image.height * 2);
    appendU16(bytes, 1);
    appendU16(bytes, image.bitsPerPixel);
    for (int field = 0; field < 6; ++field)
        appendU32(bytes, 0);
    if (image.bitsPerPixel == 1) {
        appendU32(bytes, 0x00000000);
        appendU32(bytes, 0x00FFFFFF);
    }
    const int colourStride = (image.width * image.bitsPerPixel + 31) / 32 * 4;
    const int maskStride = (image.width + 31) / 32 * 4;
    bytes.append(colourStride * image.height, image.bitsPerPixel == 1 ? char(0xAA) : char(0xFF));
    bytes.append(maskStride * image.height, char(0));
    return bytes;
}

// type 1 is an icon file, type 2 a cursor file, whose directory entries hold the hot spot.
QByteArray iconFile(int type, const std::vector<Image>& images)
{
    QByteArray directory;
    appendU16(directory, 0);
    appendU16(directory, type);
    appendU16(directory, quint16(images.size()));
    QByteArray data;
    quint32 offset = 6 + 16 * quint32(images.size());
    for (const Image& image : images) {
        const QByteArray bits = bitmap(image);
        directory.append(char(image.width == 256 ? 0 : image.width));
        directory.append(char(image.height == 256 ? 0 : image.height));
        directory.append(char(0));
        directory.append(char(0));
        appendU16(directory, type == 2 ? image.hotX : 1);
        appendU16(directory, type == 2 ? image.hotY : image.bitsPerPixel);
        appendU32(directory, bits.size());
        appendU32(directory, offset);
        offset += bits.size();
        data += bits;
    }
    return directory + data;
}

} // namespace

TEST(Cursors, LoadsCursorAndIconFiles)
{
    const struct
    {
        const char* name;
        QByteArray bytes;
        QSize size;
        QPoint hotSpot;
    } cases[] = {
        {"hand.cur", iconFile(2, {{32, 32, 1, 5, 7}}), {32, 32}, {5, 7}},
        {"HAND-M.CUR", iconFile(2, {{32, 32, 32, 0, 0}}), {32, 32}, {0, 0}},
        {"big.cur", iconFile(2, {{48, 48, 32, 47, 1}}), {48, 48}, {47, 1}},
        // An icon has no hot spot of its own: the centre, as the system gives icons.
        {"drag.ico", iconFile(1, {{32, 32, 32}}), {32, 32}, {16, 16}},
        {"sizes.ico", iconFile(1, {{16, 16, 32}, {48, 48, 32}, {32, 32, 1}, {24, 24, 32}}), {32, 32}, {16, 16}},
        {"sizes.cur", iconFile(2, {{64, 64, 32, 1, 1}, {24, 24, 1, 2, 3}}), {24, 24}, {2, 3}},
        // A hot spot off the image is kept on its edge.
        {"off.cur", iconFile(2, {{32, 32, 1, 40, 500}}), {32, 32}, {31, 31}},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<QCursor> cursor = LoadCursorFile(dir.write(QString::fromUtf8(c.name), c.bytes));
        ASSERT_TRUE(cursor.has_value());
        EXPECT_EQ(cursor->shape(), Qt::BitmapCursor);
        EXPECT_EQ(cursor->pixmap().size(), c.size);
        EXPECT_EQ(cursor->hotSpot(), c.hotSpot);
    }
}

TEST(Cursors, SkipsAnImageThatLiesOutsideTheFile)
{
    QByteArray bytes = iconFile(2, {{32, 32, 1, 9, 9}, {16, 16, 1, 3, 4}});
    // The first entry's image now starts past the end.
    qToLittleEndian<quint32>(quint32(bytes.size() + 100), bytes.data() + 6 + 12);
    TempDir dir;
    const std::optional<QCursor> cursor = LoadCursorFile(dir.write(QStringLiteral("half.cur"), bytes));
    ASSERT_TRUE(cursor.has_value());
    EXPECT_EQ(cursor->pixmap().size(), QSize(16, 16));
    EXPECT_EQ(cursor->hotSpot(), QPoint(3, 4));
}

TEST(Cursors, MissingOrDamagedFilesGiveNothing)
{
    const QByteArray valid = iconFile(2, {{32, 32, 1, 5, 7}});
    auto patched = [&valid](qsizetype at, QByteArray with) {
        return QByteArray(valid).replace(at, with.size(), with);
    };
    const struct
    {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"empty", {}},
        {"text", "body { color: red }\n"},
        {"directory only", valid.left(6)},
        {"no images", QByteArray("\0\0\2\0\0\0", 6)},
        {"reserved word set", patched(0, QByteArray("\1\0", 2))},
        {"unknown type", patched(2, QByteArray("\3\0", 2))},
        {"more entries than the file holds", patched(4, QByteArray("\xFF\xFF", 2))},
        {"image inside the directory", patched(18, QByteArray("\0\0\0\0", 4))},
        {"image of no bytes", patched(14, QByteArray("\0\0\0\0", 4))},
        {"bitmap header of nonsense", patched(22, QByteArray(40, '\xFF'))},
        // Qt takes the size from the directory, unless that says 256 (0), when the bitmap's own counts.
        {"huge bitmap",
         patched(6, QByteArray(2, '\0')).replace(26, 8, QByteArray("\xFF\xFF\xFF\x7F\xFE\xFF\xFF\x7F", 8))},
        {"png signature then rubbish", patched(22, QByteArray("\x89PNG\r\n\x1A\n") + QByteArray(40, 'x'))},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(LoadCursorFile(dir.write(QStringLiteral("bad.cur"), c.bytes)).has_value());
    }
    EXPECT_FALSE(LoadCursorFile(dir.path() + QStringLiteral("/HAND-M.CUR")).has_value());
    EXPECT_FALSE(LoadCursorFile(dir.path()).has_value());

    for (qsizetype length = 0; length < valid.size(); ++length) {
        SCOPED_TRACE(length);
        EXPECT_FALSE(LoadCursorFile(dir.write(QStringLiteral("cut.cur"), valid.left(length))).has_value());
    }
}

TEST(Cursors, SurvivesEveryDamagedByte)
{
    const QByteArray valid = iconFile(2, {{32, 32, 1, 5, 7}, {16, 16, 32, 1, 1}});
    TempDir dir;
    for (qsizetype at = 0; at < valid.size(); ++at) {
        for (const char damage : {'\x00', '\x80', '\xFF'}) {
            QByteArray bytes = valid;
            bytes[at] = damage;
            const std::optional<QCursor> cursor = LoadCursorFile(dir.write(QStringLiteral("damaged.cur"), bytes));
            if (cursor) {
                const QSize size = cursor->pixmap().size();
                ASSERT_TRUE(QRect(QPoint(0, 0), size).contains(cursor->hotSpot())) << "byte " << at;
            }
        }
    }
}

TEST(Cursors, StyleSheetIsReadAsUtf8)
{
    const QString sheet = QStringLiteral("QWidget { font-family: \"Ärial\"; } /* \u00B7 */\n");
    const struct
    {
        const char* name;
        QByteArray bytes;
        QString expected;
    } cases[] = {
        {"plain", sheet.toUtf8(), sheet},
        {"with byte-order mark", "\xEF\xBB\xBF" + sheet.toUtf8(), sheet},
        {"empty", {}, {}},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(LoadStyleSheet(dir.write(QStringLiteral("o.cjs"), c.bytes)), c.expected);
    }
    EXPECT_EQ(LoadStyleSheet(dir.path() + QStringLiteral("/x/o.cjs")), QString());
    EXPECT_EQ(LoadStyleSheet(dir.path()), QString());
}
