#pragma once

#include "Result.h"

#include <QString>

#include <functional>
#include <stdexcept>

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

// Work done in numbered steps, each of which may fail on its own: a failed step is reported with its number and the
// work goes on with the next one, so that one bad folder or file costs only itself.
class Steps
{
public:
    // Receives each failure: the step's number and what went wrong.
    using Report = std::function<void(int step, const QString& description)>;

    explicit Steps(Report report) : m_report(std::move(report)) {}
    virtual ~Steps() = default;

    // Runs one step. Returns false when it failed (after the report).
    bool step(int number, const std::function<void()>& action);
    // Runs the test of a conditional step. A test that fails counts as passed, so the branch it guards still runs:
    // a failure is reported once and the work goes on with its steps.
    bool test(int number, const std::function<bool()>& condition);

private:
    Report m_report;
};
