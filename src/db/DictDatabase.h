#pragma once
// A database: one connection to one file, its table objects and its datasets.

#include "db/DictDBFileIO.h"
#include "db/DictTableIO.h"

#include <functional>
#include <memory>
#include <vector>

class QTimer;
class TDictSession;
class TDictTable;

class TDictDatabase
{
public:
    explicit TDictDatabase(TDictSession *session = nullptr);
    ~TDictDatabase();
    TDictDatabase(const TDictDatabase &) = delete;
    TDictDatabase &operator=(const TDictDatabase &) = delete;

    QString DatabaseName;
    QString FileName; // empty: DatabaseName is the file path
    TDictDBMediumType MediumType = mtDisk;
    bool Exclusive = false;
    bool KeepConnection = true;
    bool AutoFlush = false;
    int AutoFlushInterval = 60000;

    bool Connected() const { return m_file != nullptr; }
    void SetConnected(bool connected);
    void Open() { SetConnected(true); }
    void Close() { SetConnected(false); }

    // Stores the password; when connected it is checked at once.
    void SetPassword(const QString &password);
    bool CanAccess() const { return m_canAccess; }
    QStringList GetTableNames() const;
    // The tables in directory order; a table's number is known once it has been opened.
    QList<TDictTableDef> TableDefs() const;

    TDictSession *Session() const { return m_session; }
    TDictDBFileIO *FileIO() const { return m_file.get(); }
    TDictTableIO *FindTableIO(const QString &tableName) const;
    int UseCount() const { return m_useCount; }
    bool Temporary() const { return m_temporary; }

    std::function<void(TDictDatabase *sender, int percent)> OnCompressProgress;
    std::function<void(TDictDatabase *sender, int percent)> OnUncompressProgress;
    std::function<void(TDictDatabase *sender, int percent)> OnEncryptProgress;
    std::function<void(TDictDatabase *sender, int percent)> OnDecryptProgress;

private:
    friend class TDictTable;
    void connect();
    void disconnect();
    void checkAccess();
    void acquire(TDictTable *table);
    void release(TDictTable *table);

    TDictSession *m_session;
    std::unique_ptr<TDictDBFileIO> m_file;
    std::vector<std::unique_ptr<TDictTableIO>> m_tables;
    QList<TDictTable *> m_datasets;
    QString m_password;
    bool m_hasPassword = false;
    bool m_canAccess = false;
    bool m_temporary = false;
    bool m_closingDatasets = false;
    int m_useCount = 0;
    std::unique_ptr<QTimer> m_flushTimer;
};
