// The decoders of the Japanese encodings, and their tables: Shift_JIS, EUC-JP and ISO-2022-JP.

#include "DecoderBytes.h"
#include "IcuTables.h"
#include "TextDecoders.h"

#include <algorithm>
#include <optional>

namespace TextDecoders {

namespace {

// JIS X 0208 with NEC's and IBM's extensions: 94 cells to a row, two rows to a Shift_JIS lead
// byte. Windows' Shift_JIS (ICU's windows-31j, ibm-943_P15A-2003) holds exactly the characters
// browsers read. EUC-JP and ISO-2022-JP reach its first 94 rows.
const Index& jis0208()
{
    static const Index index = readIndex("windows-31j", 60 * 188, [](unsigned pointer, char* bytes) {
        const unsigned lead = pointer / 188, trail = pointer % 188;
        bytes[0] = char(lead < 0x1F ? lead + 0x81 : lead + 0xC1);
        bytes[1] = char(trail < 0x3F ? trail + 0x40 : trail + 0x41);
        return 2;
    });
    return index;
}

// JIS X 0212, the supplementary kanji EUC-JP reaches through 0x8F. ICU's euc-jp-2007 adds IBM's
// extensions from row 0xEE on, which browsers do not read.
const Index& jis0212()
{
    static const Index index = [] {
        Index read = readIndex("euc-jp-2007", 94 * 94, [](unsigned pointer, char* bytes) {
            bytes[0] = char(0x8F);
            bytes[1] = char(pointer / 94 + 0xA1);
            bytes[2] = char(pointer % 94 + 0xA1);
            return 3;
        });
        std::fill(read.begin() + (0xEE - 0xA1) * 94, read.end(), 0);
        return read;
    }();
    return index;
}

} // namespace

void shiftJis(std::string_view bytes, Utf8Writer& out)
{
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    const Index* jis = nullptr;
    std::size_t i = 0;
    while (i < n) {
        if (s[i] < 0x80) {
            copyAscii(s, n, i, out);
            continue;
        }
        const unsigned char lead = s[i++];
        if (lead == 0x80) {
            out.put(0x80);
            continue;
        }
        if (inRange(lead, 0xA1, 0xDF)) { // half-width katakana
            out.put(0xFF61 - 0xA1 + lead);
            continue;
        }
        if (!inRange(lead, 0x81, 0x9F) && !inRange(lead, 0xE0, 0xFC)) {
            out.putReplacement();
            continue;
        }
        if (i == n) {
            out.putReplacement();
            break;
        }
        const unsigned char trail = s[i];
        char32_t c = 0;
        if (inRange(trail, 0x40, 0x7E) || inRange(trail, 0x80, 0xFC)) {
            const unsigned pointer = (lead - (lead < 0xA0 ? 0x81 : 0xC1)) * 188 + trail - (trail < 0x7F ? 0x40 : 0x41);
            if (pointer >= 8836 && pointer <= 10715) {
                c = 0xE000 - 8836 + pointer; // the user-defined area, read as private use
            } else {
                if (!jis)
                    jis = &jis0208();
                c = (*jis)[pointer];
            }
        }
        if (c) {
            out.put(c);
            ++i;
            continue;
        }
        // An ASCII byte cannot belong to a broken character: it is read again as itself.
        if (trail >= 0x80)
            ++i;
        out.putReplacement();
    }
}

void eucJp(std::string_view bytes, Utf8Writer& out)
{
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        if (s[i] < 0x80) {
            copyAscii(s, n, i, out);
            continue;
        }
        unsigned char lead = s[i++];
        if (lead != 0x8E && lead != 0x8F && !inRange(lead, 0xA1, 0xFE)) {
            out.putReplacement();
            continue;
        }
        if (i == n) {
            out.putReplacement();
            break;
        }
        unsigned char trail = s[i];
        if (lead == 0x8E && inRange(trail, 0xA1, 0xDF)) { // half-width katakana
            out.put(0xFF61 - 0xA1 + trail);
            ++i;
            continue;
        }
        bool supplementary = false;
        if (lead == 0x8F && inRange(trail, 0xA1, 0xFE)) { // JIS X 0212: two more bytes
            supplementary = true;
            lead = trail;
            if (++i == n) {
                out.putReplacement();
                break;
            }
            trail = s[i];
        }
        char32_t c = 0;
        if (inRange(lead, 0xA1, 0xFE) && inRange(trail, 0xA1, 0xFE)) {
            const unsigned pointer = (lead - 0xA1) * 94 + trail - 0xA1;
            c = supplementary ? jis0212()[pointer] : jis0208()[pointer];
        }
        if (c) {
            out.put(c);
            ++i;
            continue;
        }
        if (trail >= 0x80)
            ++i;
        out.putReplacement();
    }
}

void iso2022Jp(std::string_view bytes, Utf8Writer& out)
{
    enum class State
    {
        Ascii,
        Roman, // JIS X 0201 Roman: ASCII with a yen sign and an overline
        Katakana,
        LeadByte,
        TrailByte,
        EscapeStart,
        Escape,
    };
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    State state = State::Ascii;
    State outputState = State::Ascii;
    unsigned char lead = 0;
    // Set by an escape sequence and cleared by any output: two escape sequences in a row are an
    // error, as they could hide text.
    bool escapedLast = false;
    std::size_t i = 0;
    for (;;) {
        if (i == n) {
            if (state == State::TrailByte || state == State::EscapeStart) {
                out.putReplacement();
            } else if (state == State::Escape) {
                // The byte after ESC is read again as text.
                out.putReplacement();
                state = outputState;
                escapedLast = false;
                i = n - 1;
                continue;
            }
            return;
        }
        const unsigned char b = s[i];
        switch (state) {
        case State::Ascii:
        case State::Roman:
            ++i;
            if (b == 0x1B) {
                state = State::EscapeStart;
                break;
            }
            escapedLast = false;
            if (b >= 0x80 || b == 0x0E || b == 0x0F)
                out.putReplacement();
            else if (state == State::Roman && b == 0x5C)
                out.put(0x00A5);
            else if (state == State::Roman && b == 0x7E)
                out.put(0x203E);
            else
                out.put(b);
            break;
        case State::Katakana:
            ++i;
            if (b == 0x1B) {
                state = State::EscapeStart;
                break;
            }
            escapedLast = false;
            if (inRange(b, 0x21, 0x5F))
                out.put(0xFF61 - 0x21 + b);
            else
                out.putReplacement();
            break;
        case State::LeadByte:
            ++i;
            if (b == 0x1B) {
                state = State::EscapeStart;
                break;
            }
            escapedLast = false;
            if (inRange(b, 0x21, 0x7E)) {
                lead = b;
                state = State::TrailByte;
            } else {
                out.putReplacement();
            }
            break;
        case State::TrailByte:
            ++i;
            if (b == 0x1B) {
                state = State::EscapeStart;
                out.putReplacement();
                break;
            }
            state = State::LeadByte;
            if (inRange(b, 0x21, 0x7E)) {
                const char32_t c = jis0208()[(lead - 0x21) * 94 + b - 0x21];
                if (c)
                    out.put(c);
                else
                    out.putReplacement();
            } else {
                out.putReplacement();
            }
            break;
        case State::EscapeStart:
            if (b == 0x24 || b == 0x28) {
                lead = b;
                state = State::Escape;
                ++i;
                break;
            }
            // Not an escape sequence: the byte is read again as text.
            escapedLast = false;
            state = outputState;
            out.putReplacement();
            break;
        case State::Escape: {
            std::optional<State> next;
            if (lead == 0x28 && b == 0x42)
                next = State::Ascii; // ESC ( B
            else if (lead == 0x28 && b == 0x4A)
                next = State::Roman; // ESC ( J
            else if (lead == 0x28 && b == 0x49)
                next = State::Katakana; // ESC ( I
            else if (lead == 0x24 && (b == 0x40 || b == 0x42))
                next = State::LeadByte; // ESC $ @, ESC $ B: JIS X 0208
            if (next) {
                ++i;
                state = outputState = *next;
                if (escapedLast)
                    out.putReplacement();
                escapedLast = true;
            } else {
                // Not an escape sequence: both bytes after ESC are read again as text.
                --i;
                escapedLast = false;
                state = outputState;
                out.putReplacement();
            }
            break;
        }
        }
    }
}

} // namespace TextDecoders
