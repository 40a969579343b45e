#include "SampleFiles.h"

#include "AnsiCodec.h"
#include "EscapedName.h"
#include "FakeEventPump.h"
#include "QtPrinters.h"
#include "TempDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringDecoder>

#include <gtest/gtest.h>

#include <cstdio>

#include <vector>

namespace {

const QString kKey = QString::fromLatin1(kRecordKey);

QString Unscrambled(const QString& text)
{
    FakeEventPump events;
    const Result<QString> plain = UnscrambleText(text, kKey, events);
    EXPECT_TRUE(plain.ok());
    return plain.ok() ? *plain : QString();
}

TEST(ScrambleText, RoundTripGivesBackEveryCodePageCharacter)
{
    QString everyCharacter;
    for (int value = 1; value <= 255; ++value)
        everyCharacter += QChar(AnsiCodec::toUnicode(static_cast<unsigned char>(value)));
    // The lowest and highest key values put every character on both sides of the wrap.
    const std::vector<QString> keys{kKey, QStringLiteral("a"), QString(QChar(1)), QStringLiteral("\u00ff\u20ac~"),
                                    QStringLiteral("Z\u00fcrich")};
    for (const QString& key : keys) {
        SCOPED_TRACE(key.toStdString());
        FakeEventPump events;
        const Result<QString> scrambled = ScrambleText(everyCharacter, key, events);
        ASSERT_TRUE(scrambled.ok());
        EXPECT_EQ(scrambled->size(), everyCharacter.size());
        const Result<QString> plain = UnscrambleText(*scrambled, key, events);
        ASSERT_TRUE(plain.ok());
        EXPECT_EQ(*plain, everyCharacter);
    }
}

TEST(ScrambleText, ShiftsByTheKeyAndWrapsAt255)
{
    struct Case
    {
        QString text, key, scrambled;
    };
    const std::vector<Case> cases{
        {"A", "a", QStringLiteral("\u00a2")},                                    // 65 + 97 = 162
        {"AAAA", "ab", QStringLiteral("\u00a2\u00a3\u00a2\u00a3")},              // the key repeats
        {QStringLiteral("\u00ff"), "a", "a"},                                    // 255 + 97 - 255 = 97, not 96
        {QStringLiteral("\u20ac"), QString(QChar(1)), QStringLiteral("\u0081")}, // 128 + 1, the undefined byte
        {QStringLiteral("\u03a9"), "a", QStringLiteral("\u00a0")},               // an unheld character counts as 63
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        FakeEventPump events;
        const Result<QString> scrambled = ScrambleText(c.text, c.key, events);
        ASSERT_TRUE(scrambled.ok());
        EXPECT_EQ(*scrambled, c.scrambled);
    }
    // Unscrambling wraps the other way: 97 - 97 = 0 becomes 255.
    FakeEventPump events;
    EXPECT_EQ(*UnscrambleText("a", "a", events), QStringLiteral("\u00ff"));
}

TEST(ScrambleText, LongestTextIs32767Characters)
{
    const std::vector<std::pair<qsizetype, bool>> cases{{0, true}, {32767, true}, {32768, false}};
    for (const auto& [length, fits] : cases) {
        SCOPED_TRACE(length);
        const QString text(length, u'x');
        FakeEventPump events;
        const Result<QString> scrambled = ScrambleText(text, kKey, events);
        const Result<QString> plain = UnscrambleText(text, kKey, events);
        ASSERT_EQ(scrambled.ok(), fits);
        ASSERT_EQ(plain.ok(), fits);
        if (fits) {
            EXPECT_EQ(events.calls(), 2 * length);
        } else {
            EXPECT_EQ(scrambled.failure().description, "Overflow");
            EXPECT_EQ(plain.failure().description, "Overflow");
        }
    }
}

// A program folder with three samples, one of them hidden, and a sub-folder that is not looked into.
class SampleFilesTest : public testing::Test
{
protected:
    SampleFilesTest() : m_settings(m_dir.path() + "/settings.ini")
    {
        QDir(m_dir.path()).mkpath("program/Samples/extra");
        m_program = QDir::toNativeSeparators(m_dir.path() + "/program");
        for (const char* name : {"apple.html", ".notes", "Zoo.htm", "extra/inner.htm"})
            m_dir.write(QStringLiteral("program/Samples/") + name, "<p>sample</p>");
        // The order of a folder scan, which sorts without regard to case.
        m_samples = {SamplesFolder(m_program) + ".notes", SamplesFolder(m_program) + "apple.html",
                     SamplesFolder(m_program) + "Zoo.htm"};
    }

    QStringList toLoad(const QStringList& listed)
    {
        InputFileList list;
        list.AppendMany(listed);
        FakeEventPump events;
        const Result<QStringList> paths = SampleFilesToLoad(m_settings, list, events);
        EXPECT_TRUE(paths.ok());
        return paths.ok() ? *paths : QStringList{"failed"};
    }

    TempDir m_dir;
    SettingsStore m_settings;
    QString m_program;
    QStringList m_samples;
};

TEST_F(SampleFilesTest, RecordHoldsTheScrambledPathsInTheOrderOfAFolderScan)
{
    FakeEventPump events;
    ASSERT_FALSE(RecordSampleFiles(m_settings, m_program, events));
    const QString plain = m_samples.join('|');
    EXPECT_EQ(events.calls(), plain.size());
    // A store opened afresh: the scrambled control characters must survive the settings file.
    const QString stored = SettingsStore(m_dir.path() + "/settings.ini").GetSetting("Snapshot", "none");
    EXPECT_NE(stored, plain);
    EXPECT_EQ(Unscrambled(stored), plain);
}

TEST_F(SampleFilesTest, MissingSamplesFolderRecordsNothing)
{
    FakeEventPump events;
    ASSERT_FALSE(RecordSampleFiles(m_settings, m_dir.path() + "/elsewhere", events));
    EXPECT_EQ(m_settings.GetSetting("Snapshot", "none"), "");
    EXPECT_EQ(toLoad({}), QStringList{});
}

TEST_F(SampleFilesTest, LoadsTheSamplesNotListedYet)
{
    FakeEventPump events;
    ASSERT_FALSE(RecordSampleFiles(m_settings, m_program, events));
    const QString zooUpper = SamplesFolder(m_program) + "ZOO.htm";
    const std::vector<std::tuple<const char*, QStringList, QStringList>> cases{
        {"first time", {}, m_samples},
        {"all listed", {m_samples[2], m_samples[0], m_samples[1]}, {}},
        {"one listed", {QDir::toNativeSeparators("/elsewhere/a.htm"), m_samples[1]}, {m_samples[0], m_samples[2]}},
        {"listed in other case", {zooUpper}, m_samples},
    };
    for (const auto& [name, listed, expected] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(toLoad(listed), expected);
    }
    ASSERT_TRUE(QFile::remove(m_samples[1]));
    EXPECT_EQ(toLoad({}), (QStringList{m_samples[0], m_samples[2]}));
}

// A program unpacked under a Cyrillic folder, with a sample whose name the code page cannot spell either: on Linux a
// name that is not UTF-8, on Windows (whose names are UTF-16) one in Chinese.
TEST(SampleFiles, EveryPathIsRememberedEvenWhereTheCodePageCannotSpellIt)
{
    TempDir dir;
    SettingsStore settings(dir.path() + "/settings.ini");
    const QString program = QDir::toNativeSeparators(dir.path() + QStringLiteral("/\u0438\u0432\u0430\u043D/program"));
    QDir().mkpath(program + "/Samples");
    dir.write(QStringLiteral("\u0438\u0432\u0430\u043D/program/Samples/plain.html"), "<p>x</p>");
#ifdef Q_OS_WIN
    const QString unspelled = QStringLiteral("a\u4E2D\u6587.html");
    dir.write(QStringLiteral("\u0438\u0432\u0430\u043D/program/Samples/") + unspelled, "<p>x</p>");
#else
    const QString unspelled = EscapedName("caf%E9.html");
    std::FILE* file = std::fopen((QFile::encodeName(program) + "/Samples/caf\xE9.html").constData(), "wb");
    ASSERT_TRUE(file);
    std::fclose(file);
#endif

    FakeEventPump events;
    ASSERT_FALSE(RecordSampleFiles(settings, program, events));
    InputFileList list;
    const Result<QStringList> toLoad = SampleFilesToLoad(SettingsStore(dir.path() + "/settings.ini"), list, events);
    ASSERT_TRUE(toLoad.ok());
    EXPECT_EQ(*toLoad, QStringList({SamplesFolder(program) + unspelled, SamplesFolder(program) + "plain.html"}));
}

TEST(RepositorySamples, AreThereAndReadable)
{
    // A relative folder is the one beside the program, where the Windows build copies it.
    const QDir folder(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral(QUILLORY_SAMPLES_SOURCE)));
    const QStringList names{"INVENTORY.HTM", "backup-log.txt", "garden-club-links.html", "quarterly-sales.html",
                            "travel-prices.html"};
    EXPECT_EQ(folder.entryList(QDir::Files | QDir::Hidden, QDir::Name), names);
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        QFile file(folder.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        EXPECT_FALSE(bytes.isEmpty());
        // The page that declares UTF-8 must still be UTF-8 after an editor has been at it.
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString text = utf8(bytes);
        EXPECT_FALSE(utf8.hasError());
    }
}

} // namespace
