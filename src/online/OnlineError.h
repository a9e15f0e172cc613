#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

// Base of every error raised by the online services (JSON values,
// web API answers). Callers catch this one type and treat the answer as failed.
class EOnlineError : public std::exception
{
public:
    explicit EOnlineError(const QString &message)
        : m_message(message)
        , m_utf8(message.toUtf8())
    { }

    const QString &Message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};
