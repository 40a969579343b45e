#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <array>
#include <string>
#include <string_view>

// The one single-byte codec behind every text file the program reads or writes: Windows-1252 on
// Linux, the system's ANSI code page on Windows. Every byte decodes to exactly one character, so
// decoding then encoding gives back the bytes unchanged; a character the code page cannot hold
// encodes as "?".
namespace AnsiCodec {

QString decode(QByteArrayView bytes);
QByteArray encode(QStringView text);

// The character a byte stands for.
char16_t toUnicode(unsigned char byte);

// The byte for one character, or -1 when the code page has none.
int fromUnicode(char32_t codePoint);

// Decodes straight into UTF-8, for callers that never need a QString.
void appendUtf8(std::string& out, std::string_view bytes);

// Each byte mapped to the byte of its lower-case letter where the code page holds it, else to
// itself: the table behind case-insensitive searching of raw file bytes.
const std::array<unsigned char, 256>& lowerCaseTable();

} // namespace AnsiCodec
