#pragma once
// A table dataset: a cursor over one table of a database, with key search, navigation,
// bookmarks, field values and the write path.

#include "db/DictDatabase.h"
#include "db/DictFieldValue.h"
#include "db/DictFilter.h"
#include "db/DictSession.h"

#include <QVariant>
#include <memory>
#include <optional>
#include <vector>

class TDictTable;

// The field object of an open table.
class TDictField
{
public:
    TDictField(TDictTable *table, int fieldNo)
        : m_table(table)
        , m_fieldNo(fieldNo)
    { }
    QString FieldName() const;
    int DataType() const;
    int Size() const; // characters for string types, 0 otherwise
    int FieldNo() const { return m_fieldNo; }
    bool IsBlob() const;

    QString AsString() const;
    qint64 AsLargeInt() const;
    int AsInteger() const { return int(AsLargeInt()); }
    double AsFloat() const;
    bool AsBoolean() const;
    QDate AsDate() const;
    QTime AsTime() const;
    QDateTime AsDateTime() const;
    QByteArray AsBytes() const; // blob value, or the plain bytes of a fixed field
    QVariant Value() const;

    void SetAsString(const QString &value) { SetValue(value); }
    void SetAsInteger(qint64 value) { SetValue(qlonglong(value)); }
    void SetAsFloat(double value) { SetValue(value); }
    void SetAsBoolean(bool value) { SetValue(value); }
    void SetAsDateTime(const QDateTime &value) { SetValue(value); }
    void SetAsBytes(const QByteArray &value) { SetValue(value); }
    void SetValue(const QVariant &value);

private:
    const TDictFieldDef &def() const;
    dictdb::FieldBytes bytes() const;
    TDictTable *m_table;
    int m_fieldNo;
};

enum TDictDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };

class TDictTable
{
public:
    TDictTable();
    ~TDictTable();
    TDictTable(const TDictTable &) = delete;
    TDictTable &operator=(const TDictTable &) = delete;

    QString DatabaseName() const { return m_databaseName; }
    void SetDatabaseName(const QString &name);
    QString TableName() const { return m_tableName; }
    void SetTableName(const QString &name);
    QString SessionName() const { return m_sessionName; }
    void SetSessionName(const QString &name);
    TDictDBMediumType MediumType() const { return m_medium; }
    void SetMediumType(TDictDBMediumType medium);
    QString IndexName() const { return m_indexName; }
    void SetIndexName(const QString &name); // chooses the order; the view is rebuilt when open
    bool ReadOnly = false;
    // A filter expression over field names; with Filtered set the view holds only the
    // records for which it (and OnFilterRecord, when set) is true.
    QString Filter() const { return m_filter; }
    void SetFilter(const QString &expression);
    bool Filtered() const { return m_filtered; }
    void SetFiltered(bool filtered);
    std::function<bool(TDictTable *sender)> OnFilterRecord;

    void Open();
    void Close();
    bool Active() const { return m_io != nullptr; }
    TDictDataSetState State() const { return m_state; }

    bool Locate(const QString &keyFields, const QVariant &keyValues, unsigned options = 0);
    QVariant Lookup(const QString &keyFields, const QVariant &keyValues, const QString &resultFields);

    TDictField *FieldByName(const QString &name);
    TDictField *FindField(const QString &name);
    int FieldCount() const { return int(m_fields.size()); }
    TDictField *Field(int i) { return m_fields.at(size_t(i)).get(); }

    void First();
    void Next();
    void Prior();
    void Last();
    bool Eof() const { return m_eof; }
    bool Bof() const { return m_bof; }
    int RecordCount() const { return int(m_view.size()); }
    int RecNo() const { return m_cursor; } // position in the view, -1 before the first

    int GetBookmark() const; // the record number of the current record
    void GotoBookmark(int bookmark);

    // Write path: Append or Edit, set fields, Post (or Cancel); Delete removes the current record.
    void Append();
    void Edit();
    void Post();
    void Cancel();
    void Delete();
    void AppendRecord(const QVariantList &values);

    TDictDatabase *Database() const { return m_database; }
    TDictTableIO *TableIO() const { return m_io; }
    const TDictOrder &View() const { return m_view; }

private:
    friend class TDictField;
    struct BlobSlot
    {
        qint64 DescriptorPos = -1;
        bool Loaded = false;
        bool Modified = false;
        QByteArray Value;
    };
    struct RecordBuffer
    {
        QByteArray Plain;
        std::vector<BlobSlot> Blobs;
    };

    void checkClosed();
    void checkActive() const;
    void chooseOrder();
    void readCurrent();
    void readInto(int pos, RecordBuffer &buffer);
    void clearBuffer(RecordBuffer &buffer);
    QByteArray blobValue(const RecordBuffer &buffer, int field) const;
    int findPosition(const QString &keyFields, const QVariant &keyValues, unsigned options);
    QList<int> resolveFields(const QString &names);
    void checkWritable();
    void rebuildView(int32_t recordNo);
    void buildView();
    void readEntry(const TDictOrderEntry &entry, RecordBuffer &buffer);

    QString m_databaseName, m_tableName, m_sessionName, m_indexName;
    TDictDBMediumType m_medium = mtDisk;
    TDictDatabase *m_database = nullptr;
    TDictTableIO *m_io = nullptr;
    int m_order = 0;
    TDictOrder m_view;
    QString m_filter;
    bool m_filtered = false;
    int m_cursor = -1;
    bool m_eof = true, m_bof = true;
    TDictDataSetState m_state = dsInactive;
    mutable RecordBuffer m_buffer;
    std::vector<std::unique_ptr<TDictField>> m_fields;
};
