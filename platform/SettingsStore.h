#pragma once

#include "Result.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QSettings;

// The user's choices between runs: string values under the application "Quorvane" and the
// section "Quillory". Every read goes to the store and every write goes straight through. A
// damaged file reads as the values that can still be read in it, and the first write keeps a copy
// of the damaged file beside it (FILE.damaged) before it rewrites it; an unreadable store reads as
// holding nothing.
class SettingsStore
{
public:
    // The user's own store: on Linux ~/.config/Quorvane/Quillory.ini; on Windows the registry key
    // HKEY_CURRENT_USER\Software\Quorvane\Quillory, where Windows programs keep theirs.
    SettingsStore();
    // A store in the given INI file, for tests.
    explicit SettingsStore(const QString& iniFile);
#ifdef Q_OS_WIN
    // A store under the given registry key ("HKEY_CURRENT_USER\Software\..."), for tests.
    static std::unique_ptr<SettingsStore> InRegistry(const QString& key);
#endif
    ~SettingsStore();

    QString GetSetting(const QString& key, const QString& defaultValue) const;
    // Fails when the store refuses the write.
    std::optional<Failure> SaveSetting(const QString& key, const QString& value);

private:
    explicit SettingsStore(std::function<std::unique_ptr<QSettings>()> open);
    static bool mayBeWritten(const QString& fileName);
    void keepCopyIfDamaged(const QString& fileName);

    std::function<std::unique_ptr<QSettings>()> m_open;
    std::unique_ptr<QSettings> m_settings;
};

// The number a text begins with, read as a settings value that may hold any text must be: blanks
// are ignored anywhere, an optional sign, digits with a decimal point and an exponent, or &H / &O
// for hexadecimal and octal; a text that does not begin with a number gives 0.
double NumericValue(const QString& text);
