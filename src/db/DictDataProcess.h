#pragma once
// Compression and encryption of stored values: algorithm classes, their registry by
// name and the managers that a database file owns.

#include "db/DictCipher.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

// Progress in percent, reported after each 4096-byte piece of a stream.
using TDictProgressEvent = std::function<void(int percent)>;

class TDataProcessAlgo
{
public:
    virtual ~TDataProcessAlgo() = default;
    virtual QByteArray Encode(const QByteArray &data) = 0;
    virtual QByteArray Decode(const QByteArray &data) = 0;
    virtual void SetLevelOrMode(int value) = 0;
    virtual int LevelOrMode() const = 0;
    TDictProgressEvent OnEncodeProgress;
    TDictProgressEvent OnDecodeProgress;
};

class TCompressAlgo : public TDataProcessAlgo
{
public:
    void SetLevelOrMode(int value) override { m_level = value; }
    int LevelOrMode() const override { return m_level; }

protected:
    int m_level = -1; // zlib's default level
};

// The "ZLIB" stored form: empty, or int32 N + zlib stream, or int32 -N + the raw bytes.
class TCompAlgo_Zlib final : public TCompressAlgo
{
public:
    QByteArray Encode(const QByteArray &data) override;
    QByteArray Decode(const QByteArray &data) override;
};

class TEncryptAlgo : public TDataProcessAlgo
{
public:
    virtual void SetPassword(const QString &password) = 0;
    virtual void ResetFeedback() = 0;
    virtual void EncryptBuffer(const uint8_t *in, uint8_t *out, size_t len) = 0;
    virtual void DecryptBuffer(const uint8_t *in, uint8_t *out, size_t len) = 0;
    virtual const char *CipherClassName() const = 0;
};

class TEncAlgo_Base : public TEncryptAlgo
{
public:
    explicit TEncAlgo_Base(std::unique_ptr<TEncrypt> cipher)
        : m_cipher(std::move(cipher))
    { }
    QByteArray Encode(const QByteArray &data) override;
    QByteArray Decode(const QByteArray &data) override;
    void SetLevelOrMode(int value) override { m_cipher->SetMode(value); }
    int LevelOrMode() const override { return m_cipher->Mode(); }
    void SetPassword(const QString &password) override { m_cipher->InitFromPassword(password); }
    void ResetFeedback() override
    {
        if (m_cipher->Initialized())
            m_cipher->Reset();
    }
    void EncryptBuffer(const uint8_t *in, uint8_t *out, size_t len) override
    {
        m_cipher->Encrypt(in, out, len);
    }
    void DecryptBuffer(const uint8_t *in, uint8_t *out, size_t len) override
    {
        m_cipher->Decrypt(in, out, len);
    }
    const char *CipherClassName() const override { return m_cipher->ClassName(); }
    TEncrypt &Cipher() { return *m_cipher; }

private:
    QByteArray stream(const QByteArray &data, bool encrypt);
    std::unique_ptr<TEncrypt> m_cipher;
};

class TEncAlgo_Gost final : public TEncAlgo_Base
{
public:
    TEncAlgo_Gost()
        : TEncAlgo_Base(std::make_unique<TEnc_Gost>())
    { }
};
class TEncAlgo_Twofish final : public TEncAlgo_Base
{
public:
    TEncAlgo_Twofish()
        : TEncAlgo_Base(std::make_unique<TEnc_Twofish>())
    { }
};
class TEncAlgo_Blowfish final : public TEncAlgo_Base
{
public:
    TEncAlgo_Blowfish()
        : TEncAlgo_Base(std::make_unique<TEnc_Blowfish>())
    { }
};

// Finds, sets and drives the current algorithm of one kind.
class TDataProcessMgr
{
public:
    virtual ~TDataProcessMgr() = default;
    // True when a class is registered under this name (any letter case).
    bool FindAlgorithm(const QString &name) const;
    // Selects the algorithm; an unknown name raises the manager's "not found" error.
    void SetAlgorithm(const QString &name);
    bool HasAlgorithm() const { return m_algo != nullptr; }
    TDataProcessAlgo *Algorithm() const { return m_algo.get(); }
    QString AlgorithmName() const { return m_name; }
    QByteArray EncodeStream(const QByteArray &data);
    QByteArray DecodeStream(const QByteArray &data);

protected:
    virtual bool isCompression() const = 0;
    TDataProcessAlgo &algo();
    std::unique_ptr<TDataProcessAlgo> m_algo;
    QString m_name;
};

class TCompressMgr final : public TDataProcessMgr
{
protected:
    bool isCompression() const override { return true; }
};

class TEncryptMgr final : public TDataProcessMgr
{
public:
    void SetMode(int mode);
    void SetPassword(const QString &password);
    void EncryptBuffer(const uint8_t *in, uint8_t *out, size_t len);
    void DecryptBuffer(const uint8_t *in, uint8_t *out, size_t len);
    QByteArray EncodeStream(const QByteArray &data);
    QByteArray DecodeStream(const QByteArray &data);
    bool KeySet() const { return m_keySet; }

protected:
    bool isCompression() const override { return false; }

private:
    TEncryptAlgo &enc();
    bool m_keySet = false;
};

namespace dictdb {
// The registered names, in registration order.
QStringList compressionAlgorithmNames();
QStringList encryptionAlgorithmNames();
// Checks a stored compressed form without trusting its declared length.
constexpr int kStreamPiece = 4096;
} // namespace dictdb
