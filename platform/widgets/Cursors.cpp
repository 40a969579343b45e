#include "Cursors.h"

#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QPixmap>
#include <QStringDecoder>
#include <QtEndian>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

// Cursor files are a few kilobytes; anything far larger is not one, and is not worth reading whole.
constexpr qint64 MaxCursorFileSize = 16 * 1024 * 1024;
constexpr int PreferredSize = 32;

constexpr quint16 IconType = 1;
constexpr quint16 CursorType = 2;
constexpr qsizetype DirectorySize = 6;
constexpr qsizetype EntrySize = 16;

struct Entry
{
    int index;
    int width;
    int hotX; // -1 for icons
    int hotY;
};

quint16 readU16(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<quint16>(bytes.constData() + at);
}

quint32 readU32(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

// Qt decodes the images but keeps a cursor's hot spot to itself, so the directory is read here; it
// is also where a damaged file shows first. Entries whose image lies outside the file are left out.
std::vector<Entry> readDirectory(const QByteArray& bytes)
{
    if (bytes.size() < DirectorySize)
        return {};
    const quint16 type = readU16(bytes, 2);
    const qsizetype count = readU16(bytes, 4);
    if (readU16(bytes, 0) != 0 || (type != IconType && type != CursorType))
        return {};
    const qsizetype imagesStart = DirectorySize + count * EntrySize;
    if (bytes.size() < imagesStart)
        return {};

    std::vector<Entry> entries;
    for (int i = 0; i < count; ++i) {
        const qsizetype at = DirectorySize + i * EntrySize;
        const quint32 length = readU32(bytes, at + 8);
        const quint32 offset = readU32(bytes, at + 12);
        if (length == 0 || offset < imagesStart || offset > bytes.size() || length > bytes.size() - offset)
            continue;
        const int width = quint8(bytes.at(at)) == 0 ? 256 : quint8(bytes.at(at));
        if (type == CursorType)
            entries.push_back({i, width, readU16(bytes, at + 4), readU16(bytes, at + 6)});
        else
            entries.push_back({i, width, -1, -1});
    }
    return entries;
}

QImage readImage(const QByteArray& bytes, int index)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    // The "ico" reader handles both kinds; no guessing of other formats from the content.
    QImageReader reader(&buffer, "ico");
    reader.setAutoDetectImageFormat(false);
    if (index > 0 && !reader.jumpToImage(index))
        return {};
    return reader.read();
}

} // namespace

std::optional<QCursor> LoadCursorFile(const QString& path)
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaxCursorFileSize)
        return std::nullopt;
    const QByteArray bytes = file.readAll();

    std::vector<Entry> entries = readDirectory(bytes);
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return std::abs(a.width - PreferredSize) < std::abs(b.width - PreferredSize);
    });
    for (const Entry& entry : entries) {
        const QImage image = readImage(bytes, entry.index);
        if (image.isNull())
            continue;
        // The directory's size may disagree with the image's own; the hot spot must stay on the image.
        const int hotX = entry.hotX < 0 ? -1 : std::min(entry.hotX, image.width() - 1);
        const int hotY = entry.hotY < 0 ? -1 : std::min(entry.hotY, image.height() - 1);
        return QCursor(QPixmap::fromImage(image), hotX, hotY);
    }
    return std::nullopt;
}

QString LoadStyleSheet(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    // An editor's byte-order mark is dropped by the decoder; left in, it would spoil the first selector.
    QStringDecoder decoder(QStringDecoder::Utf8);
    return decoder(file.readAll());
}
