// The engine link's state: error with a message, stopped, starting or healthy.
#pragma once

#include <QString>

class EngineStatus final
{
public:
    enum class Kind { Error, Stopped, Starting, Healthy };

    EngineStatus() = default;

    static EngineStatus error(const QString &message) { return EngineStatus(Kind::Error, message); }
    static EngineStatus stopped() { return EngineStatus(Kind::Stopped, {}); }
    static EngineStatus starting() { return EngineStatus(Kind::Starting, {}); }
    static EngineStatus healthy() { return EngineStatus(Kind::Healthy, {}); }

    Kind kind() const { return m_kind; }
    bool isError() const { return m_kind == Kind::Error; }
    // The error's message; empty for the other cases.
    const QString &message() const { return m_message; }

    friend bool operator==(const EngineStatus &a, const EngineStatus &b)
    {
        return a.m_kind == b.m_kind && (a.m_kind != Kind::Error || a.m_message == b.m_message);
    }

private:
    EngineStatus(Kind kind, const QString &message) : m_kind(kind), m_message(message) {}

    Kind m_kind = Kind::Stopped;
    QString m_message;
};
