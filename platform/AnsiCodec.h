#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// The one codec behind every text file the program reads or writes: Windows-1252 on Linux, the
// system's ANSI code page (GetACP) on Windows. A character the code page cannot hold encodes as "?".
//
// On a single-byte code page (Windows-1252 and the other Windows-125x pages) every byte decodes to
// exactly one character, so decoding then encoding gives back the bytes unchanged.
//
// On a double-byte code page (932 Shift_JIS, 936 GBK, 949, 950 Big5) a lead byte and the byte after
// it make one character, decoded and encoded by the system's own conversion (no best fit: "é" is "?"
// there, never "e"). Then:
// - decoding then encoding is the identity only for valid text: an invalid pair, or a lead byte
//   alone, decodes to the code page's default character (U+30FB on 932), which encodes otherwise;
// - a trail byte can be an ASCII letter, a "\" or an "@" (0x93 0x61 is one kanji), so a search of
//   raw bytes must compare whole characters and start only where a character starts;
// - no trail byte on these pages is below 0x40 (a line feed, a tab, a space, a digit), so a line
//   ends at a line feed whatever precedes it, and a lead byte followed by such a byte stands alone,
//   in decoding as in searching (characterLength);
// - a character beyond U+FFFF is one "?", as on a single-byte page.
namespace AnsiCodec {

QString decode(QByteArrayView bytes);
QByteArray encode(QStringView text);
// Appends the same bytes as encode(Utf8Text::decode(utf8)) without making the QString when it can: a row of ASCII
// is written as it stands (every ANSI code page is a superset of ASCII), and valid UTF-8 on a single-byte page is
// mapped character by character. Valid UTF-8 cut between two characters converts piece by piece to the same bytes
// as whole.
void appendEncodedUtf8(QByteArray& out, QByteArrayView utf8);

// The code page's number: 1252 on Linux, GetACP() on Windows.
int codePage();

// Whether the code page has characters of two bytes, and whether a byte opens one.
bool isDoubleByte();
bool isLeadByte(unsigned char byte);

// The length of the character that starts at bytes[0] (at least one byte): 2 for a lead byte
// followed by a byte that can close it, else 1.
inline qsizetype characterLength(const unsigned char* bytes, qsizetype size)
{
    return size > 1 && isLeadByte(bytes[0]) && bytes[1] >= 0x40 ? 2 : 1;
}

// The character one byte stands for. Every byte has one of its own and fromUnicode gives the byte
// back, which is what a text kept as one character per byte relies on. A lead byte alone stands for
// no character: it gets a private-use stand-in, U+F700 + the byte, that encode writes as "?".
char16_t toUnicode(unsigned char byte);

// The code of one character: its byte; on a double-byte page the two-byte code (lead << 8 | trail)
// of a character written in two bytes; -1 when the code page has none.
int fromUnicode(char32_t codePoint);

// Decodes straight into UTF-8, for callers that never need a QString.
void appendUtf8(std::string& out, std::string_view bytes);

// Each byte mapped to the byte of its lower-case letter where the code page holds it, else to
// itself: the table behind case-insensitive searching of raw file bytes. It speaks of characters of
// one byte only: on a double-byte page a byte that opens or closes a two-byte character must not be
// looked up in it (see lowerCasePair).
const std::array<unsigned char, 256>& lowerCaseTable();

// The two-byte code of the lower-case form of the two-byte character (lead, trail) ("Ａ" gives "ａ"),
// or of that character itself when it has none in two bytes. Only meaningful on a double-byte page.
std::uint16_t lowerCasePair(unsigned char lead, unsigned char trail);

} // namespace AnsiCodec
