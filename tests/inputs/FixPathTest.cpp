#include "FixPath.h"

#include "QtPrinters.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(FixPath, CollapsesPairsAndFixesTheLeadingRun)
{
    struct Case
    {
        char16_t separator;
        int leadingRun;
        const char16_t* path;
        const char16_t* expected;
    };
    const std::vector<Case> cases{
        {u'/', 1, u"/home//me/a.htm", u"/home/me/a.htm"},
        {u'/', 1, u"///srv//x", u"/srv/x"},
        {u'/', 1, u"a///b", u"a//b"},
        {u'/', 1, u"a////b", u"a//b"},
        {u'/', 1, u"a/////b/", u"a///b/"},
        {u'/', 1, u"////", u"/"},
        {u'/', 1, u"", u""},
        {u'/', 1, u"a\\\\é//ü", u"a\\\\é/ü"},
        {u'\\', 2, u"C:\\\\Temp\\a.htm", u"C:\\Temp\\a.htm"},
        {u'\\', 2, u"\\\\\\server\\\\share", u"\\\\server\\share"},
        {u'\\', 2, u"\\x", u"\\\\x"},
        {u'\\', 2, u"\\\\\\", u"\\\\"},
        {u'\\', 2, u"C:\\\\\\a//b", u"C:\\\\a//b"},
        {u'\\', 2, u"C:\\", u"C:\\"},
        {u'\\', 2, u"C:\\\\", u"C:\\"},
        {u'\\', 2, u"\\\\server\\share\\\\a.htm", u"\\\\server\\share\\a.htm"},
    };
    for (const Case& c : cases) {
        const QString path = QString::fromUtf16(c.path);
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(FixPathWith(path, c.separator, c.leadingRun), QString::fromUtf16(c.expected));
    }
}

TEST(FixPath, UsesThisSystemsSeparator)
{
#ifdef Q_OS_WIN
    // A drive's root keeps its one separator, and a file the scan finds there is joined to it once.
    EXPECT_EQ(FixPath("C:\\"), "C:\\");
    EXPECT_EQ(FixPath(QStringLiteral("C:") + kPathSeparator + "a.htm"), "C:\\a.htm");
    EXPECT_EQ(FixPath("C:\\\\Temp\\a.htm"), "C:\\Temp\\a.htm");
    EXPECT_EQ(FixPath("\\\\\\server\\share"), "\\\\server\\share");
    EXPECT_EQ(FixPath("\\x"), "\\\\x");
    EXPECT_EQ(FixPath("\\\\\\"), "\\\\");
#else
    EXPECT_EQ(FixPath("///srv//x"), "/srv/x");
    EXPECT_EQ(FixPath("a////b\\\\c"), "a//b\\\\c");
#endif
}

} // namespace
