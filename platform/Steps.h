#pragma once

#include "Result.h"

#include <QString>

#include <functional>
#include <optional>
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

// Runs the action of a step: the description of its failure (a StepError's own, "Out of memory" when memory ran out,
// the message of any other standard exception), or nothing when it went through. Anything else it throws goes on up,
// so that work can end itself from inside a step.
std::optional<QString> FailureOf(const std::function<void()>& action);

// Work done in steps, each of which may fail on its own: a failed step is reported with the step it was and the work
// goes on with the next one, so that one bad folder or file costs only itself. Step says which step: the window's
// handlers number theirs (int); a lower layer names its own by an enum and leaves numbering them to the window.
template <typename Step> class Steps
{
public:
    // Receives each failure: the step and what went wrong.
    using Report = std::function<void(Step step, const QString& description)>;

    explicit Steps(Report report) : m_report(std::move(report)) {}
    virtual ~Steps() = default;

    // Runs one step. Returns false when it failed (after the report).
    bool step(Step which, const std::function<void()>& action)
    {
        const std::optional<QString> failure = FailureOf(action);
        if (failure)
            m_report(which, *failure);
        return !failure;
    }
    // Runs the test of a conditional step. A test that fails counts as passed, so the branch it guards still runs:
    // a failure is reported once and the work goes on with its steps.
    bool test(Step which, const std::function<bool()>& condition)
    {
        bool result = true;
        step(which, [&] { result = condition(); });
        return result;
    }

private:
    Report m_report;
};
