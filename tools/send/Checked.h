#pragma once

#include <QString>

#include <optional>
#include <utility>

// What a step of quendra-send gives: a value, or the one-line message that
// says what was wrong with the input. Every refusal travels this way, so a
// message reaches the user exactly as the step that found the fault wrote it.
namespace send {

struct Refusal
{
    QString message;
};

template <class T> class Checked
{
public:
    Checked(T value) : m_value(std::move(value)) {}
    Checked(Refusal refusal) : m_message(std::move(refusal.message)) {}

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

} // namespace send
