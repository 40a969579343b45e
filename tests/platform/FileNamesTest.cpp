#include "FileNames.h"
#include "EscapedName.h"
#include "FileSystem.h"
#include "TempDir.h"

#include <QFile>
#include <QRandomGenerator>
#include <QUrl>

#include <gtest/gtest.h>

#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

TEST(FileNames, BytesThatAreNotUtf8BecomeLoneSurrogatesAndComeBackUnchanged)
{
    const struct
    {
        const char* name;
        QByteArray bytes;
        QString text;
    } cases[] = {
        {"plain", "/tmp/a b.html", QStringLiteral("/tmp/a b.html")},
        {"valid UTF-8", "caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80", QStringLiteral("caf\u00E9 \u4E2D \U0001F600")},
        {"a Latin-1 byte", "caf\xE9.html", EscapedName("caf%E9.html")},
        {"a lone continuation byte", "\x80", EscapedName("%80")},
        {"a sequence cut short", "a\xE4\xB8z", EscapedName("a%E4%B8z")},
        {"an overlong slash", "\xC0\xAF", EscapedName("%C0%AF")},
        {"an encoded surrogate", "\xED\xA0\x80", EscapedName("%ED%A0%80")},
        {"past U+10FFFF", "\xF4\x90\x80\x80", EscapedName("%F4%90%80%80")},
        {"0xFF between valid characters", "\xC3\xA9\xFF\xC3\xA9", EscapedName("\u00E9%FF\u00E9")},
        // The second half of a pair can look like an escaped byte; it is not one.
        {"a character past U+FFFF, then a byte", "\xF1\xA9\xB3\x92\x87", EscapedName("\U00069CD2%87")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FileNames::fromNative(c.bytes), c.text);
        EXPECT_EQ(FileNames::toNative(c.text), c.bytes);
    }

    // Any bytes at all make the round trip.
    QRandomGenerator random(12);
    for (int round = 0; round < 20000; ++round) {
        QByteArray bytes(random.bounded(1, 12), Qt::Uninitialized);
        for (char& byte : bytes)
            byte = char(random.bounded(1, 256));
        ASSERT_EQ(FileNames::toNative(FileNames::fromNative(bytes)), bytes) << bytes.toHex().toStdString();
    }

    EXPECT_EQ(FileNames::forDisplay(EscapedName("caf%E9 \u00E9")), QStringLiteral("caf\uFFFD \u00E9"));
    EXPECT_EQ(FileNames::fromLocalFileUrl(QUrl(QStringLiteral("file:///tmp/caf%E9%20x%C3%A9.html"))),
              EscapedName("/tmp/caf%E9 x\u00E9.html"));
}

TEST(FileNames, AFileWhoseNameIsNotUtf8IsFoundAndRead)
{
    TempDir dir;
    const QByteArray name = QFile::encodeName(dir.path()) + "/caf\xE9.html";
    std::FILE* file = std::fopen(name.constData(), "wb");
    ASSERT_TRUE(file);
    std::fputs("<p>x</p>", file);
    std::fclose(file);

    const QString path = FileNames::fromNative(name);
    EXPECT_TRUE(FileExists(path));
    EXPECT_TRUE(FileSystem::isOpenableFile(path));
    EXPECT_EQ(FileSystem::size(path), 8);
    EXPECT_EQ(FileSystem::canonicalPath(path), FileSystem::canonicalPath(dir.path()) + EscapedName("/caf%E9.html"));
    const Result<QByteArray> bytes = FileSystem::readAll(path);
    ASSERT_TRUE(bytes.ok());
    EXPECT_EQ(*bytes, "<p>x</p>");
    // The same name spelled with U+FFFD, as Qt would spell it, is another file.
    EXPECT_FALSE(FileExists(FileNames::forDisplay(path)));
}

TEST(FileNames, AFileNamedOnTheCommandLineIsMadeAbsoluteFromTheCurrentFolder)
{
    TempDir dir;
    const QByteArray folder = QFile::encodeName(dir.path());
    ASSERT_EQ(::mkdir((folder + "/caf\xE9").constData(), 0700), 0);
    char previous[4096];
    ASSERT_TRUE(::getcwd(previous, sizeof previous));
    ASSERT_EQ(::chdir((folder + "/caf\xE9").constData()), 0);
    const struct
    {
        const char* argument;
        QByteArray native;
    } cases[] = {
        {"page.html", folder + "/caf\xE9/page.html"},
        {"sub/../p\xE9.html", folder + "/caf\xE9/sub/../p\xE9.html"},
        {"/srv/a b.htm", "/srv/a b.htm"},
        {"file:///srv/caf%E9.htm", "/srv/caf\xE9.htm"},
        {"file:///srv/a%20b.htm", "/srv/a b.htm"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argument);
        EXPECT_EQ(FileNames::toNative(FileNames::fromCommandLine(c.argument)), c.native);
    }
    ASSERT_EQ(::chdir(previous), 0);
}
