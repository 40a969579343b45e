#include "FixPath.h"

namespace {

// One left-to-right pass over non-overlapping pairs, not a full collapse: "a///b" keeps two separators. The input list
// finds duplicates by exact text, so this must stay the one way paths are tidied.
void appendWithPairsCollapsed(QString& out, QStringView rest, QChar separator)
{
    for (qsizetype i = 0; i < rest.size(); ++i) {
        out.append(rest[i]);
        if (rest[i] == separator && i + 1 < rest.size() && rest[i + 1] == separator)
            ++i;
    }
}

} // namespace

QString FixPathWith(const QString& path, QChar separator, int leadingRunLength)
{
    QString out;
    out.reserve(path.size() + leadingRunLength);

    qsizetype restStart = 0;
    if (path.startsWith(separator)) {
        while (restStart < path.size() && path[restStart] == separator)
            ++restStart;
        out.fill(separator, leadingRunLength);
    }
    appendWithPairsCollapsed(out, QStringView(path).mid(restStart), separator);
    return out;
}

QString FixPath(const QString& path)
{
    return FixPathWith(path, kPathSeparator, kLeadingSeparatorRun);
}
