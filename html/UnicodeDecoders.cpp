// The output buffer every decoder writes into, and the decoders of the Unicode encodings.

#include "DecoderBytes.h"
#include "TextDecoders.h"

#include <algorithm>

namespace TextDecoders {

void Utf8Writer::grow(std::size_t count)
{
    const std::ptrdiff_t used = m_write - m_buffer.data();
    const qsizetype size = std::max<qsizetype>(m_buffer.size() + m_buffer.size() / 2, used + qsizetype(count) + 64);
    m_buffer.resize(size);
    m_write = m_buffer.data() + used;
    m_end = m_buffer.data() + m_buffer.size();
}

QByteArray Utf8Writer::take()
{
    const qsizetype used = m_write - m_buffer.data();
    m_buffer.resize(used);
    // The document keeps this buffer as long as it lives: give back a generous estimate.
    if (m_buffer.capacity() - used > used / 8 + 4096)
        m_buffer.squeeze();
    m_write = m_end = nullptr;
    return std::move(m_buffer);
}

void utf8(std::string_view bytes, Utf8Writer& out)
{
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        if (s[i] < 0x80) {
            copyAscii(s, n, i, out);
            continue;
        }
        const unsigned char lead = s[i];
        std::size_t needed;
        unsigned char low = 0x80, high = 0xBF;
        if (inRange(lead, 0xC2, 0xDF)) {
            needed = 1;
        } else if (inRange(lead, 0xE0, 0xEF)) {
            needed = 2;
            if (lead == 0xE0)
                low = 0xA0;
            else if (lead == 0xED)
                high = 0x9F; // no surrogates
        } else if (inRange(lead, 0xF0, 0xF4)) {
            needed = 3;
            if (lead == 0xF0)
                low = 0x90;
            else if (lead == 0xF4)
                high = 0x8F; // nothing above U+10FFFF
        } else {
            out.putReplacement();
            ++i;
            continue;
        }
        std::size_t seen = 0;
        while (seen < needed && i + 1 + seen < n && inRange(s[i + 1 + seen], low, high)) {
            ++seen;
            low = 0x80;
            high = 0xBF;
        }
        if (seen == needed) {
            out.putBytes(reinterpret_cast<const char*>(s + i), needed + 1);
        } else {
            // One U+FFFD for the lead and the continuation bytes that fitted it; the byte that did
            // not fit starts afresh.
            out.putReplacement();
        }
        i += seen + 1;
    }
}

void utf16(std::string_view bytes, bool bigEndian, Utf8Writer& out)
{
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    char16_t leadSurrogate = 0;
    while (i + 1 < n) {
        const char16_t unit = bigEndian ? char16_t(s[i] << 8 | s[i + 1]) : char16_t(s[i + 1] << 8 | s[i]);
        if (leadSurrogate) {
            const char16_t lead = leadSurrogate;
            leadSurrogate = 0;
            if (unit >= 0xDC00 && unit <= 0xDFFF) {
                out.put(0x10000 + ((char32_t(lead) - 0xD800) << 10) + (unit - 0xDC00));
                i += 2;
            } else {
                out.putReplacement(); // the unit after a lone lead surrogate is read afresh
            }
            continue;
        }
        i += 2;
        if (unit >= 0xD800 && unit <= 0xDBFF)
            leadSurrogate = unit;
        else if (unit >= 0xDC00 && unit <= 0xDFFF)
            out.putReplacement();
        else
            out.put(unit);
    }
    // A lone lead surrogate, an odd last byte, or both: one U+FFFD.
    if (leadSurrogate || i < n)
        out.putReplacement();
}

} // namespace TextDecoders
