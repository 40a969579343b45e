#include "ResultsFormat.h"

#include <gtest/gtest.h>

TEST(ResultsFormat, TextFileHasOneCrLfLinePerRow)
{
    EXPECT_EQ(ResultsFormat::textFile({"a", "", "b"}), QByteArray("a\r\n\r\nb\r\n"));
    EXPECT_EQ(ResultsFormat::textFile({}), QByteArray());
    // Rows are written as stored: tabs, commas and line breaks of their own included.
    EXPECT_EQ(ResultsFormat::textFile({"x\ty", "1,2", "p\nq"}), QByteArray("x\ty\r\n1,2\r\np\nq\r\n"));
    EXPECT_EQ(ResultsFormat::textFile({QStringLiteral("caf\u00E9 \u03A9")}), QByteArray("caf\xE9 ?\r\n"));
}

TEST(ResultsFormat, CommaDelimitedFileIsOneLineWithACommaAfterEveryRow)
{
    EXPECT_EQ(ResultsFormat::commaDelimitedFile({"a", "b", "c"}), QByteArray("a,b,c,\r\n"));
    EXPECT_EQ(ResultsFormat::commaDelimitedFile({"x"}), QByteArray("x,\r\n"));
    EXPECT_EQ(ResultsFormat::commaDelimitedFile({"a,b", "c"}), QByteArray("a,b,c,\r\n"));
    EXPECT_EQ(ResultsFormat::commaDelimitedFile({"a", "", "b"}), QByteArray("a,,b,\r\n"));
    EXPECT_EQ(ResultsFormat::commaDelimitedFile({}), QByteArray("\r\n"));
    EXPECT_EQ(ResultsFormat::commaDelimitedFile({QStringLiteral("\u20AC\u4E2D")}), QByteArray("\x80?,\r\n"));
}
