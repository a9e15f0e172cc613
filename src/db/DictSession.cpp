#include "db/DictSession.h"

#include "db/DictDatabase.h"

QList<TDictSession *> &TDictSessionList::sessions()
{
    static QList<TDictSession *> list;
    return list;
}

std::recursive_mutex &TDictSessionList::Lock()
{
    static std::recursive_mutex lock;
    return lock;
}

TDictSession *TDictSessionList::FindSession(const QString &name)
{
    std::lock_guard guard(Lock());
    const QString wanted = name.isEmpty() ? QStringLiteral("Default") : name;
    if (wanted == QLatin1String("Default"))
        return &TDictSession::Default();
    for (TDictSession *s : sessions())
        if (s->SessionName.compare(wanted, Qt::CaseInsensitive) == 0)
            return s;
    return nullptr;
}

TDictSession::TDictSession(const QString &sessionName)
    : SessionName(sessionName)
{
    std::lock_guard guard(TDictSessionList::Lock());
    TDictSessionList::sessions().append(this);
}

TDictSession::~TDictSession()
{
    const QList<TDictDatabase *> databases = m_databases;
    for (TDictDatabase *db : databases)
        if (db->Temporary())
            delete db;
    std::lock_guard guard(TDictSessionList::Lock());
    TDictSessionList::sessions().removeOne(this);
}

TDictSession &TDictSession::Default()
{
    static TDictSession session(QStringLiteral("Default"));
    return session;
}

TDictDatabase *TDictSession::FindDatabase(const QString &databaseName) const
{
    std::lock_guard guard(TDictSessionList::Lock());
    for (TDictDatabase *db : m_databases)
        if (db->DatabaseName == databaseName)
            return db;
    return nullptr;
}
