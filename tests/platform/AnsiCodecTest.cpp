#include "AnsiCodec.h"

#include <gtest/gtest.h>

TEST(AnsiCodec, EveryByteDecodesToOneCharacterAndEncodesBack)
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    const QString text = AnsiCodec::decode(all);
    ASSERT_EQ(text.size(), 256);
    EXPECT_EQ(AnsiCodec::encode(text), all);

    std::string utf8;
    AnsiCodec::appendUtf8(utf8, std::string_view(all.constData(), 256));
    EXPECT_EQ(QString::fromStdString(utf8), text);
}

TEST(AnsiCodec, DecodesWindows1252IncludingItsUndefinedBytes)
{
    const struct
    {
        unsigned char byte;
        char16_t expected;
    } cases[] = {
        {0x41, u'A'},      {0x80, u'\u20AC'}, {0x81, u'\u0081'}, {0x8D, u'\u008D'}, {0x8F, u'\u008F'},
        {0x90, u'\u0090'}, {0x9D, u'\u009D'}, {0x92, u'\u2019'}, {0x9F, u'\u0178'}, {0xA0, u'\u00A0'},
        {0xE9, u'\u00E9'}, {0xFF, u'\u00FF'}, {0x00, u'\0'},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.byte));
        EXPECT_EQ(AnsiCodec::toUnicode(c.byte), c.expected);
    }
}

TEST(AnsiCodec, EncodesWhatTheCodePageCannotHoldAsOneQuestionMarkEach)
{
    EXPECT_EQ(AnsiCodec::encode(u"\u20AC caf\u00E9"), QByteArray("\x80 caf\xE9"));
    EXPECT_EQ(AnsiCodec::encode(u"a\u03A9b"), QByteArray("a?b"));
    // A character beyond U+FFFF is one character, written as one "?".
    EXPECT_EQ(AnsiCodec::encode(QString::fromUtf8("x\xF0\x9F\x98\x80y")), QByteArray("x?y"));
    // A lone surrogate is no character of the code page either.
    EXPECT_EQ(AnsiCodec::encode(QString(QChar(0xD800)) + QStringLiteral("z")), QByteArray("?z"));
    EXPECT_EQ(AnsiCodec::fromUnicode(0x1F600), -1);
}

TEST(AnsiCodec, LowerCaseTableFoldsLettersOfTheCodePage)
{
    const auto& lower = AnsiCodec::lowerCaseTable();
    EXPECT_EQ(lower['A'], 'a');
    EXPECT_EQ(lower['z'], 'z');
    EXPECT_EQ(lower[0xC9], 0xE9); // É
    EXPECT_EQ(lower[0x8A], 0x9A); // Š
    EXPECT_EQ(lower[0x9F], 0xFF); // Ÿ
    EXPECT_EQ(lower[0x8C], 0x9C); // Œ
    EXPECT_EQ(lower['1'], '1');
    EXPECT_EQ(lower[0xDF], 0xDF); // ß has no capital in the code page
    EXPECT_EQ(lower[0xD7], 0xD7); // ×
}
