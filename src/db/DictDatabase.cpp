#include "db/DictDatabase.h"

#include "db/DictSession.h"
#include "db/DictTable.h"

#include <QCoreApplication>
#include <QTimer>
#include <utility>

TDictDatabase::TDictDatabase(TDictSession *session)
    : m_session(session ? session : &TDictSession::Default())
{
    std::lock_guard guard(TDictSessionList::Lock());
    m_session->m_databases.append(this);
}

TDictDatabase::~TDictDatabase()
{
    disconnect();
    std::lock_guard guard(TDictSessionList::Lock());
    m_session->m_databases.removeOne(this);
}

void TDictDatabase::SetConnected(bool connected)
{
    if (connected && !Connected())
        connect();
    else if (!connected && Connected())
        disconnect();
}

void TDictDatabase::connect()
{
    if (DatabaseName.isEmpty())
        throw EDictDBError(QStringLiteral("Database name missing"));
    auto file = std::make_unique<TDictDBFileIO>(this);
    file->LockRetryCount = m_session->LockRetryCount;
    file->LockWaitTime = m_session->LockWaitTime;
    file->Open(FileName.isEmpty() ? DatabaseName : FileName, MediumType, Exclusive);
    m_canAccess = !file->Encrypted() || (m_hasPassword && file->SetPassword(m_password));
    const QStringList names = file->GetTableNames();
    std::vector<std::unique_ptr<TDictTableIO>> tables;
    for (const QString &name : names)
        tables.push_back(std::make_unique<TDictTableIO>(*file, name));
    m_tables = std::move(tables);
    // progress of value processing reaches the database's events
    if (TDataProcessAlgo *a = file->CompressMgr().Algorithm()) {
        a->OnEncodeProgress = [this](int p) {
            if (OnCompressProgress)
                OnCompressProgress(this, p);
        };
        a->OnDecodeProgress = [this](int p) {
            if (OnUncompressProgress)
                OnUncompressProgress(this, p);
        };
    }
    if (TDataProcessAlgo *a = file->EncryptMgr().Algorithm()) {
        a->OnEncodeProgress = [this](int p) {
            if (OnEncryptProgress)
                OnEncryptProgress(this, p);
        };
        a->OnDecodeProgress = [this](int p) {
            if (OnDecryptProgress)
                OnDecryptProgress(this, p);
        };
    }
    m_file = std::move(file);
    if (AutoFlush && QCoreApplication::instance()) {
        m_flushTimer = std::make_unique<QTimer>();
        m_flushTimer->setInterval(AutoFlushInterval);
        QObject::connect(m_flushTimer.get(), &QTimer::timeout, [this] {
            if (m_file && m_file->IsOpen() && !m_file->IsFlushed())
                m_file->Flush();
        });
        m_flushTimer->start();
    }
}

void TDictDatabase::disconnect()
{
    {
        // Each table's close releases this database; while it is closing them itself
        // that release must neither free it nor start another disconnect.
        const bool wasClosing = std::exchange(m_closingDatasets, true);
        struct Restore
        {
            bool &flag, value;
            ~Restore() { flag = value; }
        } restore {m_closingDatasets, wasClosing};
        while (!m_datasets.isEmpty())
            m_datasets.first()->Close();
    }
    m_flushTimer.reset();
    m_tables.clear();
    m_file.reset();
    m_canAccess = false;
}

void TDictDatabase::SetPassword(const QString &password)
{
    m_password = password;
    m_hasPassword = true;
    if (Connected())
        m_canAccess = m_file->SetPassword(password);
}

void TDictDatabase::checkAccess()
{
    if (m_canAccess)
        return;
    for (const QString &p : m_session->Passwords)
        if (m_file->SetPassword(p)) {
            m_canAccess = true;
            return;
        }
    if (m_hasPassword) {
        if (!m_file->SetPassword(m_password))
            throw EDictDBError(QStringLiteral("Access denied"));
        m_canAccess = true;
        return;
    }
    QString entered;
    if (!m_session->OnLogin || !m_session->OnLogin(m_session, m_file->FileName(), entered))
        throw EDictDBAbort();
    if (!m_file->SetPassword(entered))
        throw EDictDBError(QStringLiteral("Access denied"));
    m_canAccess = true;
}

QStringList TDictDatabase::GetTableNames() const
{
    if (!Connected())
        throw EDictDBError(QStringLiteral("Cannot perform this operation on a closed database"));
    QStringList names;
    for (const auto &t : m_tables)
        names << t->TableName();
    return names;
}

QList<TDictTableDef> TDictDatabase::TableDefs() const
{
    if (!Connected())
        throw EDictDBError(QStringLiteral("Cannot perform this operation on a closed database"));
    QList<TDictTableDef> defs;
    for (const auto &t : m_tables)
        defs << TDictTableDef {t->TableName(), t->TableNo()};
    return defs;
}

TDictTableIO *TDictDatabase::FindTableIO(const QString &tableName) const
{
    for (const auto &t : m_tables)
        if (t->TableName() == tableName)
            return t.get();
    return nullptr;
}

void TDictDatabase::acquire(TDictTable *table)
{
    std::lock_guard guard(TDictSessionList::Lock());
    ++m_useCount;
    m_datasets.append(table);
    if (m_file) {
        m_file->LockRetryCount = m_session->LockRetryCount;
        m_file->LockWaitTime = m_session->LockWaitTime;
    }
}

void TDictDatabase::release(TDictTable *table)
{
    bool destroy = false;
    {
        std::lock_guard guard(TDictSessionList::Lock());
        m_datasets.removeOne(table);
        if (--m_useCount > 0 || KeepConnection || m_closingDatasets)
            return;
        destroy = m_temporary;
    }
    if (destroy)
        delete this;
    else
        disconnect();
}
