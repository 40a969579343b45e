#pragma once

#include "Dialogs.h"
#include "Result.h"

#include <QString>

#include <functional>
#include <stdexcept>

// The support address at the end of every error report.
inline constexpr char kSupportAddress[] = "support@quorvane.com";

// The text of the "Application Error" box: the failure, where it happened and at which step,
// and the request to send a screenshot.
QString ErrorReportText(const QString& description, const QString& location, int step);
void ErrorReport(Dialogs& dialogs, const QString& description, const QString& location, int step);

// What a failing step throws; its description is what the report shows.
class StepError : public std::runtime_error
{
public:
    explicit StepError(const QString& description);
    const QString& description() const { return m_description; }

private:
    QString m_description;
};

// Throws the failure of a lower layer inside a step.
[[noreturn]] void Fail(const Failure& failure);
[[noreturn]] void Fail(const QString& description);

template <typename T> T& Unwrap(Result<T>& result)
{
    if (!result)
        Fail(result.failure());
    return result.value();
}

// Saves a setting inside a step: a write the store refuses fails the step.
void Unwrap(class SettingsStore& settings, const QString& key, const QString& value);

// The uniform error trap of a handler: numbered steps run in turn; one that fails shows the
// error report with its number, and the handler goes on with the next step.
class ErrorTrap
{
public:
    ErrorTrap(Dialogs& dialogs, QString location) : m_dialogs(dialogs), m_location(std::move(location)) {}

    // Runs one step. Returns false when it failed (after the report).
    bool step(int number, const std::function<void()>& action);
    // Runs the test of a conditional step. A test that fails counts as passed, so the branch
    // it guards still runs: a failure is reported once and the handler goes on with its steps.
    bool test(int number, const std::function<bool()>& condition);

    const QString& location() const { return m_location; }

private:
    void report(int number, const QString& description);

    Dialogs& m_dialogs;
    QString m_location;
};
