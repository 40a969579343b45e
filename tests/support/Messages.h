#pragma once

#include <QByteArray>

#include <gtest/gtest.h>

#include <ostream>
#include <string>

// GoogleTest shows a QByteArray that differs as its bytes, as text with C escapes, rather than one character, code
// and hex number each: a message compared with the one expected reads as a message.
inline void PrintTo(const QByteArray& bytes, std::ostream* out)
{
    *out << '"';
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\')
            *out << '\\' << c;
        else if (c == '\n')
            *out << "\\n";
        else if (c == '\r')
            *out << "\\r";
        else if (c == '\t')
            *out << "\\t";
        else if (byte < 0x20 || byte == 0x7F)
            *out << "\\x" << "0123456789ABCDEF"[byte >> 4] << "0123456789ABCDEF"[byte & 15];
        else
            *out << c;
    }
    *out << '"';
}

// What a program wrote to a text stream (its messages on standard error, its help), with the system's line ends made
// "\n": Windows writes text with CR LF. A bare line feed there is a line written some other way, and fails the test.
inline QByteArray Messages(QByteArray text)
{
#ifdef _WIN32
    EXPECT_EQ(text.count('\n'), text.count("\r\n")) << "a line without CR LF in: " << ::testing::PrintToString(text);
    text.replace("\r\n", "\n");
#endif
    return text;
}

inline std::string Messages(const std::string& text)
{
    return Messages(QByteArray::fromStdString(text)).toStdString();
}
