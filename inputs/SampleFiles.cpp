#include "SampleFiles.h"

#include "AddFolder.h"
#include "AnsiCodec.h"
#include "FileAttributes.h"
#include "FileNames.h"
#include "FileSystem.h"
#include "FixPath.h"

namespace {

const QString kSnapshotKey = QStringLiteral("Snapshot");
const QChar kRecordSeparator = u'|';

// The counter that walks the text was a 16-bit integer: a longer text never made it through.
constexpr qsizetype kLongestText = 32767;

constexpr int kUnheldCharacter = '?';

// The scramble shifts one byte's value: a character written in two bytes (a double-byte code page)
// has none, like a character the code page cannot hold.
int CodePageValue(QChar character)
{
    const int value = AnsiCodec::fromUnicode(character.unicode());
    return value < 0 || value > 255 ? kUnheldCharacter : value;
}

// Both directions walk the text the same way and differ only in how one value is shifted.
template <typename Shift>
Result<QString> ShiftText(const QString& text, const QString& key, EventPump& events, Shift shift)
{
    if (text.size() > kLongestText)
        return Failure{QStringLiteral("Overflow")};
    if (key.isEmpty() && !text.isEmpty())
        return Failure{QStringLiteral("Division by zero")};
    QString shifted(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int value = shift(CodePageValue(text.at(i)), CodePageValue(key.at(i % key.size())));
        shifted[i] = QChar(AnsiCodec::toUnicode(static_cast<unsigned char>(value)));
        events.processEvents();
    }
    return shifted;
}

QString SamplesFolderPath(const QString& programFolder)
{
    return programFolder + kPathSeparator + QStringLiteral("Samples");
}

// A record whose plain form begins with this character holds the paths' bytes, one code-page character for each
// byte, rather than their characters: the form for paths the code page cannot spell (a program unpacked under
// "/home/иван/", a file name that is not UTF-8). No path begins with it, so the two forms never meet.
constexpr QChar kBytesForm = u'\x01';

bool codePageHolds(const QString& text)
{
    for (const QChar c : text) {
        const int value = AnsiCodec::fromUnicode(c.unicode());
        if (value < 1 || value > 255 || AnsiCodec::toUnicode(static_cast<unsigned char>(value)) != c.unicode())
            return false;
    }
    return true;
}

QString bytesForm(const QStringList& paths)
{
    QByteArray bytes;
    for (const QString& path : paths) {
        if (!bytes.isEmpty())
            bytes += '|';
#ifdef Q_OS_UNIX
        bytes += FileNames::toNative(path);
#else
        bytes += path.toUtf8();
#endif
    }
    QString plain(kBytesForm);
    for (const char byte : bytes)
        plain += QChar(AnsiCodec::toUnicode(static_cast<unsigned char>(byte)));
    return plain;
}

QStringList fromBytesForm(QStringView plain)
{
    QByteArray bytes;
    bytes.reserve(plain.size());
    for (const QChar c : plain)
        bytes += char(CodePageValue(c));
    QStringList paths;
    for (const QByteArray& path : bytes.split('|'))
#ifdef Q_OS_UNIX
        paths.append(FileNames::fromNative(path));
#else
        paths.append(QString::fromUtf8(path));
#endif
    return paths;
}

} // namespace

Result<QString> ScrambleText(const QString& text, const QString& key, EventPump& events)
{
    return ShiftText(text, key, events, [](int c, int k) {
        const int v = c + k;
        return v > 255 ? v - 255 : v;
    });
}

Result<QString> UnscrambleText(const QString& text, const QString& key, EventPump& events)
{
    return ShiftText(text, key, events, [](int c, int k) {
        const int v = c - k;
        return v < 1 ? v + 255 : v;
    });
}

QString SamplesFolder(const QString& programFolder)
{
    return SamplesFolderPath(programFolder) + kPathSeparator;
}

std::optional<Failure> RecordSampleFiles(SettingsStore& settings, const QString& programFolder, EventPump& events)
{
    const QString folder = SamplesFolderPath(programFolder);
    // The folder scan's own listing, so that the samples come in the order a scan of their folder gives them.
    const QStringList names = AddFolder::ListFiles(folder, QStringLiteral("*.*"));

    QStringList paths;
    for (const QString& name : names)
        paths.append(folder + kPathSeparator + name);
    QString plain = paths.join(kRecordSeparator);
    if (!codePageHolds(plain))
        plain = bytesForm(paths);

    const Result<QString> scrambled = ScrambleText(plain, QString::fromLatin1(kRecordKey), events);
    if (!scrambled)
        return scrambled.failure();
    return settings.SaveSetting(kSnapshotKey, *scrambled);
}

Result<QStringList> SampleFilesToLoad(const SettingsStore& settings, const InputFileList& list, EventPump& events)
{
    const Result<QString> record =
        UnscrambleText(settings.GetSetting(kSnapshotKey, QString()), QString::fromLatin1(kRecordKey), events);
    if (!record)
        return record.failure();
    QStringList toLoad;
    // An empty record splits into one empty part, which never exists.
    const QStringList paths = record->startsWith(kBytesForm) ? fromBytesForm(QStringView(*record).sliced(1))
                                                             : record->split(kRecordSeparator);
    for (const QString& path : paths) {
        if (FileExists(path) && !list.IsInList(path))
            toLoad.append(path);
    }
    return toLoad;
}
