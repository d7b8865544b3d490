#pragma once

#include <QString>

#include <optional>
#include <utility>

// What a step gives when it can fail for a reason worth telling: a value,
// or the one-line message that says what was wrong. Every library uses it
// where a reason travels (std::optional where none does), so a message
// reaches the operator exactly as the step that found the fault wrote it.
struct Refusal
{
    QString message;
};

template <class T> class Checked
{
public:
    Checked(T value) : m_value(std::move(value)) {}
    Checked(const Refusal& refusal) : m_message(refusal.message) {}

    explicit operator bool() const { return m_value.has_value(); }
    const T& operator*() const { return *m_value; }
    T& operator*() { return *m_value; }
    const T* operator->() const { return &*m_value; }
    T* operator->() { return &*m_value; }
    const QString& message() const { return m_message; }

private:
    std::optional<T> m_value;
    QString m_message;
};

// A step that gives nothing but can fail: success is the default, failure
// carries its message, and it reads as a step with a value does.
template <> class Checked<void>
{
public:
    Checked() = default;
    Checked(const Refusal& refusal) : m_message(refusal.message), m_refused(true) {}

    explicit operator bool() const { return !m_refused; }
    const QString& message() const { return m_message; }

private:
    QString m_message;
    bool m_refused = false;
};
