#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

class QUrl;

// File names as the system spells them. A Linux name is bytes and need not be UTF-8 (a name saved by an older
// tool may hold "caf\xE9.html"). Such names travel through the program without loss: every byte that is not part
// of valid UTF-8 becomes a lone surrogate U+DC80..U+DCFF in the QString and turns back into the same byte when
// the file is reached. Qt's own file classes would turn those bytes into U+FFFD and never find the file again, so
// every path that reaches the system goes through here. On Windows names are UTF-16: their bytes here are UTF-8,
// which holds every name, where the ANSI code page would turn the characters it lacks into "?".
namespace FileNames {

// The bytes of a name or path as the system gave them, as a QString.
QString fromNative(QByteArrayView bytes);
// The bytes the system knows the name or path by.
QByteArray toNative(const QString& path);

// The path of a dropped or pasted local-file URL, its percent-encoded bytes kept as they are.
QString fromLocalFileUrl(const QUrl& url);

// A file named on the program's command line: a path, made absolute from the current folder, or a file: URL.
QString fromCommandLine(QByteArrayView argument);

// The path as it is shown: each byte that is not UTF-8 appears as the replacement mark U+FFFD.
QString forDisplay(const QString& path);

// The running program's executable and its folder, spelled as the system spells them.
QString programPath();
QString programFolder();

#ifdef Q_OS_WIN
// The path as a direct Win32 call must be given it to reach past MAX_PATH (260 characters): the "\\?\" prefix
// ("\\?\UNC\server\share" for a network path) before the absolute path in backslashes. With the prefix the system
// no longer resolves "." and ".." or "/" itself, so that is done here first. Qt's file classes do the same on their
// own. A path that already has a prefix is returned as it is.
QString extendedLengthPath(const QString& path);
#endif

} // namespace FileNames
