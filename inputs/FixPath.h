#pragma once

#include <QChar>
#include <QString>
#include <QtGlobal>

// Paths built by joining a folder and a name (several files chosen in the open dialog, the files a folder scan finds)
// can have a separator too many where the parts meet. Such paths are tidied before they enter the input list; a
// file chosen alone or dropped goes in exactly as it came.

#ifdef Q_OS_WIN
inline constexpr QChar kPathSeparator = u'\\';
// A network path (\\server\share) must keep both of its leading separators.
inline constexpr int kLeadingSeparatorRun = 2;
#else
inline constexpr QChar kPathSeparator = u'/';
// POSIX gives "//" no meaning of its own, so a leading run is simply the root.
inline constexpr int kLeadingSeparatorRun = 1;
#endif

// The rule itself, for any separator, so that both systems' behaviour can be checked on either one. Every pair of
// adjacent separators becomes one, pairs taken left to right without overlap (three in a row become two). A leading
// run of separators, however long, becomes exactly leadingRunLength of them.
QString FixPathWith(const QString& path, QChar separator, int leadingRunLength);

// The rule with this system's separator and leading run.
QString FixPath(const QString& path);
