#include "DialogFilter.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

// The parenthesised tail that Qt would read patterns from; only one holding a wildcard counts as
// patterns, so a label such as "Pages (HTML)" keeps its words and gets the patterns after them.
const QRegularExpression& patternTail()
{
    static const QRegularExpression tail(QStringLiteral(R"(\s*\(([^()]*[*?][^()]*)\)\s*$)"));
    return tail;
}

QStringList qtPatterns(const QString& column)
{
    QStringList patterns;
    for (QString pattern : column.split(QRegularExpression(QStringLiteral("[;\\s]+")), Qt::SkipEmptyParts)) {
        if (pattern == QLatin1String("*.*"))
            pattern = QStringLiteral("*");
        if (!patterns.contains(pattern))
            patterns.append(pattern);
    }
    return patterns;
}

} // namespace

QString QtFileFilter(const QString& pairs)
{
    const QStringList fields = pairs.split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i < fields.size(); i += 2) {
        QString label = fields.at(i).trimmed();
        QStringList patterns = qtPatterns(i + 1 < fields.size() ? fields.at(i + 1) : QString());

        const QRegularExpressionMatch shown = patternTail().match(label);
        if (shown.hasMatch()) {
            // With no pattern column the label's own patterns are all there is to go by.
            if (patterns.isEmpty())
                patterns = qtPatterns(shown.captured(1));
            label.truncate(shown.capturedStart());
        }
        if (patterns.isEmpty())
            continue;

        const QString joined = patterns.join(QLatin1Char(' '));
        entries.append(label.isEmpty() ? joined : label + QStringLiteral(" (") + joined + QLatin1Char(')'));
    }
    return entries.join(QStringLiteral(";;"));
}
