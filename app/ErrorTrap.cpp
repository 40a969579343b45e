#include "ErrorTrap.h"

#include "SettingsStore.h"

QString ErrorReportText(const QString& description, const QString& location, int step)
{
    return description + QStringLiteral("\r\n") + location + QStringLiteral("at line ") + QString::number(step) +
           QStringLiteral("\r\rPlease email screenshot of this message to ") + QLatin1String(kSupportAddress);
}

void ErrorReport(Dialogs& dialogs, const QString& description, const QString& location, int step)
{
    dialogs.message(QStringLiteral("Application Error"), ErrorReportText(description, location, step),
                    Dialogs::Icon::Warning);
}

void SaveSettingOrFail(SettingsStore& settings, const QString& key, const QString& value)
{
    if (std::optional<Failure> failure = settings.SaveSetting(key, value))
        Fail(*failure);
}

ErrorTrap::ErrorTrap(Dialogs& dialogs, const QString& location)
    : Steps([&dialogs, location](int step, const QString& description) {
          ErrorReport(dialogs, description, location, step);
      }),
      m_location(location)
{}
