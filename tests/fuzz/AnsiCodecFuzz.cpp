// The code-page codec both ways. Bytes must come back unchanged through decode and encode, the
// direct UTF-8 decoding must agree with Qt's, and lower-casing a byte must agree with lower-casing
// its character. The same input read as UTF-16 must encode character by character, "?" for what
// the code page cannot hold (a surrogate pair being one character).

#include "AnsiCodec.h"
#include "FuzzCheck.h"

#include <QByteArray>
#include <QChar>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString text = AnsiCodec::decode(bytes);
    FUZZ_CHECK(text.size() == bytes.size());
    FUZZ_CHECK(AnsiCodec::encode(text) == bytes);

    std::string utf8 = "kept:";
    AnsiCodec::appendUtf8(utf8, std::string_view(bytes.constData(), size));
    FUZZ_CHECK(utf8 == "kept:" + text.toUtf8().toStdString());

    const auto& lower = AnsiCodec::lowerCaseTable();
    for (const std::uint8_t byte : QByteArrayView(bytes)) {
        FUZZ_CHECK(AnsiCodec::fromUnicode(AnsiCodec::toUnicode(byte)) == byte);
        const char16_t lowered = QChar(AnsiCodec::toUnicode(byte)).toLower().unicode();
        const int expected = AnsiCodec::fromUnicode(lowered);
        FUZZ_CHECK(lower[byte] == (expected < 0 ? byte : expected));
    }

    const QString wide(reinterpret_cast<const QChar*>(data), qsizetype(size / 2));
    const QByteArray encoded = AnsiCodec::encode(wide);
    qsizetype at = 0;
    for (qsizetype i = 0; i < wide.size(); ++i, ++at) {
        FUZZ_CHECK(at < encoded.size());
        const char16_t c = wide[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < wide.size() && wide[i + 1].isLowSurrogate()) {
            FUZZ_CHECK(encoded[at] == '?');
            ++i;
            continue;
        }
        const int byte = AnsiCodec::fromUnicode(c);
        FUZZ_CHECK(byte < 0 ? encoded[at] == '?' : AnsiCodec::toUnicode(std::uint8_t(encoded[at])) == c);
    }
    FUZZ_CHECK(at == encoded.size());
    return 0;
}
