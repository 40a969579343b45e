#include "SampleFiles.h"

#include "AnsiCodec.h"
#include "FileSystem.h"
#include "FixPath.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

const QString kSnapshotKey = QStringLiteral("Snapshot");
const QChar kRecordSeparator = u'|';

// The counter that walks the text was a 16-bit integer: a longer text never made it through.
constexpr qsizetype kLongestText = 32767;

constexpr int kUnheldCharacter = '?';

int CodePageValue(QChar character)
{
    const int value = AnsiCodec::fromUnicode(character.unicode());
    return value < 0 ? kUnheldCharacter : value;
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
    // Sockets and the like count as files too, as long as they can be looked at; a dangling link cannot.
    const QDir dir(folder);
    QStringList names;
    if (dir.exists()) {
        for (const QFileInfo& entry :
             dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
            if (!entry.isDir() && FileExists(entry.filePath()))
                names.append(entry.fileName());
        }
    }
    // An ordinal order, so the record does not change with the user's locale.
    std::sort(names.begin(), names.end());

    QStringList paths;
    for (const QString& name : names)
        paths.append(folder + kPathSeparator + name);

    const Result<QString> scrambled =
        ScrambleText(paths.join(kRecordSeparator), QString::fromLatin1(kRecordKey), events);
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
    for (const QString& path : record->split(kRecordSeparator)) {
        if (FileExists(path) && !list.IsInList(path))
            toLoad.append(path);
    }
    return toLoad;
}
