#include "Utf8Text.h"

#include <QStringDecoder>

namespace Utf8Text {

QString decode(QByteArrayView utf8)
{
    if (!startsWithByteOrderMark(utf8))
        return QString::fromUtf8(utf8);
    // Stateless: a sequence cut short at the end becomes U+FFFD, as in QString::fromUtf8, instead of waiting for
    // more bytes.
    QStringDecoder decoder(QStringConverter::Utf8,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(utf8);
}

bool needsRewrite(QByteArrayView row)
{
    return startsWithByteOrderMark(row) || !row.isValidUtf8();
}

QByteArray rewritten(QByteArrayView row)
{
    return QString::fromUtf8(row).toUtf8();
}

} // namespace Utf8Text
