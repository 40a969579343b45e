#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <variant>

// What a lower layer hands back when it could not do its work: a description the user can read.
struct Failure
{
    QString description;
};

// A value or the failure that kept it from being made. A layer whose callers tell failures apart (by the stage of
// the work that failed, say) names its own failure type.
template <typename T, typename E = Failure> class Result
{
public:
    Result(T value) : m_state(std::move(value)) {}
    Result(E failure) : m_state(std::move(failure)) {}

    bool ok() const { return std::holds_alternative<T>(m_state); }
    explicit operator bool() const { return ok(); }

    T& value() { return std::get<T>(m_state); }
    const T& value() const { return std::get<T>(m_state); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const E& failure() const { return std::get<E>(m_state); }

private:
    std::variant<T, E> m_state;
};
