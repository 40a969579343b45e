#pragma once

#include "Encoding.h"

#include <QByteArray>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

// The decoders behind HtmlEncoding::decode. Each one takes the same steps as a browser's decoder
// for its encoding, so that a broken character becomes U+FFFD at the same place and consumes the
// same bytes: above all, an ASCII byte that cannot finish a character is read again as itself,
// so the markup after a broken character survives.
namespace TextDecoders {

// Collects UTF-8 in one buffer, written through a pointer and grown as needed: decoding a large
// page must cost little next to parsing it.
class Utf8Writer
{
public:
    explicit Utf8Writer(std::size_t expectedSize)
    {
        m_buffer.resize(qsizetype(expectedSize) + 64);
        m_write = m_buffer.data();
        m_end = m_write + m_buffer.size();
    }

    void put(char32_t c)
    {
        reserve(4);
        if (c < 0x80) {
            *m_write++ = char(c);
        } else if (c < 0x800) {
            *m_write++ = char(0xC0 | (c >> 6));
            *m_write++ = char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            *m_write++ = char(0xE0 | (c >> 12));
            *m_write++ = char(0x80 | ((c >> 6) & 0x3F));
            *m_write++ = char(0x80 | (c & 0x3F));
        } else {
            *m_write++ = char(0xF0 | (c >> 18));
            *m_write++ = char(0x80 | ((c >> 12) & 0x3F));
            *m_write++ = char(0x80 | ((c >> 6) & 0x3F));
            *m_write++ = char(0x80 | (c & 0x3F));
        }
    }
    void putReplacement() { put(0xFFFD); }
    // Bytes that are valid UTF-8 already.
    void putBytes(const char* bytes, std::size_t count)
    {
        reserve(count);
        std::memcpy(m_write, bytes, count);
        m_write += count;
    }
    // A character encoded ahead of time: up to three UTF-8 bytes, then their count.
    void putEncoded(const char (&encoded)[4])
    {
        reserve(4);
        std::memcpy(m_write, encoded, 4);
        m_write += encoded[3];
    }

    // Copies the ASCII bytes that open [from, end), most of any page, and returns where they stop.
    const unsigned char* copyAscii(const unsigned char* from, const unsigned char* end)
    {
        while (end - from >= 8) {
            reserve(8);
            std::uint64_t word;
            std::memcpy(&word, from, 8);
            std::memcpy(m_write, &word, 8);
            const std::uint64_t nonAscii = word & 0x8080808080808080ULL;
            if (nonAscii) {
                const int ascii = (std::endian::native == std::endian::little ? std::countr_zero(nonAscii)
                                                                              : std::countl_zero(nonAscii)) /
                                  8;
                m_write += ascii;
                return from + ascii;
            }
            m_write += 8;
            from += 8;
        }
        reserve(std::size_t(end - from));
        while (from < end && *from < 0x80)
            *m_write++ = char(*from++);
        return from;
    }

    QByteArray take();

private:
    void reserve(std::size_t count)
    {
        if (std::size_t(m_end - m_write) < count)
            grow(count);
    }
    void grow(std::size_t count);

    QByteArray m_buffer;
    char* m_write;
    char* m_end;
};

void utf8(std::string_view bytes, Utf8Writer& out);
void utf16(std::string_view bytes, bool bigEndian, Utf8Writer& out);
// Every single-byte encoding, x-user-defined included.
void singleByte(std::string_view bytes, HtmlEncoding::Encoding encoding, Utf8Writer& out);
void shiftJis(std::string_view bytes, Utf8Writer& out);
void eucJp(std::string_view bytes, Utf8Writer& out);
void iso2022Jp(std::string_view bytes, Utf8Writer& out);
void eucKr(std::string_view bytes, Utf8Writer& out);
// GBK too: browsers read GBK pages with the gb18030 decoder.
void gb18030(std::string_view bytes, Utf8Writer& out);
void big5(std::string_view bytes, Utf8Writer& out);

} // namespace TextDecoders
