#include "Steps.h"

#include <new>

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

bool Steps::step(int number, const std::function<void()>& action)
{
    try {
        action();
        return true;
    } catch (const StepError& error) {
        m_report(number, error.description());
    } catch (const std::bad_alloc&) {
        m_report(number, QStringLiteral("Out of memory"));
    } catch (const std::exception& error) {
        m_report(number, QString::fromLocal8Bit(error.what()));
    }
    return false;
}

bool Steps::test(int number, const std::function<bool()>& condition)
{
    bool result = true;
    step(number, [&] { result = condition(); });
    return result;
}
