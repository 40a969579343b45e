#include "DialogFilter.h"

#include <QDir>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

// What a Qt file dialog does with one entry of a name filter: the patterns are the blank-separated
// words in the entry's last parentheses, or the whole entry when it has none.
bool QtWouldShow(const QString& entry, const QString& fileName)
{
    static const QRegularExpression lastParentheses(QStringLiteral(R"(^(.*)\(([^()]*)\)$)"));
    const QRegularExpressionMatch match = lastParentheses.match(entry);
    const QString patterns = match.hasMatch() ? match.captured(2) : entry;
    return QDir::match(patterns.split(QLatin1Char(' '), Qt::SkipEmptyParts), fileName);
}

} // namespace

TEST(DialogFilter, ConvertsLabelAndPatternPairs)
{
    const struct
    {
        const char* pairs;
        const char* expected;
    } cases[] = {
        {"Text Files (*.txt)|*.txt|All Files (*.*)|*.*|", "Text Files (*.txt);;All Files (*)"},
        {"HTML Files (*.htm;*.html)|*.htm;*.html|All Files (*.*)|*.*", "HTML Files (*.htm *.html);;All Files (*)"},
        {"HTML Files (*.htm;*.html)|*.htm;*.html|", "HTML Files (*.htm *.html)"},
        {"Web pages|*.htm;*.html|", "Web pages (*.htm *.html)"},
        // Words in parentheses are no patterns: Qt would take them for some, so the real ones follow.
        {"Pages (HTML)|*.htm|", "Pages (HTML) (*.htm)"},
        // The pattern column decides what is listed, whatever the label says.
        {"Text Files (*.txt)|*.log|", "Text Files (*.log)"},
        {" Text Files (*.txt) | *.txt ; *.TXT |", "Text Files (*.txt *.TXT)"},
        {"Everything|*.*;*|", "Everything (*)"},
        {"|*.txt|", "*.txt"},
        // An odd count: the last label goes by its own patterns, or is dropped without any.
        {"Text Files (*.txt)|*.txt|All Files (*.*)", "Text Files (*.txt);;All Files (*)"},
        {"Text|*.txt|Other", "Text (*.txt)"},
        {"Text|*.txt||", "Text (*.txt)"},
        {"", ""},
        {"|", ""},
        {"||||", ""},
        {"Nothing||", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pairs);
        EXPECT_EQ(QtFileFilter(QString::fromUtf8(c.pairs)), QString::fromUtf8(c.expected));
    }
}

TEST(DialogFilter, EntriesShowTheFilesTheirPatternsName)
{
    const QStringList html = QtFileFilter(QStringLiteral("HTML Files (*.htm;*.html)|*.htm;*.html|All Files (*.*)|*.*"))
                                 .split(QStringLiteral(";;"));
    ASSERT_EQ(html.size(), 2);
    const struct
    {
        const char* fileName;
        bool htmlEntry;
    } cases[] = {
        {"index.htm", true}, {"index.html", true}, {"notes.txt", false}, {"README", false}, {".profile", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fileName);
        const QString name = QString::fromUtf8(c.fileName);
        EXPECT_EQ(QtWouldShow(html.at(0), name), c.htmlEntry);
        // "All Files" means all of them, names without a dot included.
        EXPECT_TRUE(QtWouldShow(html.at(1), name));
    }
}
