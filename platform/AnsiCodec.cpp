#include "AnsiCodec.h"

#include "Utf8.h"

#include <QChar>

#ifdef Q_OS_WIN
#include <QStringDecoder>
#endif

namespace {

struct CodePage
{
    std::array<char16_t, 256> toUnicode{};
    // Reverse map for the characters that do not stand for themselves (everything outside
    // U+0000-U+007F and U+00A0-U+00FF, plus whatever a Windows code page moves).
    std::array<unsigned char, 0x10000> fromUnicode{};
    std::array<bool, 0x10000> representable{};
    std::array<unsigned char, 256> lower{};
};

#ifndef Q_OS_WIN
// Windows-1252 from 0x80 to 0x9F. The five bytes it leaves undefined decode to the C1 control of
// the same value, as Windows does, so that no byte is lost on the way through.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};
#endif

CodePage makeCodePage()
{
    CodePage page;
    for (int b = 0; b < 256; ++b) {
#ifdef Q_OS_WIN
        const char byte = char(b);
        QStringDecoder decoder(QStringConverter::System);
        const QString decoded = decoder.decode(QByteArrayView(&byte, 1));
        page.toUnicode[b] = decoded.size() == 1 ? decoded.at(0).unicode() : char16_t(b);
#else
        page.toUnicode[b] = (b >= 0x80 && b < 0xA0) ? kWindows1252High[b - 0x80] : char16_t(b);
#endif
    }
    for (int b = 255; b >= 0; --b) {
        page.fromUnicode[page.toUnicode[b]] = static_cast<unsigned char>(b);
        page.representable[page.toUnicode[b]] = true;
    }
    for (int b = 0; b < 256; ++b) {
        const char16_t lower = QChar(page.toUnicode[b]).toLower().unicode();
        page.lower[b] = page.representable[lower] ? page.fromUnicode[lower] : static_cast<unsigned char>(b);
    }
    return page;
}

const CodePage& codePage()
{
    static const CodePage page = makeCodePage();
    return page;
}

} // namespace

namespace AnsiCodec {

char16_t toUnicode(unsigned char byte)
{
    return codePage().toUnicode[byte];
}

int fromUnicode(char32_t codePoint)
{
    if (codePoint > 0xFFFF)
        return -1;
    const CodePage& page = codePage();
    return page.representable[codePoint] ? int(page.fromUnicode[codePoint]) : -1;
}

QString decode(QByteArrayView bytes)
{
    const CodePage& page = codePage();
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        out[i] = QChar(page.toUnicode[static_cast<unsigned char>(bytes[i])]);
    return text;
}

QByteArray encode(QStringView text)
{
    const CodePage& page = codePage();
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1].unicode())) {
            // One character outside the code page, one "?".
            bytes.append('?');
            ++i;
        } else if (page.representable[c]) {
            bytes.append(char(page.fromUnicode[c]));
        } else {
            bytes.append('?');
        }
    }
    return bytes;
}

void appendUtf8(std::string& out, std::string_view bytes)
{
    const CodePage& page = codePage();
    out.reserve(out.size() + bytes.size());
    for (const char byte : bytes) {
        const auto b = static_cast<unsigned char>(byte);
        if (b < 0x80)
            out.push_back(byte);
        else
            Utf8::appendCodePoint(out, page.toUnicode[b]);
    }
}

const std::array<unsigned char, 256>& lowerCaseTable()
{
    return codePage().lower;
}

} // namespace AnsiCodec
