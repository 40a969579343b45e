#include "FileNames.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <climits>
#include <cstring>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <windows.h>

#include <algorithm>
#include <vector>
#endif

namespace FileNames {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;

// The unit at i carries a byte: a low surrogate in the escape range that is not the second half of a pair (a pair's
// second half may fall in the same range).
bool isEscapedByte(QStringView text, qsizetype i)
{
    const char16_t unit = text[i].unicode();
    return unit >= 0xDC80 && unit <= 0xDCFF && (i == 0 || !text[i - 1].isHighSurrogate());
}

// The length of the valid UTF-8 sequence at the start of bytes, or 0 when it does not begin with one. Overlong
// forms, surrogates and values past U+10FFFF are not valid: they are bytes to keep, not characters.
qsizetype validSequence(const unsigned char* bytes, qsizetype available)
{
    const unsigned char lead = bytes[0];
    if (lead < 0x80)
        return 1;
    qsizetype length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (available < length || bytes[1] < low || bytes[1] > high)
        return 0;
    for (qsizetype i = 2; i < length; ++i)
        if ((bytes[i] & 0xC0) != 0x80)
            return 0;
    return length;
}

} // namespace

QString fromNative(QByteArrayView bytes)
{
#ifdef Q_OS_UNIX
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype size = bytes.size();
    // Nearly every name is valid UTF-8 and needs no more than Qt's own decoder.
    qsizetype at = 0;
    while (at < size) {
        const qsizetype length = validSequence(data + at, size - at);
        if (length == 0)
            break;
        at += length;
    }
    if (at == size)
        return QString::fromUtf8(bytes);

    QString name = QString::fromUtf8(bytes.first(at));
    while (at < size) {
        const qsizetype start = at;
        qsizetype length = 0;
        while (at < size && (length = validSequence(data + at, size - at)) != 0)
            at += length;
        name += QString::fromUtf8(bytes.sliced(start, at - start));
        if (at < size)
            name += QChar(char16_t(kEscapeBase + data[at++]));
    }
    return name;
#elif defined(Q_OS_WIN)
    return QString::fromUtf8(bytes);
#else
    return QFile::decodeName(bytes.toByteArray());
#endif
}

QByteArray toNative(const QString& path)
{
#ifdef Q_OS_UNIX
    bool escaped = false;
    for (qsizetype i = 0; i < path.size() && !escaped; ++i)
        escaped = isEscapedByte(path, i);
    if (!escaped)
        return path.toUtf8();
    QByteArray bytes;
    bytes.reserve(path.size() * 3);
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (!isEscapedByte(path, i))
            continue;
        bytes += QStringView(path).sliced(runStart, i - runStart).toUtf8();
        bytes += char(path[i].unicode() - kEscapeBase);
        runStart = i + 1;
    }
    bytes += QStringView(path).sliced(runStart).toUtf8();
    return bytes;
#elif defined(Q_OS_WIN)
    return path.toUtf8();
#else
    return QFile::encodeName(path);
#endif
}

QString fromLocalFileUrl(const QUrl& url)
{
#ifdef Q_OS_UNIX
    // toLocalFile() reads the percent-encoded bytes as UTF-8 and loses the ones that are not.
    if (url.isLocalFile() && url.host().isEmpty())
        return fromNative(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
#endif
    return QDir::toNativeSeparators(url.toLocalFile());
}

QString fromCommandLine(QByteArrayView argument)
{
    if (argument.startsWith("file:"))
        return fromLocalFileUrl(QUrl::fromEncoded(argument.toByteArray()));
#ifdef Q_OS_UNIX
    if (!argument.startsWith('/')) {
        // The current folder's own bytes: its name need not be UTF-8 either.
        QByteArray folder(4096, Qt::Uninitialized);
        while (!::getcwd(folder.data(), std::size_t(folder.size()))) {
            if (errno != ERANGE)
                return fromNative(argument);
            folder.resize(folder.size() * 2);
        }
        folder.truncate(qsizetype(std::strlen(folder.constData())));
        if (!folder.endsWith('/'))
            folder += '/';
        return fromNative(folder + argument.toByteArray());
    }
    return fromNative(argument);
#else
    return QDir::toNativeSeparators(QFileInfo(QString::fromLocal8Bit(argument)).absoluteFilePath());
#endif
}

QString forDisplay(const QString& path)
{
    QString shown = path;
    for (qsizetype i = 0; i < path.size(); ++i)
        if (isEscapedByte(path, i))
            shown[i] = QChar(QChar::ReplacementCharacter);
    return shown;
}

QString programPath()
{
#ifdef Q_OS_LINUX
    char target[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", target, sizeof target);
    if (length > 0 && length < ssize_t(sizeof target))
        return fromNative(QByteArrayView(target, length));
#elif defined(Q_OS_WIN)
    // Asked of the system, so that a program without a QCoreApplication (the command line) knows it too, in a
    // folder of any name and length.
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
        if (length == 0)
            break;
        if (length < path.size())
            return QString::fromWCharArray(path.data(), qsizetype(length));
        path.resize(path.size() * 2);
    }
#endif
    return QCoreApplication::applicationFilePath();
}

QString programFolder()
{
#if defined(Q_OS_LINUX) || defined(Q_OS_WIN)
#ifdef Q_OS_WIN
    constexpr QChar separator = u'\\';
#else
    constexpr QChar separator = u'/';
#endif
    const QString program = programPath();
    const qsizetype slash = program.lastIndexOf(separator);
    if (slash > 0)
        return program.left(slash);
    if (slash == 0)
        return QString(separator);
#endif
    return QCoreApplication::applicationDirPath();
}

#ifdef Q_OS_WIN
QString extendedLengthPath(const QString& path)
{
    const QString native = QDir::toNativeSeparators(path);
    if (native.startsWith(QStringLiteral("\\\\?\\")) || native.startsWith(QStringLiteral("\\\\.\\")))
        return native;
    const auto* name = reinterpret_cast<const wchar_t*>(native.utf16());
    // The size asked for includes the terminating NUL; the length returned does not.
    std::vector<wchar_t> full(std::max<DWORD>(::GetFullPathNameW(name, 0, nullptr, nullptr), 1));
    const DWORD length = ::GetFullPathNameW(name, DWORD(full.size()), full.data(), nullptr);
    if (length == 0 || length >= full.size())
        return native;
    const QString absolute = QString::fromWCharArray(full.data(), qsizetype(length));
    if (absolute.startsWith(QStringLiteral("\\\\")))
        return QStringLiteral("\\\\?\\UNC\\") + absolute.mid(2);
    return QStringLiteral("\\\\?\\") + absolute;
}
#endif

} // namespace FileNames
