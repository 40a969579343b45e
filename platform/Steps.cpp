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

std::optional<QString> FailureOf(const std::function<void()>& action)
{
    try {
        action();
        return std::nullopt;
    } catch (const StepError& error) {
        return error.description();
    } catch (const std::bad_alloc&) {
        return QStringLiteral("Out of memory");
    } catch (const std::exception& error) {
        return QString::fromLocal8Bit(error.what());
    }
}
