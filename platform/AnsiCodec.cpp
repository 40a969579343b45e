#include "AnsiCodec.h"

#include "Utf8.h"
#include "Utf8Text.h"

#include <QChar>

#include <algorithm>
#include <climits>
#include <memory>

#ifdef Q_OS_WIN
#include <QStringDecoder>
#include <windows.h>
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
    // Double-byte code pages only.
    bool doubleByte = false;
    std::array<bool, 256> lead{};
    int number = 1252;
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

// Where a lead byte's stand-in lies: private use, which no double-byte code page gives a byte of its
// own (their user-defined characters are pairs, and take precedence nowhere here).
constexpr char16_t kLeadByteStandIns = 0xF700;

CodePage makeCodePage()
{
    CodePage page;
#ifdef Q_OS_WIN
    page.number = int(GetACP());
    CPINFO info;
    if (GetCPInfo(CP_ACP, &info) && info.MaxCharSize == 2) {
        page.doubleByte = true;
        for (int r = 0; r + 1 < MAX_LEADBYTES && info.LeadByte[r] != 0; r += 2)
            for (int b = info.LeadByte[r]; b <= info.LeadByte[r + 1]; ++b)
                page.lead[b] = true;
    }
#endif
    for (int b = 0; b < 256; ++b) {
#ifdef Q_OS_WIN
        if (page.lead[b]) {
            page.toUnicode[b] = char16_t(kLeadByteStandIns + b);
            continue;
        }
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

#ifdef Q_OS_WIN
// The system's own conversions, for a double-byte code page. Both work in pieces that an int counts.
constexpr qsizetype kPiece = INT_MAX / 4;

QString decodeDoubleByte(QByteArrayView bytes)
{
    // Never more UTF-16 units than bytes on a double-byte page.
    QString text(bytes.size(), Qt::Uninitialized);
    auto* out = reinterpret_cast<wchar_t*>(text.data());
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    qsizetype written = 0;
    qsizetype run = 0;
    const auto convert = [&](qsizetype end) {
        if (end > run)
            written +=
                MultiByteToWideChar(CP_ACP, 0, bytes.data() + run, int(end - run), out + written, int(end - run));
        run = end;
    };
    for (qsizetype at = 0; at < bytes.size();) {
        const qsizetype length = AnsiCodec::characterLength(data + at, bytes.size() - at);
        at += length;
        // A lead byte that nothing can close stands alone, as a search sees it: the system would take the line feed
        // or the tab after it along into one default character.
        if ((length == 1 && codePage().lead[data[at - 1]]) || at - run >= kPiece)
            convert(at);
    }
    convert(bytes.size());
    text.truncate(written);
    return text;
}

QByteArray encodeDoubleByte(QStringView text)
{
    // One "?" for each character the page lacks, as on a single-byte page: the system writes one for each half of
    // a character beyond U+FFFF.
    QString folded;
    if (std::any_of(text.begin(), text.end(), [](QChar c) { return c.isSurrogate(); })) {
        folded.reserve(text.size());
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (!text[i].isSurrogate()) {
                folded.append(text[i]);
                continue;
            }
            if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
                ++i;
            folded.append(u'?');
        }
        text = folded;
    }
    QByteArray bytes(text.size() * 2, Qt::Uninitialized);
    qsizetype written = 0;
    for (qsizetype at = 0; at < text.size();) {
        const qsizetype piece = std::min(kPiece, text.size() - at);
        // No best fit: a character the code page lacks is "?", never a look-alike ("é" as "e").
        written += WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, reinterpret_cast<const wchar_t*>(text.data()) + at,
                                       int(piece), bytes.data() + written, int(piece * 2), "?", nullptr);
        at += piece;
    }
    bytes.truncate(written);
    return bytes;
}

// The two-byte code of one character, or -1.
int pairFor(char16_t c)
{
    char out[2];
    BOOL usedDefault = FALSE;
    const wchar_t wide = wchar_t(c);
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, &wide, 1, out, 2, "?", &usedDefault);
    if (n != 2 || usedDefault)
        return -1;
    return (static_cast<unsigned char>(out[0]) << 8) | static_cast<unsigned char>(out[1]);
}

std::unique_ptr<std::array<std::uint16_t, 0x10000>> makeLowerCasePairs()
{
    auto pairs = std::make_unique<std::array<std::uint16_t, 0x10000>>();
    for (int code = 0; code < 0x10000; ++code)
        (*pairs)[code] = std::uint16_t(code);
    for (int lead = 0; lead < 256; ++lead) {
        if (!codePage().lead[lead])
            continue;
        for (int trail = 0x40; trail < 256; ++trail) {
            const char bytes[2] = {char(lead), char(trail)};
            wchar_t c = 0;
            if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes, 2, &c, 1) != 1)
                continue;
            const char16_t lower = QChar(char16_t(c)).toLower().unicode();
            const int code = lower == c ? -1 : pairFor(lower);
            if (code >= 0)
                (*pairs)[(lead << 8) | trail] = std::uint16_t(code);
        }
    }
    return pairs;
}
#endif

} // namespace

namespace AnsiCodec {

int codePage()
{
    return ::codePage().number;
}

bool isDoubleByte()
{
    return ::codePage().doubleByte;
}

bool isLeadByte(unsigned char byte)
{
    return ::codePage().lead[byte];
}

char16_t toUnicode(unsigned char byte)
{
    return ::codePage().toUnicode[byte];
}

int fromUnicode(char32_t codePoint)
{
    if (codePoint > 0xFFFF)
        return -1;
    const CodePage& page = ::codePage();
    if (page.representable[codePoint])
        return int(page.fromUnicode[codePoint]);
#ifdef Q_OS_WIN
    if (page.doubleByte && !QChar::isSurrogate(codePoint))
        return pairFor(char16_t(codePoint));
#endif
    return -1;
}

QString decode(QByteArrayView bytes)
{
    const CodePage& page = ::codePage();
#ifdef Q_OS_WIN
    if (page.doubleByte)
        return decodeDoubleByte(bytes);
#endif
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        out[i] = QChar(page.toUnicode[static_cast<unsigned char>(bytes[i])]);
    return text;
}

QByteArray encode(QStringView text)
{
    const CodePage& page = ::codePage();
#ifdef Q_OS_WIN
    if (page.doubleByte)
        return encodeDoubleByte(text);
#endif
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

void appendEncodedUtf8(QByteArray& out, QByteArrayView utf8)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
    const qsizetype size = utf8.size();
    unsigned char any = 0;
    for (qsizetype i = 0; i < size; ++i)
        any |= bytes[i];
    if (any < 0x80) {
        out.append(utf8);
        return;
    }
    const CodePage& page = ::codePage();
    if (page.doubleByte || !utf8.isValidUtf8()) {
        out.append(encode(Utf8Text::decode(utf8)));
        return;
    }
    // Valid UTF-8 holds no surrogate, so each character is looked up as encode() looks up a QChar, and each one
    // beyond U+FFFF (a surrogate pair there) is one "?".
    const qsizetype first = out.size();
    out.resize(first + size);
    char* written = out.data() + first;
    for (qsizetype i = 0; i < size;) {
        const unsigned char lead = bytes[i];
        char32_t c;
        if (lead < 0x80) {
            c = lead;
            i += 1;
        } else if (lead < 0xE0) {
            c = char32_t(lead & 0x1F) << 6 | (bytes[i + 1] & 0x3F);
            i += 2;
        } else if (lead < 0xF0) {
            c = char32_t(lead & 0x0F) << 12 | char32_t(bytes[i + 1] & 0x3F) << 6 | (bytes[i + 2] & 0x3F);
            i += 3;
        } else {
            c = 0x10000;
            i += 4;
        }
        *written++ = c < 0x10000 && page.representable[c] ? char(page.fromUnicode[c]) : '?';
    }
    out.truncate(written - out.constData());
}

void appendUtf8(std::string& out, std::string_view bytes)
{
    const CodePage& page = ::codePage();
    if (page.doubleByte) {
        const QByteArray utf8 = decode(QByteArrayView(bytes.data(), qsizetype(bytes.size()))).toUtf8();
        out.append(utf8.constData(), std::size_t(utf8.size()));
        return;
    }
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
    return ::codePage().lower;
}

std::uint16_t lowerCasePair(unsigned char lead, unsigned char trail)
{
#ifdef Q_OS_WIN
    if (::codePage().doubleByte) {
        static const auto pairs = makeLowerCasePairs();
        return (*pairs)[(lead << 8) | trail];
    }
#endif
    return std::uint16_t((lead << 8) | trail);
}

} // namespace AnsiCodec
