#include "SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryFile>

#include <cmath>

namespace {

const QString kSection = QStringLiteral("Quillory");

} // namespace

namespace {

// A settings file the user may write, in a folder where no new file may be made, is written in place: the probe
// in SaveSetting lets such a write through, and it must not then fail.
std::unique_ptr<QSettings> writableInPlace(std::unique_ptr<QSettings> settings)
{
    settings->setAtomicSyncRequired(false);
    return settings;
}

} // namespace

SettingsStore::SettingsStore()
    : m_open([] {
#ifdef Q_OS_WIN
          const QSettings::Format format = QSettings::NativeFormat;
#else
          const QSettings::Format format = QSettings::IniFormat;
#endif
          return writableInPlace(std::make_unique<QSettings>(format, QSettings::UserScope, QStringLiteral("Quorvane"),
                                                             QStringLiteral("Quillory")));
      }),
      m_settings(m_open())
{}

SettingsStore::SettingsStore(std::function<std::unique_ptr<QSettings>()> open)
    : m_open(std::move(open)), m_settings(m_open())
{}

#ifdef Q_OS_WIN
std::unique_ptr<SettingsStore> SettingsStore::InRegistry(const QString& key)
{
    return std::unique_ptr<SettingsStore>(
        new SettingsStore([key] { return std::make_unique<QSettings>(key, QSettings::NativeFormat); }));
}
#endif

SettingsStore::SettingsStore(const QString& iniFile)
    : m_open([iniFile] { return writableInPlace(std::make_unique<QSettings>(iniFile, QSettings::IniFormat)); }),
      m_settings(m_open())
{}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::GetSetting(const QString& key, const QString& defaultValue) const
{
    // Pick up what another copy of the program wrote meanwhile. A damaged file still gives every value QSettings
    // could read in it: one broken line costs no more than itself.
    m_settings->sync();
    const QVariant value = m_settings->value(kSection + u'/' + key);
    if (!value.isValid())
        return defaultValue;
#ifdef Q_OS_WIN
    // A registry value that is not a string (a number or bytes some other program left there) is damage.
    if (value.typeId() != QMetaType::QString)
        return defaultValue;
#endif
    return value.toString();
}

std::optional<Failure> SettingsStore::SaveSetting(const QString& key, const QString& value)
{
    m_settings->sync();
    const QString fileName = m_settings->fileName();
    const auto refused = [&] {
        return Failure{QStringLiteral("Permission denied (the settings file %1 could not be written)").arg(fileName)};
    };
    // A change QSettings could not write stays pending, shared by every QSettings over the same file for as long as
    // the program runs, and each later read then fails on it and gives the default: a file that cannot be written
    // must not be handed the change at all.
    // A registry key has no file to probe; a refused write shows in QSettings' status.
    if (m_settings->format() == QSettings::IniFormat && !mayBeWritten(fileName))
        return refused();
    if (m_settings->format() == QSettings::IniFormat)
        keepCopyIfDamaged(fileName);
    m_settings->setValue(kSection + u'/' + key, value);
    m_settings->sync();
    const QSettings::Status status = m_settings->status();
    // QSettings keeps the first error it met for as long as it lives: the damage this write has just replaced,
    // or a refusal that may since have passed, would otherwise turn every later read into the default and
    // every later write into a failure.
    if (status != QSettings::NoError)
        m_settings = m_open();
    if (status == QSettings::AccessError)
        return refused();
    return std::nullopt;
}

void SettingsStore::keepCopyIfDamaged(const QString& fileName)
{
    // QSettings finds most damage only as it reads the sections, so every one is read first.
    (void)m_settings->allKeys();
    if (m_settings->status() != QSettings::FormatError)
        return;
    // The write that follows replaces the file with what could be read of it; what could not is kept beside it, for
    // the user to look into. A copy that cannot be made (a folder that takes no new file) does not hold the write
    // back: the values that could be read are kept either way.
    const QString copy = fileName + QStringLiteral(".damaged");
    QFile::remove(copy);
    QFile::copy(fileName, copy);
}

bool SettingsStore::mayBeWritten(const QString& fileName)
{
    // The test QSettings itself makes before it writes: the file opens for writing, or a new one can be made in
    // its folder.
    if (QFileInfo::exists(fileName)) {
        QFile file(fileName);
        return file.open(QIODevice::ReadWrite);
    }
    const QString folder = QFileInfo(fileName).absolutePath();
    if (!QDir().mkpath(folder))
        return false;
    QTemporaryFile probe(folder + QStringLiteral("/.settings-probe-XXXXXX"));
    return probe.open();
}

double NumericValue(const QString& text)
{
    QString s;
    for (const QChar c : text)
        if (c != u' ' && c != u'\t' && c != u'\n' && c != u'\r')
            s.append(c);
    if (s.startsWith(u'&') && s.size() > 1) {
        const QChar kind = s.at(1).toUpper();
        const int base = kind == u'H' ? 16 : kind == u'O' ? 8 : 0;
        if (base == 0)
            return 0;
        qint64 value = 0;
        int digits = 0;
        for (qsizetype i = 2; i < s.size() && digits < 15; ++i, ++digits) {
            bool ok = false;
            const int digit = QString(s.at(i)).toInt(&ok, base);
            if (!ok)
                break;
            value = value * base + digit;
        }
        return double(value);
    }
    // The longest prefix that reads as a decimal number.
    qsizetype end = 0;
    if (end < s.size() && (s[end] == u'+' || s[end] == u'-'))
        ++end;
    const qsizetype digitsStart = end;
    while (end < s.size() && s[end].isDigit() && s[end].unicode() < 128)
        ++end;
    if (end < s.size() && s[end] == u'.') {
        ++end;
        while (end < s.size() && s[end].isDigit() && s[end].unicode() < 128)
            ++end;
    }
    if (end == digitsStart || (end == digitsStart + 1 && s[digitsStart] == u'.'))
        return 0;
    qsizetype mantissaEnd = end;
    if (end < s.size() && (s[end].toUpper() == u'E' || s[end].toUpper() == u'D')) {
        qsizetype e = end + 1;
        if (e < s.size() && (s[e] == u'+' || s[e] == u'-'))
            ++e;
        const qsizetype expDigits = e;
        while (e < s.size() && s[e].isDigit() && s[e].unicode() < 128)
            ++e;
        if (e > expDigits)
            end = e;
    }
    QString number = s.left(end);
    if (end > mantissaEnd)
        number[mantissaEnd] = u'e';
    bool ok = false;
    const double value = number.toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0;
}
