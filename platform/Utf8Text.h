#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// UTF-8 held as bytes and shown as text, for lists that keep their rows in UTF-8 and must show, save and copy them
// exactly as if they had kept the QString that QString::fromUtf8 made of each row.
namespace Utf8Text {

// The text of the bytes, character for character: a leading byte-order mark is a character here (QString::fromUtf8
// drops it), so that a row whose text begins with U+FEFF reads back as it was stored. Invalid sequences become
// U+FFFD as QString::fromUtf8 makes them.
QString decode(QByteArrayView utf8);

// The bytes to store for a row of UTF-8 so that decode() shows what QString::fromUtf8(row) shows: the row itself when
// it is valid and has no byte-order mark in front, which is almost always; otherwise the UTF-8 of
// QString::fromUtf8(row).
bool needsRewrite(QByteArrayView row);
QByteArray rewritten(QByteArrayView row);

inline bool startsWithByteOrderMark(QByteArrayView bytes)
{
    return bytes.startsWith(QByteArrayView("\xEF\xBB\xBF", 3));
}

// The start of the character that holds bytes[at] (at itself when a character starts there, or at == size): where
// valid UTF-8 may be cut without splitting a character.
inline qsizetype characterStart(QByteArrayView bytes, qsizetype at)
{
    while (at > 0 && at < bytes.size() && (static_cast<unsigned char>(bytes[at]) & 0xC0) == 0x80)
        --at;
    return at;
}

} // namespace Utf8Text
