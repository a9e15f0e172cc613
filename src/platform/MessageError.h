#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

// An error that carries its message as text, the base of the subsystems' own
// error types.
class EMessageError : public std::exception
{
public:
    explicit EMessageError(const QString &message)
        : m_message(message)
        , m_utf8(message.toUtf8())
    { }

    const QString &Message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};
