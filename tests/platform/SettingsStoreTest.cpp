#include "SettingsStore.h"
#include "FileSystem.h"
#include "TempDir.h"
#include "Unprivileged.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <unistd.h>

TEST(SettingsStore, ValuesRoundTripExactlyAndMissingKeysGiveTheDefault)
{
    TempDir dir;
    const QString file = dir.path() + "/Quillory.ini";
    {
        SettingsStore store(file);
        EXPECT_EQ(store.GetSetting("Text1", "tr"), "tr");
        for (const QString& value : {QString(), QString(" a b "), QString("x=y;z"), QString("caf\u00E9 \u4E2D"),
                                     QString("C:\\Temp\\a.htm"), QString("[Quillory]")}) {
            SCOPED_TRACE(value.toStdString());
            EXPECT_FALSE(store.SaveSetting("Text2", value));
            EXPECT_EQ(store.GetSetting("Text2", "one"), value);
        }
        EXPECT_FALSE(store.SaveSetting("Option", "3"));
    }
    // Another store over the same file (the next start) sees the last values written.
    SettingsStore next(file);
    EXPECT_EQ(next.GetSetting("Option", "1"), "3");
    EXPECT_EQ(next.GetSetting("Text2", "one"), "[Quillory]");
    EXPECT_TRUE(dir.read("Quillory.ini").contains("[Quillory]"));
}

TEST(SettingsStore, ADamagedStoreKeepsWhatCanStillBeReadAndACopyOfTheDamage)
{
    TempDir dir;
    const struct
    {
        QByteArray bytes;
        // What the store reads, before and after the first write: Option, Extension, LastFolder, Snapshot.
        QStringList values;
    } cases[] = {
        {QByteArray("\xFF\xFE\x00\x01garbage\x00[[[", 15), {"1", "htm", "", ""}},
        {"[Quillory\nOption=3\n", {"3", "htm", "", ""}},
        {QByteArray(4096, '\0'), {"1", "htm", "", ""}},
        // A torn line in the middle of a file costs only itself.
        {QByteArray("[Quillory]\nOption=2\nExtension=txt\n\x01\x02torn\xFF\nLastFolder=/srv/pages\nSnapshot=abc\n"),
         {"2", "txt", "/srv/pages", "abc"}},
        {"[Quillory]\nExtension=txt\n[Quillory\nLastFolder=/srv/pages\n", {"1", "txt", "/srv/pages", ""}},
    };
    const auto read = [](const SettingsStore& store) {
        return QStringList({store.GetSetting("Option", "1"), store.GetSetting("Extension", "htm"),
                            store.GetSetting("LastFolder", ""), store.GetSetting("Snapshot", "")});
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes.left(16).toHex().toStdString());
        QFile::remove(dir.path() + "/Quillory.ini.damaged");
        const QString file = dir.write("Quillory.ini", c.bytes);
        SettingsStore store(file);
        EXPECT_EQ(read(store), c.values);
        // A write keeps the damaged bytes beside the file, then rewrites it with what could be read and the new
        // value: each reads back at once and at the next start.
        EXPECT_FALSE(store.SaveSetting("Text1", "td"));
        EXPECT_EQ(dir.read("Quillory.ini.damaged"), c.bytes);
        EXPECT_EQ(store.GetSetting("Text1", "tr"), "td");
        EXPECT_EQ(read(store), c.values);
        EXPECT_EQ(read(SettingsStore(file)), c.values);
        EXPECT_EQ(SettingsStore(file).GetSetting("Text1", "tr"), "td");
        // The repaired file is no damage: later writes make no copy of it.
        QFile::remove(dir.path() + "/Quillory.ini.damaged");
        EXPECT_FALSE(store.SaveSetting("Text1", "th"));
        EXPECT_FALSE(QFile::exists(dir.path() + "/Quillory.ini.damaged"));
        EXPECT_EQ(SettingsStore(file).GetSetting("Text1", "tr"), "th");
    }
    // A sound file is never copied.
    const QString sound = dir.write("Sound.ini", "[Quillory]\nOption=3\n");
    EXPECT_FALSE(SettingsStore(sound).SaveSetting("Text1", "td"));
    EXPECT_FALSE(QFile::exists(sound + ".damaged"));

    // A folder where the file should be cannot be read either.
    QDir(dir.path()).mkdir("folder.ini");
    SettingsStore store(dir.path() + "/folder.ini");
    EXPECT_EQ(store.GetSetting("Text1", "tr"), "tr");
    EXPECT_TRUE(store.SaveSetting("Text1", "td").has_value());
}

TEST(SettingsStore, ARefusedWriteLeavesEveryReadWithWhatTheFileHolds)
{
    TempDir dir;
    OpenToAnyone(dir.path());
    const QByteArray held = "[Quillory]\nOption=3\nText1=keeptag\nText2=keepme\nExtension=xyz\n";
    const QString file = dir.write("Quillory.ini", held);
    QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);

    const QString seen = AsUnprivilegedUser([&] {
        SettingsStore store(file);
        QStringList answers;
        const std::optional<Failure> refused = store.SaveSetting("Option", "2");
        answers << (refused ? refused->description : QStringLiteral("written"));
        // The start-up reads after the refusal, then a second refused write and the reads again.
        for (int round = 0; round < 2; ++round) {
            answers << store.GetSetting("Option", "1") << store.GetSetting("Text1", "tr")
                    << store.GetSetting("Text2", "one") << store.GetSetting("Extension", "htm");
            store.SaveSetting("Text1", "typed");
        }
        answers << SettingsStore(file).GetSetting("Text1", "tr");
        return answers.join(u'|');
    });
    EXPECT_EQ(seen.toStdString(), ("Permission denied (the settings file " + file +
                                   " could not be written)|3|keeptag|keepme|xyz|3|keeptag|keepme|xyz|keeptag")
                                      .toStdString());
    EXPECT_EQ(dir.read("Quillory.ini"), held);
}

TEST(SettingsStore, AWritableFileInAFolderThatRefusesNewFilesIsWrittenInPlace)
{
    TempDir dir;
    OpenToAnyone(dir.path());
    QDir(dir.path()).mkdir("locked");
    const QString file = dir.write("locked/Quillory.ini", "[Quillory]\nOption=3\n");
    QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther | QFile::WriteOther);
    QFile::setPermissions(dir.path() + "/locked",
                          QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
    const QString seen = AsUnprivilegedUser([&] {
        SettingsStore store(file);
        const std::optional<Failure> failure = store.SaveSetting("Text1", "td");
        return (failure ? failure->description : QStringLiteral("written")) + u'|' +
               SettingsStore(file).GetSetting("Option", "1") + u'|' + SettingsStore(file).GetSetting("Text1", "tr");
    });
    EXPECT_EQ(seen.toStdString(), "written|3|td");
}

TEST(SettingsStore, NumericValueReadsTheNumberATextBeginsWith)
{
    const struct
    {
        const char* text;
        double value;
    } cases[] = {
        {"3", 3},    {"4", 4},     {" 2", 2},    {"2.0", 2},     {"3abc", 3},  {"1 2", 12},  {"", 0},
        {"abc", 0},  {"-1", -1},   {"+4", 4},    {".5", 0.5},    {"1e1", 10},  {"1d1", 10},  {"&H3", 3},
        {"&hff", 255}, {"&O17", 15}, {"&", 0},   {"&X1", 0},     {"e5", 0},    {".", 0},     {"7x", 7},
        {"1e", 1},   {"\t3", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_DOUBLE_EQ(NumericValue(QString::fromLatin1(c.text)), c.value);
    }
}

TEST(FileExists, TrueOnlyForWhatIsThere)
{
    TempDir dir;
    const QString file = dir.write("a.txt", "x");
    EXPECT_TRUE(FileExists(file));
    EXPECT_TRUE(FileExists(dir.path()));
    EXPECT_FALSE(FileExists(QString()));
    EXPECT_FALSE(FileExists(dir.path() + "/missing.txt"));
    EXPECT_FALSE(FileExists(dir.path() + "/missing/a.txt"));
    EXPECT_FALSE(FileExists(QString(QChar(0))));
}
