#include "AnsiCodec.h"
#include "Utf8Text.h"

#include <gtest/gtest.h>

#include <string>

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

// The saves convert rows from the UTF-8 they are kept in: the bytes must be those of converting the row's text.
TEST(AnsiCodec, EncodingUtf8GivesTheBytesOfEncodingItsText)
{
    using namespace std::string_literals;
    const struct
    {
        const char* name;
        std::string utf8;
        QByteArray expected; // in Windows-1252
    } cases[] = {
        {"ASCII", "<p>a b</p>", "<p>a b</p>"},
        {"Latin-1", "caf\xC3\xA9 \xC3\xBF\xC2\xA0", "caf\xE9 \xFF\xA0"},
        {"moved by Windows-1252", "\xE2\x82\xAC\xC5\x92\xE2\x80\x9D", "\x80\x8C\x94"},
        {"C1 control kept by Windows-1252", "\xC2\x81", "\x81"},
        {"outside the code page", "\xCE\xA9\xE4\xB8\xAD", "??"},
        {"beyond U+FFFF", "a\xF0\x9F\x98\x80z", "a?z"},
        {"byte-order mark, a character here", "\xEF\xBB\xBFx", "?x"},
        {"invalid byte", "x\xFFy", "x?y"},
        {"cut sequence", "ab\xE2\x82", "ab??"},
        {"surrogate half", "\xED\xA0\x80!", "?\?\?!"},
        {"NUL and CR LF", "a\0b\r\n"s, QByteArray("a\0b\r\n", 5)},
        {"empty", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArrayView utf8(c.utf8.data(), qsizetype(c.utf8.size()));
        QByteArray out("kept ");
        AnsiCodec::appendEncodedUtf8(out, utf8);
        EXPECT_EQ(out, "kept " + c.expected);
        EXPECT_EQ(out.mid(5), AnsiCodec::encode(Utf8Text::decode(utf8)));
        if (!Utf8Text::startsWithByteOrderMark(utf8)) {
            EXPECT_EQ(out.mid(5), AnsiCodec::encode(QString::fromUtf8(utf8)));
        }
    }

    // Valid UTF-8 converted in pieces cut between characters gives the bytes of converting it whole.
    const QByteArray text = "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"
                            "a\xE4\xB8\xAD\xEF\xBB\xBF";
    for (qsizetype cut = 0; cut <= text.size(); ++cut) {
        if (Utf8Text::characterStart(text, cut) != cut)
            continue;
        SCOPED_TRACE(cut);
        QByteArray pieces;
        AnsiCodec::appendEncodedUtf8(pieces, QByteArrayView(text).first(cut));
        AnsiCodec::appendEncodedUtf8(pieces, QByteArrayView(text).sliced(cut));
        EXPECT_EQ(pieces, AnsiCodec::encode(Utf8Text::decode(text)));
    }
}
