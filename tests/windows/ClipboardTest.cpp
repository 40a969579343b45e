// The clipboard of the Windows build, as another program pastes it: the copy of the results list puts the text in
// the system's ANSI code page (CF_TEXT), what the code page cannot spell as "?", and the text stays on the
// clipboard after the program has ended when it was handed over first.
//
// The same program, started with --copy-and-end [hand-over], is the program that copies and ends.

#include "AnsiCodec.h"
#include "ClipboardHandOver.h"
#include "EventPump.h"
#include "PastedText.h"
#include "QtClipboard.h"
#include "ResultsExport.h"

#include <QApplication>
#include <QProcess>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Kanji, half-width katakana, an accented letter, the euro sign and an emoji: each code page spells some of them.
const QString kRows[] = {
    QString::fromUtf8("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E caf\xC3\xA9 \xE2\x82\xAC\xF0\x9F\x98\x80 \xEF\xBD\xB6"),
    QStringLiteral("plain"),
};

// The clipboard text of those rows, as the code page writes it.
QByteArray expectedAnsiText()
{
    switch (AnsiCodec::codePage()) {
    case 932:
        return QByteArray("\x93\xFA\x96\x7B\x8C\xEA caf? ?? \xB6\r\nplain\r\n");
    case 1252:
        return QByteArray("??? caf\xE9 \x80? ?\r\nplain\r\n");
    default:
        return QByteArray();
    }
}

std::optional<Failure> copyRows(Clipboard& clipboard)
{
    QtEventPump events;
    CopyableList list;
    list.rowCount = [] { return int(std::size(kRows)); };
    list.cell = [](int row, int) { return std::optional<QString>(kRows[row - 1]); };
    list.taken = [](int) { return false; };
    return CopyListToClipboard(list, clipboard, events);
}

// Copies the rows and ends at once, as the window's close does: with the hand-over first, or without.
[[noreturn]] void copyAndEnd(bool handOver)
{
    QtClipboard clipboard;
    int status = copyRows(clipboard) ? 1 : 0;
    if (status == 0 && handOver) {
        QtEventPump events;
        status = HandClipboardToManager(events) == ClipboardHandOver::HandedOver ? 0 : 3;
    }
    std::fflush(nullptr);
    std::_Exit(status);
}

class WindowsClipboard : public testing::Test
{
protected:
    void SetUp() override
    {
        if (expectedAnsiText().isEmpty())
            GTEST_SKIP() << "no expected text for code page " << AnsiCodec::codePage();
    }
};

// Runs this program as the one that copies and ends; its exit status.
int runCopyAndEnd(bool handOver)
{
    QStringList arguments{QStringLiteral("--copy-and-end")};
    if (handOver)
        arguments.append(QStringLiteral("hand-over"));
    QProcess copier;
    copier.start(QCoreApplication::applicationFilePath(), arguments);
    if (!copier.waitForFinished(60000))
        return -1;
    return copier.exitStatus() == QProcess::NormalExit ? copier.exitCode() : -1;
}

} // namespace

TEST_F(WindowsClipboard, TheCopyIsTheCodePagesTextWithQuestionMarksForWhatItCannotSpell)
{
    QtClipboard clipboard;
    ASSERT_FALSE(copyRows(clipboard).has_value());
    const QByteArray expected = expectedAnsiText();
    EXPECT_EQ(PastedAnsiText(), expected);
    // The Unicode text says the same: the "?" are in the text itself, not made by the system's conversion (which
    // would write "e" for "é" on a page without it).
    EXPECT_EQ(PastedUnicodeText(), AnsiCodec::decode(expected));
}

TEST_F(WindowsClipboard, TheTextHandedOverStaysAfterTheProgramHasEnded)
{
    QtClipboard clipboard;
    ASSERT_TRUE(clipboard.clear());
    ASSERT_EQ(runCopyAndEnd(true), 0);
    const QByteArray expected = expectedAnsiText();
    EXPECT_EQ(PastedAnsiText(), expected);
    EXPECT_EQ(PastedUnicodeText(), AnsiCodec::decode(expected));
}

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "--copy-and-end") == 0)
        copyAndEnd(argc >= 3 && std::strcmp(argv[2], "hand-over") == 0);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
