#pragma once

#include "Dialogs.h"
#include "Result.h"
#include "StepNumbers.h"
#include "Steps.h"

#include <QString>

// The support address at the end of every error report.
inline constexpr char kSupportAddress[] = "support@quorvane.com";

// The text of the "Application Error" box: the failure, where it happened and at which step,
// and the request to send a screenshot.
QString ErrorReportText(const QString& description, const QString& location, int step);
void ErrorReport(Dialogs& dialogs, const QString& description, const QString& location, int step);

// The value inside a step: a failure fails the step with its description.
template <typename T> T& ValueOrFail(Result<T>& result)
{
    if (!result)
        Fail(result.failure());
    return result.value();
}

// Saves a setting inside a step: a write the store refuses fails the step.
void SaveSettingOrFail(class SettingsStore& settings, const QString& key, const QString& value);

// The uniform error trap of a handler: numbered steps run in turn; one that fails shows the
// error report with its number and the handler's location, and the handler goes on with the next step.
class ErrorTrap : public Steps<int>
{
public:
    ErrorTrap(Dialogs& dialogs, const QString& location);

    const QString& location() const { return m_location; }

private:
    QString m_location;
};

// The steps of a lower layer, which names them by an enum of its own, trapped as a handler's are: a failed step shows
// the error report at location, with the number the table gives it, and the work goes on with the next one.
template <typename Step>
Steps<Step> NumberedSteps(Dialogs& dialogs, const QString& location, const StepNumbers<Step>& numbers)
{
    return Steps<Step>([&dialogs, location, &numbers](Step step, const QString& description) {
        ErrorReport(dialogs, description, location, numbers[step]);
    });
}
