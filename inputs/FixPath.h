#pragma once

#include <QChar>
#include <QString>
#include <QtGlobal>

// Paths arrive from dialogs, drops, folder walks and the saved list, often glued together with one separator too
// many. They are tidied once, before they enter the input list, so that the same file is not listed twice under
// two spellings.

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
