#pragma once

#include <QString>

// A name as the program holds it when its bytes are not UTF-8, written readably: each "%XX" stands for the lone
// surrogate U+DCXX that carries byte XX, the rest is UTF-8. (C++ has no literal for a lone surrogate.)
inline QString EscapedName(const char* text)
{
    QString name;
    const QByteArray bytes(text);
    qsizetype start = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '%' || i + 2 >= bytes.size())
            continue;
        bool ok = false;
        const int byte = bytes.mid(i + 1, 2).toInt(&ok, 16);
        if (!ok)
            continue;
        name += QString::fromUtf8(bytes.mid(start, i - start));
        name += QChar(char16_t(0xDC00 + byte));
        start = i + 3;
        i += 2;
    }
    return name + QString::fromUtf8(bytes.mid(start));
}
