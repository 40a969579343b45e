#include "ErrorTrap.h"

#include "SettingsStore.h"

#include <new>

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

StepError::StepError(const QString& description)
    : std::runtime_error(description.toStdString()), m_description(description)
{}

void Fail(const Failure& failure)
{
    throw StepError(failure.description);
}

void Fail(const QString& description)
{
    throw StepError(description);
}

void Unwrap(SettingsStore& settings, const QString& key, const QString& value)
{
    if (std::optional<Failure> failure = settings.SaveSetting(key, value))
        Fail(*failure);
}

bool ErrorTrap::step(int number, const std::function<void()>& action)
{
    try {
        action();
        return true;
    } catch (const StepError& error) {
        report(number, error.description());
    } catch (const std::bad_alloc&) {
        report(number, QStringLiteral("Out of memory"));
    } catch (const std::exception& error) {
        report(number, QString::fromLocal8Bit(error.what()));
    }
    return false;
}

bool ErrorTrap::test(int number, const std::function<bool()>& condition)
{
    bool result = true;
    step(number, [&] { result = condition(); });
    return result;
}

void ErrorTrap::report(int number, const QString& description)
{
    ErrorReport(m_dialogs, description, m_location, number);
}
