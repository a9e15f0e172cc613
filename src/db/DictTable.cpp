#include "db/DictTable.h"

#include "db/DictSession.h"

using namespace dictdb;

// ---- TDictField ----

const TDictFieldDef &TDictField::def() const
{
    return m_table->m_io->FieldDefs().at(m_fieldNo);
}

FieldBytes TDictField::bytes() const
{
    const TDictFieldDef &d = def();
    if (d.IsBlob())
        return m_table->blobValue(m_table->m_buffer, m_fieldNo);
    const QByteArray &plain = m_table->m_buffer.Plain;
    if (plain.size() < d.Offset + d.Size)
        return FieldBytes(d.Size, 0);
    return plain.mid(d.Offset, d.Size);
}

QString TDictField::FieldName() const
{
    return def().Name;
}
int TDictField::DataType() const
{
    return def().FieldType;
}
int TDictField::Size() const
{
    return isStringType(def().FieldType) ? def().FieldSize : 0;
}
bool TDictField::IsBlob() const
{
    return def().IsBlob();
}
QString TDictField::AsString() const
{
    return fieldText(def(), bytes());
}
QVariant TDictField::Value() const
{
    return decodeFieldValue(def(), bytes());
}
QByteArray TDictField::AsBytes() const
{
    return bytes();
}

qint64 TDictField::AsLargeInt() const
{
    const QVariant v = Value();
    if (v.typeId() == QMetaType::QString) {
        bool ok = false;
        const qint64 r = v.toString().trimmed().toLongLong(&ok);
        if (!ok)
            throw EDictDBError(QStringLiteral("'%1' is not a valid integer value").arg(v.toString()));
        return r;
    }
    if (v.typeId() == QMetaType::QDate)
        return dayNumberOf(v.toDate());
    if (v.typeId() == QMetaType::Double)
        return qint64(std::llround(v.toDouble()));
    return v.toLongLong();
}

double TDictField::AsFloat() const
{
    const QVariant v = Value();
    if (v.typeId() == QMetaType::QString) {
        bool ok = false;
        const double r = v.toString().trimmed().toDouble(&ok);
        if (!ok)
            throw EDictDBError(QStringLiteral("'%1' is not a valid floating point value").arg(v.toString()));
        return r;
    }
    if (def().FieldType == ftDateTime || def().FieldType == ftDate || def().FieldType == ftTime) {
        double raw = 0;
        const FieldBytes b = bytes();
        if (def().FieldType == ftDateTime)
            std::memcpy(&raw, b.constData(), 8);
        else
            raw = getI32(b.constData());
        return raw;
    }
    return v.toDouble();
}

bool TDictField::AsBoolean() const
{
    return dictdb::valueToBool(Value());
}

QDateTime TDictField::AsDateTime() const
{
    const QVariant v = Value();
    switch (v.typeId()) {
    case QMetaType::QDateTime:
        return v.toDateTime();
    case QMetaType::QDate:
        return QDateTime(v.toDate(), QTime(0, 0));
    case QMetaType::QTime:
        return QDateTime(dateOfDayNumber(0), v.toTime());
    default: {
        const QDateTime dt = QDateTime::fromString(v.toString().trimmed(), Qt::ISODate);
        if (!dt.isValid())
            throw EDictDBError(QStringLiteral("'%1' is not a valid date and time").arg(v.toString()));
        return dt;
    }
    }
}

QDate TDictField::AsDate() const
{
    return AsDateTime().date();
}
QTime TDictField::AsTime() const
{
    return AsDateTime().time();
}

void TDictField::SetValue(const QVariant &value)
{
    if (m_table->m_state != dsEdit && m_table->m_state != dsInsert)
        throw EDictDBError(QStringLiteral("Dataset not in edit or insert mode"));
    const TDictFieldDef &d = def();
    const FieldBytes b = encodeFieldValue(d, value);
    if (d.IsBlob()) {
        auto &slot = m_table->m_buffer.Blobs[size_t(m_fieldNo)];
        slot.Value = b;
        slot.Loaded = true;
        slot.Modified = true;
        return;
    }
    std::memcpy(m_table->m_buffer.Plain.data() + d.Offset, b.constData(), size_t(d.Size));
}

// ---- TDictTable ----

TDictTable::TDictTable() = default;

TDictTable::~TDictTable()
{
    try {
        Close();
    } catch (...) { }
}

void TDictTable::checkClosed()
{
    if (Active())
        throw EDictDBError(QStringLiteral("Cannot perform this operation on an open dataset"));
}

void TDictTable::checkActive() const
{
    if (!Active())
        throw EDictDBError(QStringLiteral("Cannot perform this operation on a closed dataset"));
}

void TDictTable::SetDatabaseName(const QString &name)
{
    checkClosed();
    m_databaseName = name;
}

void TDictTable::SetTableName(const QString &name)
{
    checkClosed();
    m_tableName = name;
}

void TDictTable::SetSessionName(const QString &name)
{
    checkClosed();
    m_sessionName = name;
}

void TDictTable::SetMediumType(TDictDBMediumType medium)
{
    checkClosed();
    m_medium = medium;
}

void TDictTable::SetFilter(const QString &expression)
{
    m_filter = expression;
    SetFiltered(m_filtered);
}

void TDictTable::SetFiltered(bool filtered)
{
    m_filtered = filtered;
    if (Active()) {
        buildView();
        m_cursor = -1;
        m_eof = m_view.empty();
        m_bof = true;
        clearBuffer(m_buffer);
    }
}

void TDictTable::readEntry(const TDictOrderEntry &entry, RecordBuffer &buffer)
{
    buffer.Plain = m_io->ReadRecord(entry.DataOffset);
    const auto &defs = m_io->FieldDefs();
    buffer.Blobs.assign(size_t(defs.size()), BlobSlot {});
    for (int f = 0; f < defs.size(); ++f)
        if (defs[f].IsBlob())
            buffer.Blobs[size_t(f)].DescriptorPos = qint64(entry.DataOffset) + defs[f].Offset;
}

void TDictTable::buildView()
{
    m_view = m_io->Order(m_order);
    const bool byExpression = m_filtered && !m_filter.trimmed().isEmpty();
    if (!m_filtered || (!byExpression && !OnFilterRecord))
        return;
    std::optional<TDictFilterExpr> expr;
    if (byExpression)
        expr.emplace(m_filter, [this](const QString &name) { return m_io->FieldIndex(name); });
    const auto &defs = m_io->FieldDefs();
    RecordBuffer saved = std::move(m_buffer);
    TDictOrder kept;
    try {
        for (const TDictOrderEntry &entry : m_view) {
            // the candidate becomes the current record so the event's field reads see it
            readEntry(entry, m_buffer);
            bool keep = true;
            if (expr)
                keep = expr->Matches([&](int f) {
                    const TDictFieldDef &def = defs[f];
                    return decodeFieldValue(def,
                                            def.IsBlob() ? blobValue(m_buffer, f)
                                                         : m_buffer.Plain.mid(def.Offset, def.Size));
                });
            if (keep && OnFilterRecord)
                keep = OnFilterRecord(this);
            if (keep)
                kept.push_back(entry);
        }
    } catch (...) {
        m_buffer = std::move(saved);
        throw;
    }
    m_buffer = std::move(saved);
    m_view = std::move(kept);
}

void TDictTable::SetIndexName(const QString &name)
{
    m_indexName = name;
    if (Active()) {
        chooseOrder();
        m_cursor = -1;
        m_eof = m_view.empty();
        m_bof = true;
        clearBuffer(m_buffer);
    }
}

void TDictTable::Open()
{
    if (Active())
        return;
    TDictSession *session = TDictSessionList::FindSession(m_sessionName);
    if (!session)
        throw EDictDBError(QStringLiteral("Invalid session name %1").arg(m_sessionName));

    TDictDatabase *db = nullptr;
    bool acquired = false;
    try {
        {
            std::lock_guard guard(TDictSessionList::Lock());
            db = session->FindDatabase(m_databaseName);
            if (!db) {
                db = new TDictDatabase(session);
                db->DatabaseName = m_databaseName;
                db->MediumType = m_medium;
                db->KeepConnection = session->KeepConnections;
                db->m_temporary = true;
            }
        }
        if (!db->Connected())
            db->connect();
        db->acquire(this);
        acquired = true;
        m_database = db;
        db->checkAccess();
        TDictTableIO *io = db->FindTableIO(m_tableName);
        if (!io)
            throw EDictDBError(QStringLiteral("Table '%1' not found").arg(m_tableName));
        io->Open();
        m_io = io;
    } catch (...) {
        m_io = nullptr;
        m_database = nullptr;
        if (acquired)
            db->release(this);
        else if (db && db->Temporary() && db->UseCount() == 0)
            delete db;
        throw;
    }
    for (int i = 0; i < m_io->FieldDefs().size(); ++i)
        m_fields.push_back(std::make_unique<TDictField>(this, i));
    m_state = dsBrowse;
    try {
        chooseOrder(); // a bad filter fails here
    } catch (...) {
        Close();
        throw;
    }
    m_cursor = -1;
    m_eof = m_view.empty();
    m_bof = true;
    clearBuffer(m_buffer);
}

void TDictTable::Close()
{
    if (!Active())
        return;
    m_state = dsInactive;
    m_fields.clear();
    m_view.clear(); // keeps its capacity: the table object is reopened for every lookup
    m_buffer = {};
    m_cursor = -1;
    m_eof = m_bof = true;
    TDictTableIO *io = m_io;
    TDictDatabase *db = m_database;
    m_io = nullptr;
    m_database = nullptr;
    io->Close();
    db->release(this);
}

void TDictTable::chooseOrder()
{
    m_order = 0;
    const auto &indexes = m_io->IndexDefs();
    if (!m_indexName.isEmpty())
        for (int i = 0; i < indexes.size(); ++i)
            if (indexes[i].Name.compare(m_indexName, Qt::CaseInsensitive) == 0) {
                m_order = i + 1;
                break;
            }
    if (m_order == 0)
        for (int i = 0; i < indexes.size(); ++i)
            if (indexes[i].Options & tiPrimary) {
                m_order = i + 1;
                break;
            }
    buildView();
}

void TDictTable::clearBuffer(RecordBuffer &buffer)
{
    buffer.Plain = QByteArray(m_io ? m_io->RecordSize() : 0, 0);
    buffer.Blobs.assign(m_io ? size_t(m_io->FieldDefs().size()) : 0, BlobSlot {});
    for (auto &slot : buffer.Blobs)
        slot.Loaded = true; // an empty record has empty blobs
}

void TDictTable::readInto(int pos, RecordBuffer &buffer)
{
    readEntry(m_view.at(size_t(pos)), buffer);
}

void TDictTable::readCurrent()
{
    readInto(m_cursor, m_buffer);
}

QByteArray TDictTable::blobValue(const RecordBuffer &buffer, int field) const
{
    auto &slot = const_cast<BlobSlot &>(buffer.Blobs.at(size_t(field)));
    if (!slot.Loaded) {
        // loaded on first use only
        slot.Value = slot.DescriptorPos >= 0 ? m_io->ReadBlob(slot.DescriptorPos, field) : QByteArray();
        slot.Loaded = true;
    }
    return slot.Value;
}

TDictField *TDictTable::FindField(const QString &name)
{
    if (!m_io)
        return nullptr;
    const int i = m_io->FieldIndex(name);
    return i < 0 ? nullptr : m_fields[size_t(i)].get();
}

TDictField *TDictTable::FieldByName(const QString &name)
{
    TDictField *f = FindField(name);
    if (!f)
        throw EDictDBError(QStringLiteral("Field '%1' not found").arg(name));
    return f;
}

QList<int> TDictTable::resolveFields(const QString &names)
{
    QList<int> fields;
    for (const QString &part : names.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        fields << FieldByName(part.trimmed())->FieldNo();
    if (fields.isEmpty())
        throw EDictDBError(QStringLiteral("Field '%1' not found").arg(names));
    return fields;
}

int TDictTable::findPosition(const QString &keyFields, const QVariant &keyValues, unsigned options)
{
    checkActive();
    const QList<int> fields = resolveFields(keyFields);
    QVariantList values;
    if (fields.size() == 1
        && !(keyValues.typeId() == QMetaType::QVariantList && keyValues.toList().size() == 1))
        values << keyValues;
    else
        values = keyValues.toList();
    if (values.size() != fields.size())
        throw EDictDBError(QStringLiteral("General error"));
    const auto &defs = m_io->FieldDefs();
    std::vector<FieldBytes> key;
    bool anyText = false;
    for (int j = 0; j < fields.size(); ++j) {
        const TDictFieldDef &def = defs[fields[j]];
        key.push_back(encodeFieldValue(def, values[j]));
        anyText = anyText || isStringType(def.FieldType);
    }
    const bool ci = options & loCaseInsensitive, partial = options & loPartialKey;

    const auto &indexes = m_io->IndexDefs();
    for (int i = 0; i < indexes.size(); ++i) {
        if (indexes[i].Fields != fields)
            continue;
        if (anyText && bool(indexes[i].Options & tiCaseInsensitive) != ci)
            continue;
        const int p = m_io->FindKey(i, key, partial);
        if (p < 0)
            return -1;
        const int32_t rec = m_io->Order(i + 1)[size_t(p)].RecordNo;
        for (size_t v = 0; v < m_view.size(); ++v)
            if (m_view[v].RecordNo == rec)
                return int(v);
        return -1;
    }
    // no fitting index: scan the view, reading only the key fields
    for (size_t v = 0; v < m_view.size(); ++v) {
        bool equal = true;
        for (int j = 0; j < fields.size() && equal; ++j)
            equal = compareFieldBytes(defs[fields[j]], key[size_t(j)],
                                      m_io->ReadField(m_view[v].RecordNo, fields[j]), ci, partial)
                == 0;
        if (equal)
            return int(v);
    }
    return -1;
}

bool TDictTable::Locate(const QString &keyFields, const QVariant &keyValues, unsigned options)
{
    const int pos = findPosition(keyFields, keyValues, options);
    if (pos < 0)
        return false;
    if (m_state == dsEdit || m_state == dsInsert)
        Cancel();
    m_cursor = pos;
    readCurrent();
    m_eof = m_bof = false;
    return true;
}

QVariant TDictTable::Lookup(const QString &keyFields, const QVariant &keyValues, const QString &resultFields)
{
    const int pos = findPosition(keyFields, keyValues, 0);
    if (pos < 0)
        return {};
    const QList<int> results = resolveFields(resultFields);
    RecordBuffer record;
    readInto(pos, record);
    const auto &defs = m_io->FieldDefs();
    QVariantList values;
    for (int f : results) {
        const TDictFieldDef &def = defs[f];
        values << decodeFieldValue(
            def, def.IsBlob() ? blobValue(record, f) : record.Plain.mid(def.Offset, def.Size));
    }
    return values.size() == 1 ? values.first() : QVariant(values);
}

void TDictTable::First()
{
    checkActive();
    if (m_view.empty()) {
        m_eof = m_bof = true;
        return;
    }
    m_cursor = 0;
    readCurrent();
    m_bof = true;
    m_eof = false;
}

void TDictTable::Next()
{
    checkActive();
    const int n = int(m_view.size());
    if (m_cursor < n - 1) {
        ++m_cursor;
        readCurrent();
        m_bof = false;
        m_eof = false;
    } else {
        m_eof = true;
    }
}

void TDictTable::Prior()
{
    checkActive();
    if (m_view.empty()) {
        m_eof = m_bof = true;
        return;
    }
    if (m_cursor > 0) {
        --m_cursor;
        readCurrent();
        m_eof = false;
        m_bof = false;
    } else {
        m_bof = true;
    }
}

void TDictTable::Last()
{
    checkActive();
    if (m_view.empty()) {
        m_eof = m_bof = true;
        return;
    }
    m_cursor = int(m_view.size()) - 1;
    readCurrent();
    m_eof = true;
    m_bof = false;
}

int TDictTable::GetBookmark() const
{
    if (m_cursor < 0 || m_cursor >= int(m_view.size()))
        return -1;
    return m_view[size_t(m_cursor)].RecordNo;
}

void TDictTable::GotoBookmark(int bookmark)
{
    checkActive();
    for (size_t v = 0; v < m_view.size(); ++v)
        if (m_view[v].RecordNo == bookmark) {
            m_cursor = int(v);
            readCurrent();
            m_eof = m_bof = false;
            return;
        }
    throw EDictDBError(QStringLiteral("Bookmark not found"));
}

void TDictTable::checkWritable()
{
    checkActive();
    if (ReadOnly || m_io->File().ReadOnly())
        throw EDictDBError(QStringLiteral("Cannot modify a read-only dataset"));
}

void TDictTable::Append()
{
    checkWritable();
    m_state = dsInsert;
    clearBuffer(m_buffer);
}

void TDictTable::Edit()
{
    checkWritable();
    if (m_cursor < 0 || m_cursor >= int(m_view.size()))
        throw EDictDBError(QStringLiteral("No records"));
    m_state = dsEdit;
}

void TDictTable::rebuildView(int32_t recordNo)
{
    buildView();
    m_cursor = -1;
    for (size_t v = 0; v < m_view.size(); ++v)
        if (m_view[v].RecordNo == recordNo)
            m_cursor = int(v);
    if (m_cursor >= 0) {
        readCurrent();
        m_eof = m_bof = false;
    } else {
        clearBuffer(m_buffer);
        m_eof = m_view.empty();
    }
}

void TDictTable::Post()
{
    checkActive();
    if (m_state != dsEdit && m_state != dsInsert)
        return;
    TDictRecordImage image;
    image.Plain = m_buffer.Plain;
    image.Blobs.resize(m_buffer.Blobs.size());
    const auto &defs = m_io->FieldDefs();
    for (int f = 0; f < defs.size(); ++f) {
        if (!defs[f].IsBlob())
            continue;
        const BlobSlot &slot = m_buffer.Blobs[size_t(f)];
        if (m_state == dsInsert || slot.Modified)
            image.Blobs[size_t(f)] = slot.Value;
    }
    int32_t rec;
    if (m_state == dsInsert) {
        rec = m_io->AppendRecord(image);
    } else {
        rec = GetBookmark();
        m_io->UpdateRecord(rec, image);
    }
    m_state = dsBrowse;
    rebuildView(rec);
}

void TDictTable::Cancel()
{
    if (m_state != dsEdit && m_state != dsInsert)
        return;
    m_state = dsBrowse;
    if (m_cursor >= 0 && m_cursor < int(m_view.size()))
        readCurrent();
    else
        clearBuffer(m_buffer);
}

void TDictTable::Delete()
{
    checkWritable();
    if (m_cursor < 0 || m_cursor >= int(m_view.size()))
        throw EDictDBError(QStringLiteral("No records"));
    Cancel();
    const int old = m_cursor;
    m_io->DeleteRecord(m_view[size_t(m_cursor)].RecordNo);
    buildView();
    if (m_view.empty()) {
        m_cursor = -1;
        m_eof = m_bof = true;
        clearBuffer(m_buffer);
        return;
    }
    m_cursor = std::min(old, int(m_view.size()) - 1);
    readCurrent();
}

void TDictTable::AppendRecord(const QVariantList &values)
{
    Append();
    try {
        for (int i = 0; i < values.size() && i < FieldCount(); ++i)
            if (!values[i].isNull())
                Field(i)->SetValue(values[i]);
        Post();
    } catch (...) {
        Cancel();
        throw;
    }
}
