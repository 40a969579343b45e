#include "AddFolder.h"

#include "EscapedName.h"
#include "EventPump.h"
#include "FileAttributes.h"
#include "FixPath.h"
#include "QtPrinters.h"
#include "Steps.h"
#include "TempDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <vector>

#ifdef Q_OS_UNIX
#include "Unprivileged.h"

#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include "WindowsFiles.h"
#endif

namespace {

// Counts the passes, and lets a test change the tree at a chosen moment of the walk.
class CountingPump final : public EventPump
{
public:
    void processEvents() override
    {
        ++m_passes;
        if (m_onPass)
            m_onPass(m_passes);
    }
    void waitForEvents() override {}
    void wake() override {}

    int passes() const { return m_passes; }
    void onPass(std::function<void(int)> action) { m_onPass = std::move(action); }

private:
    int m_passes = 0;
    std::function<void(int)> m_onPass;
};

// The steps of a walk or scan that is expected to go through without a failure: any report fails the test.
template <typename Step> class NoFailures final : public Steps<Step>
{
public:
    NoFailures()
        : Steps<Step>([](Step step, const QString& description) {
              ADD_FAILURE() << "step " << int(step) << " failed: " << description.toStdString();
          })
    {}
};

QStringList scanFolder(const QString& folder, const QString& pattern, EventPump& events)
{
    NoFailures<AddFolder::ScanStep> scan;
    NoFailures<AddFolder::WalkStep> walk;
    return AddFolder::ScanFolder(folder, pattern, events, scan, walk);
}

#ifdef Q_OS_UNIX
bool runningAsRoot()
{
    return ::geteuid() == 0;
}
#endif

// A temporary tree, spelled with the system's separator as the walk spells its entries. Results are compared with
// "/" between names on every system. On Windows a name beginning with "." is also given the hidden attribute, which
// Linux derives from the name, so that the same trees mean the same to the walk on both systems.
class Tree
{
public:
    Tree() { EXPECT_TRUE(m_dir.isValid()); }
    ~Tree()
    {
#ifdef Q_OS_WIN
        // A read-only file or folder refuses its removal (Wine keeps a read-only folder's contents, too).
        for (auto entry = m_attributed.crbegin(); entry != m_attributed.crend(); ++entry)
            SetAttributes(*entry, 0);
#endif
        RemoveContents(m_dir.path());
    }

    // The root's path, ending in the separator as the walk's entries do.
    QString root() const
    {
        return QDir::toNativeSeparators(m_dir.path()) + kPathSeparator;
    }
    QString path(const QString& relative) const
    {
        return root() + QDir::toNativeSeparators(relative);
    }

    void folder(const QString& relative)
    {
        ASSERT_TRUE(QDir().mkpath(path(relative)));
        const QStringList names = relative.split(u'/');
        for (qsizetype depth = 1; depth <= names.size(); ++depth)
            hideDotName(names.mid(0, depth).join(u'/'));
    }
    void file(const QString& relative)
    {
        QFile file(path(relative));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("<p>x</p>");
        file.close();
        hideDotName(relative);
    }
    // False when the system made no link (Wine makes none); on Linux that fails the test.
    bool link(const QString& relative, const QString& target)
    {
#ifdef Q_OS_WIN
        return MakeSymbolicLink(path(relative), target, QFileInfo(target).isDir());
#else
        const bool made = QFile::link(target, path(relative));
        EXPECT_TRUE(made) << relative.toStdString();
        return made;
#endif
    }
#ifdef Q_OS_WIN
    void attributes(const QString& relative, int attributes)
    {
        ASSERT_TRUE(SetAttributes(path(relative), attributes)) << relative.toStdString();
        m_attributed.append(path(relative));
    }
#endif

    // The walk's result with the root taken off each entry, for readable comparisons.
    QStringList relative(const QStringList& paths) const
    {
        QStringList out;
        for (const QString& p : paths)
            out.append(QDir::fromNativeSeparators(p.startsWith(root()) ? p.mid(root().size()) : p));
        return out;
    }

    QStringList walk(CountingPump& pump, bool recurse = true) const
    {
        QStringList folders{root()};
        NoFailures<AddFolder::WalkStep> steps;
        AddFolder::GetSubDirectories2016(folders, recurse, pump, steps);
        return relative(folders);
    }

private:
    void hideDotName(const QString& relative)
    {
#ifdef Q_OS_WIN
        if (relative.mid(relative.lastIndexOf(u'/') + 1).startsWith(u'.')) {
            constexpr int settable = AttributeBit::kReadOnly | AttributeBit::kSystem | AttributeBit::kArchive;
            ASSERT_TRUE(
                SetAttributes(path(relative), AttributeBit::kHidden | (FileAttributes(path(relative)) & settable)));
        }
#else
        Q_UNUSED(relative);
#endif
    }

    QTemporaryDir m_dir;
#ifdef Q_OS_WIN
    QStringList m_attributed;
#endif
};

TEST(AddFolder, OddCharactersAreThoseTheCodePageMakesControlsOrQuestionMarks)
{
    struct Case
    {
        const char16_t* name;
        bool odd;
    };
    const std::vector<Case> cases{
        {u"plain name", false},  {u"café ÿ", false}, // 0xE9, 0xFF
        {u"\u00A0nbsp", false},                      // 160: just past the control range
        {u"a?b", true},                              // '?' itself
        {u"tab\there", true},                        // below 32
        {u"\u007F", true},                           // 127
        {u"price \u20AC", true},                     // the euro sign is 0x80 in the code page
        {u"\u0178", true},                           // Ÿ is 0x9F, the end of the range
        {u"\u0081", true},                           // an undefined byte decodes to its own control
        {u"\u4E2D", true},                           // not in the code page: '?'
        {u"\U0001F600", true},                       // outside the BMP: one '?'
    };
    for (const Case& c : cases) {
        const QString name = QString::fromUtf16(c.name);
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(AddFolder::HasOddCharacters(name), c.odd);
    }
}

TEST(FileAttributes, MatchesLikeWindowsIncludingShortExtensions)
{
    struct Case
    {
        const char* name;
        const char* pattern;
        bool matches;
    };
    const std::vector<Case> cases{
        {"page.htm", "*.htm", true},  {"PAGE.HTM", "*.htm", true},     {"page.html", "*.htm", true},
        {"page.html", "*.HTM", true}, {"page.htmx", "*.htm", true},    {"page.txt", "*.htm", false},
        {"page.ht", "*.htm", false},  {"page.htm", "*.html", false},   {"htm", "*.htm", false},
        {"readme", "*.*", true},      {"readme", "*", true},           {".profile", "*.*", true},
        {"readme", "*.htm", false},   {"a.b.html", "*.htm", true},     {"a.html.txt", "*.htm", false},
        {"ab.htm", "?.htm", false},   {"a.htm", "?.htm", true},        {"page.html", "p*.h?m", true},
        {"x.tar.gz", "*.gz", true},   {"index.html", "index.*", true}, {"index", "index.*", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " ~ " + c.pattern);
        EXPECT_EQ(MatchesWildcard(QString::fromUtf8(c.name), QString::fromUtf8(c.pattern)), c.matches);
    }
}

#ifdef Q_OS_UNIX
TEST(FileAttributes, DerivesWindowsValuesOnLinux)
{
    Tree tree;
    tree.folder("dir");
    tree.folder(".hiddendir");
    tree.file("file.htm");
    tree.file(".dotfile");
    tree.link("dirlink", tree.path("dir"));
    tree.link("filelink", tree.path("file.htm"));
    tree.link("dangling", tree.path("nothing"));
    struct Case
    {
        const char* relative;
        int attributes;
    };
    const std::vector<Case> cases{
        {"dir", 16},        {"dir/", 16},       {".hiddendir", 18}, {".hiddendir/", 18},
        {"file.htm", 32},   {".dotfile", 34},   {"dirlink", 1040},  {"dirlink/", 1040},
        {"filelink", 1056}, {"dangling", 1024}, {"nothing", -1},    {"dir/nothing", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.relative);
        EXPECT_EQ(FileAttributes(tree.path(QString::fromUtf8(c.relative))), c.attributes);
    }
    EXPECT_NE(FileAttributes(QStringLiteral("/")) & 16, 0);
    if (!runningAsRoot()) {
        ASSERT_EQ(::chmod(QFile::encodeName(tree.path("file.htm")).constData(), 0444), 0);
        EXPECT_EQ(FileAttributes(tree.path("file.htm")), 33);
    }
}
#endif

#ifdef Q_OS_WIN
TEST(FileAttributes, AreTheSystemsOwnOnWindows)
{
    using namespace AttributeBit;
    Tree tree;
    tree.folder("dir");
    tree.folder(".hiddendir");
    tree.folder("junction-like");
    tree.file("file.htm");
    tree.file(".dotfile");
    tree.file("hidden.htm");
    tree.file("system.htm");
    tree.file("locked.htm");
    tree.attributes("junction-like", kHidden | kSystem);
    tree.attributes("hidden.htm", kHidden | kArchive);
    tree.attributes("system.htm", kSystem | kArchive);
    tree.attributes("locked.htm", kReadOnly | kArchive);
    // A path past MAX_PATH, which a Win32 call reaches only in its long form.
    const QString deep = QString(120, u'd') + u'/' + QString(120, u'e');
    tree.folder(deep);
    tree.file(deep + "/hidden-and-long.htm");
    tree.attributes(deep + "/hidden-and-long.htm", kHidden | kArchive);
    ASSERT_GT(tree.path(deep + "/hidden-and-long.htm").size(), 260);
    struct Case
    {
        QString relative;
        int attributes;
    };
    const std::vector<Case> cases{
        {"dir", 16},
        {"dir/", 16},
        {"dir\\", 16},
        {".hiddendir", 18},
        {"junction-like/", 22},
        {"file.htm", 32},
        {".dotfile", 34},
        {"hidden.htm", 34},
        {"system.htm", 36},
        {"locked.htm", 33},
        {deep, 16},
        {deep + "/hidden-and-long.htm", 34},
        {"nothing", -1},
        {"dir/nothing", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.relative.toStdString());
        EXPECT_EQ(FileAttributes(tree.path(c.relative)), c.attributes);
    }
    // The same entries in the other separator, and a drive's root, which keeps its own.
    EXPECT_EQ(FileAttributes(QDir::fromNativeSeparators(tree.path(deep + "/hidden-and-long.htm"))), 34);
    const QString drive = tree.root().left(3);
    ASSERT_EQ(drive.mid(1), QStringLiteral(":\\"));
    EXPECT_NE(FileAttributes(drive) & kFolder, 0);
    const Result<QStringList> atRoot = ListDirectory(drive, QStringLiteral("*"), true);
    ASSERT_TRUE(atRoot.ok());
    EXPECT_FALSE(atRoot->isEmpty());
    const Result<QStringList> longOne = ListDirectory(tree.path(deep), QStringLiteral("*.htm"), false);
    ASSERT_TRUE(longOne.ok());
    EXPECT_EQ(*longOne, QStringList{"hidden-and-long.htm"});
    // A read-only folder is left out: Wine keeps no read-only attribute on folders.
}

TEST(FileAttributes, LinksAreReparsePointsOnWindows)
{
    using namespace AttributeBit;
    Tree tree;
    tree.folder("dir");
    tree.file("file.htm");
    if (!tree.link("dirlink", tree.path("dir")) || !tree.link("filelink.htm", tree.path("file.htm")))
        GTEST_SKIP() << "this system makes no symbolic links (Wine's CreateSymbolicLinkW makes nothing)";
    EXPECT_EQ(FileAttributes(tree.path("dirlink")) & (kReparsePoint | kFolder), kReparsePoint | kFolder);
    EXPECT_EQ(FileAttributes(tree.path("dirlink/")) & (kReparsePoint | kFolder), kReparsePoint | kFolder);
    EXPECT_EQ(FileAttributes(tree.path("filelink.htm")) & (kReparsePoint | kFolder), kReparsePoint);
}
#endif

TEST(FileAttributes, ListsFoldersOrFilesSortedWithHiddenOnes)
{
    Tree tree;
    tree.folder("Beta");
    tree.folder("alpha");
    tree.folder(".git");
    tree.file("b.htm");
    tree.file("A.HTML");
    tree.file(".hidden.htm");
    tree.file("notes.txt");
    const bool linked = tree.link("linked", tree.path("alpha"));

    struct Case
    {
        const char* pattern;
        bool folders;
        QStringList expected;
    };
    const std::vector<Case> cases{
        {"*", true, linked ? QStringList{".git", "alpha", "Beta", "linked"} : QStringList{".git", "alpha", "Beta"}},
        {"*.htm", false, {".hidden.htm", "A.HTML", "b.htm"}},
        {"*.*", false, {".hidden.htm", "A.HTML", "b.htm", "notes.txt"}},
        {"B*", true, {"Beta"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        const Result<QStringList> names = ListDirectory(tree.root(), QString::fromUtf8(c.pattern), c.folders);
        ASSERT_TRUE(names.ok()) << names.failure().description.toStdString();
        EXPECT_EQ(*names, c.expected);
    }

    const Result<QStringList> gone = ListDirectory(tree.path("gone/"), QStringLiteral("*"), true);
    ASSERT_FALSE(gone.ok());
    EXPECT_EQ(gone.failure().description, QStringLiteral("Path not found"));
    const Result<QStringList> aFile = ListDirectory(tree.path("b.htm"), QStringLiteral("*"), false);
    ASSERT_FALSE(aFile.ok());
    EXPECT_EQ(aFile.failure().description, QStringLiteral("Path not found"));
    // Windows: Wine does not enforce a folder's access control list, so no folder can be made unlistable there.
#ifdef Q_OS_UNIX
    if (!runningAsRoot()) {
        ASSERT_EQ(::chmod(QFile::encodeName(tree.path("alpha")).constData(), 0), 0);
        const Result<QStringList> locked = ListDirectory(tree.path("alpha/"), QStringLiteral("*"), true);
        ::chmod(QFile::encodeName(tree.path("alpha")).constData(), 0755);
        ASSERT_FALSE(locked.ok());
        EXPECT_EQ(locked.failure().description, QStringLiteral("Permission denied"));
    }
#endif
}

TEST(AddFolder, WalksBreadthFirstGroupedByParent)
{
    Tree tree;
    for (const char* folder : {"b/b2", "b/b1", "a/a1/a1x", "c"})
        tree.folder(QString::fromUtf8(folder));
    tree.file("a/not-a-folder.htm");

    CountingPump pump;
    EXPECT_EQ(tree.walk(pump), (QStringList{"", "a/", "b/", "c/", "a/a1/", "b/b1/", "b/b2/", "a/a1/a1x/"}));
    // One pass before each of the 8 folders is listed, one per sub-folder name met (7), and one each time a folder
    // is handed up a level on the way back (depth 1: 3 folders once, depth 2: 3 twice, depth 3: 1 three times).
    EXPECT_EQ(pump.passes(), 8 + 7 + (3 + 6 + 3));

    CountingPump oneLevel;
    EXPECT_EQ(tree.walk(oneLevel, false), (QStringList{"", "a/", "b/", "c/"}));
    EXPECT_EQ(oneLevel.passes(), 1 + 3 + 3);
}

TEST(AddFolder, ScanTakesMatchingFilesButNotLockOrDotFiles)
{
    Tree tree;
    tree.folder("sub/.hidden");
    tree.file("one.htm");
    tree.file("Two.HTML");
    tree.file("three.txt");
    tree.file("README");
    tree.file("~lock.htm");
    tree.file(".dot.htm");
    tree.file("sub/four.htm");
    tree.file("sub/.hidden/five.htm");
    tree.folder("folder.htm");

    struct Case
    {
        const char* pattern;
        QStringList expected;
    };
    const std::vector<Case> cases{
        {"*.htm", {"one.htm", "Two.HTML", "sub/four.htm", "sub/.hidden/five.htm"}},
        {"*.HTM", {"one.htm", "Two.HTML", "sub/four.htm", "sub/.hidden/five.htm"}},
        {"*.txt", {"three.txt"}},
        {"*.*", {"one.htm", "README", "three.txt", "Two.HTML", "sub/four.htm", "sub/.hidden/five.htm"}},
        {"*", {"one.htm", "README", "three.txt", "Two.HTML", "sub/four.htm", "sub/.hidden/five.htm"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        CountingPump pump;
        EXPECT_EQ(tree.relative(scanFolder(tree.path(""), QString::fromUtf8(c.pattern), pump)), c.expected);
    }

    // A folder given with its separator gets no second one, and a second scan adds everything again.
    CountingPump pump;
    const QStringList once = scanFolder(tree.root(), QStringLiteral("*.txt"), pump);
    EXPECT_EQ(once, QStringList{tree.path("three.txt")});
    EXPECT_EQ(once + scanFolder(tree.root(), QStringLiteral("*.txt"), pump),
              (QStringList{tree.path("three.txt"), tree.path("three.txt")}));
}

// A folder whose path (with its separator) reaches 260 characters still gives its own files, but the walk goes no
// deeper: one character shorter, and its sub-folders are walked too.
TEST(AddFolder, TheWalkStopsBelowFoldersWhosePathReaches260Characters)
{
    Tree tree;
    const qsizetype room = 259 - tree.root().size() - 1; // the name that makes the folder's path 259 characters
    ASSERT_GT(room, 10);
    ASSERT_LT(room, 255);
    const QString near(room, u'n');
    const QString far(room + 1, u'f');
    tree.folder(near + "/deeper");
    tree.folder(far + "/deeper");
    tree.file(near + "/top.htm");
    tree.file(near + "/deeper/in.htm");
    tree.file(far + "/top.htm");
    tree.file(far + "/deeper/out.htm");
    // Hidden files are still told apart past 260 characters, where a Win32 call needs the long form of the path.
    tree.file(near + "/deeper/.hidden.htm");
    tree.file(far + "/.hidden.htm");
    ASSERT_GT(tree.path(near + "/deeper/.hidden.htm").size(), 260);
    ASSERT_EQ((tree.root() + near + u'/').size(), 259);
    CountingPump pump;
    QStringList found = tree.relative(scanFolder(tree.path(""), QStringLiteral("*.htm"), pump));
    found.replaceInStrings(near, "near").replaceInStrings(far, "far");
    EXPECT_EQ(found.join(' ').toStdString(), "far/top.htm near/top.htm near/deeper/in.htm");
}

#ifdef Q_OS_WIN
// The walk's rules with the attributes Windows really keeps: a hidden + system folder (what a system junction looks
// like) is neither entered nor handed up, every other folder is walked; of the files only those that are exactly
// hidden + archive are left out.
TEST(AddFolder, TheWalkAndTheScanObeyTheSystemsAttributesOnWindows)
{
    using namespace AttributeBit;
    Tree tree;
    for (const char* folder : {"junction-like/below", "hidden", "read-only", "system"})
        tree.folder(QString::fromUtf8(folder));
    for (const char* file :
         {"shown.htm", "hidden.htm", "hidden-read-only.htm", "hidden-system.htm", "read-only.htm",
          "junction-like/in.htm", "junction-like/below/in.htm", "hidden/in.htm", "read-only/in.htm", "system/in.htm"})
        tree.file(QString::fromUtf8(file));
    tree.attributes("hidden.htm", kHidden | kArchive);
    tree.attributes("hidden-read-only.htm", kHidden | kReadOnly | kArchive);
    tree.attributes("hidden-system.htm", kHidden | kSystem | kArchive);
    tree.attributes("read-only.htm", kReadOnly | kArchive);
    tree.attributes("junction-like", kHidden | kSystem);
    tree.attributes("hidden", kHidden);
    tree.attributes("read-only", kReadOnly);
    tree.attributes("system", kSystem);

    CountingPump pump;
    EXPECT_EQ(tree.walk(pump), (QStringList{"", "hidden/", "read-only/", "system/"}));
    EXPECT_EQ(tree.relative(scanFolder(tree.root(), QStringLiteral("*.htm"), pump)),
              (QStringList{"hidden-read-only.htm", "hidden-system.htm", "read-only.htm", "shown.htm", "hidden/in.htm",
                           "read-only/in.htm", "system/in.htm"}));
}

// A hidden link is taken, as on Linux: it also carries the reparse point.
TEST(AddFolder, AHiddenLinkIsTakenOnWindows)
{
    using namespace AttributeBit;
    Tree tree;
    for (const char* file : {"shown.htm", "hidden.htm"})
        tree.file(QString::fromUtf8(file));
    tree.attributes("hidden.htm", kHidden | kArchive);
    if (!tree.link("hidden-link.htm", tree.path("shown.htm")))
        GTEST_SKIP() << "this system makes no symbolic links (Wine's CreateSymbolicLinkW makes nothing)";
    tree.attributes("hidden-link.htm", kHidden | kArchive);
    CountingPump pump;
    EXPECT_EQ(tree.relative(scanFolder(tree.root(), QStringLiteral("*.htm"), pump)),
              (QStringList{"hidden-link.htm", "shown.htm"}));
}
#endif

// Windows: TheWalkAndTheScanObeyTheSystemsAttributesOnWindows and AHiddenLinkIsTakenOnWindows make these cases.
#ifdef Q_OS_UNIX
// Only a file whose attributes are exactly hidden + archive is left out: a hidden link (which also carries the
// reparse point) is taken.
TEST(AddFolder, ScanLeavesOutOnlyFilesThatAreExactlyHiddenAndArchive)
{
    Tree tree;
    tree.file("shown.htm");
    tree.file(".plain.htm");
    tree.link(".linked.htm", tree.path("shown.htm"));
    ASSERT_EQ(FileAttributes(tree.path(".linked.htm")), 2 + 32 + 1024);
    CountingPump pump;
    EXPECT_EQ(tree.relative(scanFolder(tree.path(""), QStringLiteral("*.htm"), pump)),
              (QStringList{".linked.htm", "shown.htm"}));
}
#endif

TEST(AddFolder, LinkLoopsEndAndOtherLinksAreFollowed)
{
    QTemporaryDir outside;
    ASSERT_TRUE(outside.isValid());
    ASSERT_TRUE(QDir().mkpath(outside.path() + "/far/farther"));

    Tree tree;
    tree.folder("sub/deep");
    tree.folder("x");
    tree.folder("y");
    if (!tree.link("sub/deep/toRoot", tree.path("")))
        GTEST_SKIP() << "this system makes no symbolic links (Wine's CreateSymbolicLinkW makes nothing)";
    tree.link("sub/self", tree.path("sub"));
    tree.link("x/toY", tree.path("y"));
    tree.link("y/toX", tree.path("x"));
    tree.link("out", outside.path());

    CountingPump pump;
    // y is also reached through x/toY and x through y/toX: separate paths, no loop. Going on from there would come
    // back to a folder above, so x/toY/toX and y/toX/toY are not entered, nor are toRoot and self.
    EXPECT_EQ(tree.walk(pump), (QStringList{"", "out/", "sub/", "x/", "y/", "out/far/", "sub/deep/", "x/toY/", "y/toX/",
                                            "out/far/farther/"}));
}

TEST(AddFolder, AFolderThatCannotBeListedIsDroppedAndTheWalkGoesOn)
{
    Tree tree;
    for (const char* folder : {"a/a1", "b/b1", "c/c1"})
        tree.folder(QString::fromUtf8(folder));
    const QStringList expected{"", "a/", "c/", "a/a1/", "c/c1/"};

    {
        SCOPED_TRACE("removed during the walk");
        CountingPump pump;
        // Passes: 1 the root, 2-4 its names, 5 listing a, 6 the name a1, 7 just before b is listed.
        pump.onPass([&](int pass) {
            if (pass == 7)
                QDir(tree.path("b")).removeRecursively();
        });
        EXPECT_EQ(tree.walk(pump), expected);
    }
#ifdef Q_OS_UNIX
    if (!runningAsRoot()) {
        SCOPED_TRACE("unreadable");
        tree.folder("b/b1");
        ASSERT_EQ(::chmod(QFile::encodeName(tree.path("b")).constData(), 0), 0);
        CountingPump pump;
        const QStringList walked = tree.walk(pump);
        ::chmod(QFile::encodeName(tree.path("b")).constData(), 0755);
        EXPECT_EQ(walked, expected);
    }
#endif
    // Windows: Wine does not enforce a folder's access control list, so no folder can be made unlistable there.
}

// Windows: names are UTF-16 there, with no bytes of their own to keep.
#ifdef Q_OS_UNIX
TEST(AddFolder, AFileNameThatIsNotUtf8IsListedByItsBytes)
{
    Tree tree;
    tree.folder("sub");
    for (const char* name : {"/caf\xE9.htm", "/sub/na\xEFve.htm"}) {
        std::FILE* file = std::fopen((QFile::encodeName(tree.path("")) + name).constData(), "wb");
        ASSERT_TRUE(file);
        std::fclose(file);
    }
    CountingPump pump;
    EXPECT_EQ(tree.relative(scanFolder(tree.path(""), QStringLiteral("*.htm"), pump)),
              QStringList({EscapedName("caf%E9.htm"), EscapedName("sub/na%EFve.htm")}));
    EXPECT_EQ(FileAttributes(tree.path(EscapedName("caf%E9.htm"))), AttributeBit::kArchive);
}
#endif

TEST(AddFolder, AFolderNameTheCodePageCannotHoldIsSkippedWithAllBeneathIt)
{
    Tree tree;
    tree.folder(QStringLiteral("\u4E2D/inner"));
    tree.folder(QStringLiteral("caf\u00E9"));
    tree.file(QStringLiteral("\u4E2D/lost.htm"));
    tree.file(QStringLiteral("\u4E2D/inner/lost.htm"));
    tree.file(QStringLiteral("caf\u00E9/kept.htm"));

    // Only folders' names are held to the code page: a file's name is kept whatever it holds.
    tree.file(QStringLiteral("caf\u00E9/\u4E2D.htm"));

    CountingPump pump;
    EXPECT_EQ(tree.relative(scanFolder(tree.path(""), QStringLiteral("*.htm"), pump)),
              (QStringList{QStringLiteral("caf\u00E9/kept.htm"), QStringLiteral("caf\u00E9/\u4E2D.htm")}));
}

// What a scan leaves out is accounted for, for a caller that tells the user: the folders it could not list, each with
// why, and how many entries each of its rules passed over on purpose.
TEST(AddFolder, TheScanAccountsForWhatItLeavesOut)
{
    Tree tree;
    tree.file("kept.htm");
    tree.file("~lock.htm");
    tree.file(".dot.htm");
    tree.folder("sub");
    tree.file("sub/.also.htm");
    tree.file("sub/~also.htm");
    tree.file("sub/kept.htm");
    tree.folder(QStringLiteral("\u4E2D/inner"));
    tree.file(QStringLiteral("\u4E2D/lost.htm"));
#ifndef Q_OS_WIN
    // A name Linux allows and Windows does not.
    tree.folder(QStringLiteral("what?"));
    const int oddFolders = 2;
#else
    const int oddFolders = 1;
#endif
    // As text, so that a scan in another process can give it back; a failed step shows in it too.
    const auto scan = [&] {
        QStringList lines;
        const auto failed = [&](auto step, const QString& description) {
            lines << QStringLiteral("step %1 failed: %2").arg(int(step)).arg(description);
        };
        Steps<AddFolder::ScanStep> scanSteps(failed);
        Steps<AddFolder::WalkStep> walkSteps(failed);
        AddFolder::ScanProgress progress;
        CountingPump pump;
        lines << tree.relative(
            AddFolder::ScanFolder(tree.root(), QStringLiteral("*.htm"), pump, scanSteps, walkSteps, &progress));
        const AddFolder::PassedOver& passed = progress.passedOver;
        for (const AddFolder::PassedOver::Folder& folder : passed.unreadableFolders)
            lines << tree.relative({folder.path}).constFirst() + QStringLiteral(": ") + folder.why;
        lines << QStringLiteral("hidden %1, lock %2, odd %3, too long %4")
                     .arg(passed.hiddenFiles)
                     .arg(passed.lockFiles)
                     .arg(passed.oddFolderNames)
                     .arg(passed.tooLong);
        return lines.join(u'|');
    };
    const QString passedOver = QStringLiteral("hidden 2, lock 2, odd %1, too long 0").arg(oddFolders);
    EXPECT_EQ(scan(), QStringLiteral("kept.htm|sub/kept.htm|") + passedOver);

#ifdef Q_OS_UNIX
    // A folder that cannot be listed costs its files, and says so; root lists any folder, so someone else looks.
    OpenToAnyone(tree.path(""));
    // A dot-file its reader may not write is read-only too, and no longer a plain hidden file.
    for (const char* dotFile : {".dot.htm", "sub/.also.htm"})
        ASSERT_EQ(::chmod(QFile::encodeName(tree.path(QString::fromUtf8(dotFile))).constData(), 0666), 0);
    tree.folder("locked/inner");
    tree.file("locked/inner/lost.htm");
    ASSERT_EQ(::chmod(QFile::encodeName(tree.path("locked")).constData(), 0), 0);
    const QString seen = AsUnprivilegedUser(scan);
    ::chmod(QFile::encodeName(tree.path("locked")).constData(), 0755);
    EXPECT_EQ(seen, QStringLiteral("kept.htm|sub/kept.htm|locked/: Permission denied|") + passedOver);
#endif
}

} // namespace

TEST(AddFolder, AFailureInsideTheWalkIsReportedAtItsOwnStepAndTheScanGoesOn)
{
    Tree tree;
    tree.folder("a");
    tree.folder("b");
    tree.file("z.htm");
    tree.file("a/x.htm");
    tree.file("b/y.htm");
    // The walk lets events through once per folder listed, once per sub-folder found and once per folder copied up:
    // here the root, a and b found in it, a and b listed, a and b copied up.
    using AddFolder::WalkStep;
    const std::vector<std::pair<int, WalkStep>> cases{
        {1, WalkStep::EventsBeforeListing}, {2, WalkStep::EventsPerName},         {3, WalkStep::EventsPerName},
        {4, WalkStep::EventsBeforeListing}, {6, WalkStep::EventsBeforeHandingUp}, {7, WalkStep::EventsBeforeHandingUp},
    };
    for (const auto& [pass, step] : cases) {
        SCOPED_TRACE(pass);
        CountingPump pump;
        pump.onPass([pass = pass](int now) {
            if (now == pass)
                Fail(QStringLiteral("Out of stack space"));
        });
        QList<std::pair<WalkStep, QString>> walkReports;
        Steps<WalkStep> walk([&](WalkStep failed, const QString& description) {
            walkReports.append({failed, description});
        });
        NoFailures<AddFolder::ScanStep> scan;
        const QStringList found = AddFolder::ScanFolder(tree.root(), QStringLiteral("*.htm"), pump, scan, walk);
        EXPECT_EQ(walkReports, (QList<std::pair<WalkStep, QString>>{{step, "Out of stack space"}}));
        EXPECT_EQ(tree.relative(found), QStringList({"z.htm", "a/x.htm", "b/y.htm"}));
        EXPECT_EQ(pump.passes(), 7);
    }
}
