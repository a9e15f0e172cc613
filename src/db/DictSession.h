#pragma once
// Sessions: connection settings shared by the databases and tables that name them.

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <mutex>

class TDictDatabase;

class TDictSession
{
public:
    explicit TDictSession(const QString &sessionName);
    ~TDictSession();
    TDictSession(const TDictSession &) = delete;
    TDictSession &operator=(const TDictSession &) = delete;

    // The session named "Default" that exists for the whole run.
    static TDictSession &Default();

    QString SessionName;
    bool KeepConnections = false;
    int LockRetryCount = 20;
    int LockWaitTime = 100;
    bool SQLHourGlass = true;
    // Passwords tried on encrypted databases before asking.
    QStringList Passwords;
    // The login dialog: return false when the user cancels. Without a handler the
    // login counts as cancelled.
    std::function<bool(TDictSession *sender, const QString &fileName, QString &password)> OnLogin;

    QList<TDictDatabase *> Databases() const { return m_databases; }
    TDictDatabase *FindDatabase(const QString &databaseName) const;

private:
    friend class TDictDatabase;
    QList<TDictDatabase *> m_databases;
};

// All sessions of the process, and the lock that guards session look-ups and use counts.
class TDictSessionList
{
public:
    static TDictSession *FindSession(const QString &name);
    static std::recursive_mutex &Lock();

private:
    friend class TDictSession;
    static QList<TDictSession *> &sessions();
};
