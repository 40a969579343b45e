#pragma once

#include <string>
#include <vector>

// Rows as a worker may send them: any character, and in theory bytes that are no UTF-8 at all.
struct ByteRow
{
    const char* name;
    std::string bytes;
};

inline const std::vector<ByteRow>& everyKindOfRow()
{
    using namespace std::string_literals;
    static const std::vector<ByteRow> rows{
        {"ASCII", "<p>plain</p>"},
        {"Latin-1", "caf\xC3\xA9 \xC2\xA0\xC3\xBF"},
        {"Windows-1252 only", "\xE2\x82\xAC \xE2\x80\x9C\xC5\x92\xE2\x80\x9D"},
        {"CJK", "\xE4\xB8\xAD\xE6\x96\x87"},
        {"emoji", "a\xF0\x9F\x98\x80z"},
        {"U+FFFD stored", "\xEF\xBF\xBD"},
        {"invalid byte", "x\xFFy"},
        {"cut sequence at the end", "ab\xE2\x82"},
        {"surrogate half", "\xED\xA0\x80!"},
        {"overlong slash", "\xC0\xAF"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80"},
        {"NUL", "a\0b\0"s},
        {"CR LF", "one\r\ntwo\r\n"},
        {"empty", ""},
        {"byte-order mark", "\xEF\xBB\xBF<b>"},
        {"two byte-order marks", "\xEF\xBB\xBF\xEF\xBB\xBFx"},
        {"mark inside", "a\xEF\xBB\xBF"},
        {"spaces", "  a  "},
    };
    return rows;
}
