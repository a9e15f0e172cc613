#include "db/DictDataProcess.h"

#include "db/DictDBCommon.h"

#include <cmath>
#include <vector>
#include <zlib.h>

namespace {

using Factory = std::unique_ptr<TDataProcessAlgo> (*)();

struct Registered
{
    const char *name;
    Factory make;
};

const std::vector<Registered> &compressionRegistry()
{
    static const std::vector<Registered> list = {
        {"ZLIB", [] { return std::unique_ptr<TDataProcessAlgo>(new TCompAlgo_Zlib); }},
    };
    return list;
}

const std::vector<Registered> &encryptionRegistry()
{
    static const std::vector<Registered> list = {
        {"Gost", [] { return std::unique_ptr<TDataProcessAlgo>(new TEncAlgo_Gost); }},
        {"Twofish", [] { return std::unique_ptr<TDataProcessAlgo>(new TEncAlgo_Twofish); }},
        {"Blowfish", [] { return std::unique_ptr<TDataProcessAlgo>(new TEncAlgo_Blowfish); }},
    };
    return list;
}

const Registered *findIn(const std::vector<Registered> &list, const QString &name)
{
    for (const auto &r : list)
        if (name.compare(QLatin1String(r.name), Qt::CaseInsensitive) == 0)
            return &r;
    return nullptr;
}

int percent(qsizetype done, qsizetype total)
{
    return total ? int(std::lround(double(done) * 100.0 / double(total))) : 100;
}

} // namespace

namespace dictdb {
QStringList compressionAlgorithmNames()
{
    QStringList names;
    for (const auto &r : compressionRegistry())
        names << QLatin1String(r.name);
    return names;
}
QStringList encryptionAlgorithmNames()
{
    QStringList names;
    for (const auto &r : encryptionRegistry())
        names << QLatin1String(r.name);
    return names;
}
} // namespace dictdb

// ---- ZLIB ----

QByteArray TCompAlgo_Zlib::Encode(const QByteArray &data)
{
    if (data.isEmpty())
        return {};
    uLongf bound = compressBound(uLong(data.size()));
    QByteArray out(qsizetype(4 + bound), Qt::Uninitialized);
    const int rc = compress2(reinterpret_cast<Bytef *>(out.data() + 4), &bound,
                             reinterpret_cast<const Bytef *>(data.constData()), uLong(data.size()),
                             m_level < 0 ? Z_DEFAULT_COMPRESSION : m_level);
    if (rc != Z_OK || qsizetype(bound) >= data.size()) {
        // not smaller: keep the bytes as they are, marked by a negative length
        QByteArray raw(4, Qt::Uninitialized);
        dictdb::putI32(raw.data(), -int32_t(data.size()));
        raw.append(data);
        if (OnEncodeProgress)
            OnEncodeProgress(100);
        return raw;
    }
    out.resize(qsizetype(4 + bound));
    dictdb::putI32(out.data(), int32_t(data.size()));
    if (OnEncodeProgress)
        OnEncodeProgress(100);
    return out;
}

QByteArray TCompAlgo_Zlib::Decode(const QByteArray &data)
{
    if (data.isEmpty())
        return {};
    if (data.size() < 4)
        dictdb::damaged("compressed value shorter than its length prefix");
    const int32_t n = dictdb::getI32(data.constData());
    if (n < 0) {
        // the declared length must agree with what is there
        if (qint64(data.size()) - 4 != -qint64(n))
            dictdb::damaged("stored value length does not match");
        return data.mid(4);
    }
    // zlib cannot expand more than about 1032:1, so a larger declared length is a lie;
    // and values beyond kMaxBlobValue are refused rather than inflated into memory.
    if (qint64(n) > (qint64(data.size()) - 4) * 1032 + 64 || qint64(n) > dictdb::kMaxBlobValue)
        dictdb::damaged("compressed value declares an impossible length");
    // Never trust the declared length for allocation: grow as output actually appears.
    z_stream zs {};
    if (inflateInit(&zs) != Z_OK)
        throw EDictDBError(QStringLiteral("General error"));
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData() + 4));
    zs.avail_in = uInt(data.size() - 4);
    QByteArray out;
    out.reserve(std::min<qsizetype>(n, 1 << 20));
    char chunk[16384];
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        zs.next_out = reinterpret_cast<Bytef *>(chunk);
        zs.avail_out = sizeof chunk;
        rc = inflate(&zs, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) {
            inflateEnd(&zs);
            dictdb::damaged("compressed value cannot be inflated");
        }
        const qsizetype got = qsizetype(sizeof chunk - zs.avail_out);
        if (out.size() + got > n) {
            inflateEnd(&zs);
            dictdb::damaged("compressed value inflates beyond its declared length");
        }
        out.append(chunk, got);
        if (rc == Z_OK && got == 0 && zs.avail_in == 0) {
            inflateEnd(&zs);
            dictdb::damaged("compressed value is truncated");
        }
        if (OnDecodeProgress)
            OnDecodeProgress(percent(out.size(), n));
    }
    inflateEnd(&zs);
    if (out.size() != n)
        dictdb::damaged("compressed value is shorter than its declared length");
    return out;
}

// ---- ciphers ----

QByteArray TEncAlgo_Base::stream(const QByteArray &data, bool encrypt)
{
    // pieces of 4096 bytes carry the feedback register along: same bytes as one pass
    QByteArray out(data.size(), Qt::Uninitialized);
    const auto *in = reinterpret_cast<const uint8_t *>(data.constData());
    auto *o = reinterpret_cast<uint8_t *>(out.data());
    for (qsizetype done = 0; done < data.size();) {
        const qsizetype n = std::min<qsizetype>(dictdb::kStreamPiece, data.size() - done);
        // a piece that ends mid-block would take the tail rule; only the last piece may
        if (encrypt)
            m_cipher->Encrypt(in + done, o + done, size_t(n));
        else
            m_cipher->Decrypt(in + done, o + done, size_t(n));
        done += n;
        auto &ev = encrypt ? OnEncodeProgress : OnDecodeProgress;
        if (ev)
            ev(percent(done, data.size()));
    }
    return out;
}

QByteArray TEncAlgo_Base::Encode(const QByteArray &data)
{
    return stream(data, true);
}
QByteArray TEncAlgo_Base::Decode(const QByteArray &data)
{
    return stream(data, false);
}

// ---- managers ----

bool TDataProcessMgr::FindAlgorithm(const QString &name) const
{
    return findIn(isCompression() ? compressionRegistry() : encryptionRegistry(), name) != nullptr;
}

void TDataProcessMgr::SetAlgorithm(const QString &name)
{
    const Registered *r = findIn(isCompression() ? compressionRegistry() : encryptionRegistry(), name);
    if (!r)
        throw EDictDBError(isCompression()
                               ? QStringLiteral("Compression algorithm module '%1' not found").arg(name)
                               : QStringLiteral("Encryption algorithm module '%1' not found").arg(name));
    if (!m_algo || m_name != QLatin1String(r->name)) {
        m_algo = r->make();
        m_name = QLatin1String(r->name);
    }
}

TDataProcessAlgo &TDataProcessMgr::algo()
{
    if (!m_algo)
        throw EDictDBError(QStringLiteral("General error"));
    return *m_algo;
}

QByteArray TDataProcessMgr::EncodeStream(const QByteArray &data)
{
    return algo().Encode(data);
}
QByteArray TDataProcessMgr::DecodeStream(const QByteArray &data)
{
    return algo().Decode(data);
}

TEncryptAlgo &TEncryptMgr::enc()
{
    return static_cast<TEncryptAlgo &>(algo());
}

void TEncryptMgr::SetMode(int mode)
{
    enc().SetLevelOrMode(mode);
}

void TEncryptMgr::SetPassword(const QString &password)
{
    enc().SetPassword(password);
    m_keySet = true;
}

void TEncryptMgr::EncryptBuffer(const uint8_t *in, uint8_t *out, size_t len)
{
    auto &e = enc();
    e.ResetFeedback();
    try {
        e.EncryptBuffer(in, out, len);
    } catch (...) {
        e.ResetFeedback();
        throw;
    }
    e.ResetFeedback();
}

void TEncryptMgr::DecryptBuffer(const uint8_t *in, uint8_t *out, size_t len)
{
    auto &e = enc();
    e.ResetFeedback();
    try {
        e.DecryptBuffer(in, out, len);
    } catch (...) {
        e.ResetFeedback();
        throw;
    }
    e.ResetFeedback();
}

QByteArray TEncryptMgr::EncodeStream(const QByteArray &data)
{
    auto &e = enc();
    e.ResetFeedback();
    QByteArray out = e.Encode(data);
    e.ResetFeedback();
    return out;
}

QByteArray TEncryptMgr::DecodeStream(const QByteArray &data)
{
    auto &e = enc();
    e.ResetFeedback();
    QByteArray out = e.Decode(data);
    e.ResetFeedback();
    return out;
}
