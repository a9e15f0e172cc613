#pragma once
// Block ciphers, their modes and the password digest used for stored values.

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <vector>

namespace dictdb {

// The Secure Hash Algorithm as first published (no rotation in the message schedule).
QByteArray sha0(const QByteArray &data);
// The engine's Base64 variant: a group stops once its remaining bits are all zero.
QString digestBase64(const QByteArray &data);
// The bytes a password contributes: the first N bytes of its UTF-16LE form (N = its length).
QByteArray passwordBytes(const QString &password);
// Digest text stored in PasswordHash.
QString passwordDigestText(const QString &password);
// CRC-32 (IEEE 802.3) as used for blob verification.
uint32_t crc32Of(const QByteArray &data);

} // namespace dictdb

// Block-cipher base: key schedule, block operations, the five modes and the IV.
class TEncrypt
{
public:
    virtual ~TEncrypt() = default;
    virtual int BlockSize() const = 0;
    virtual int MaxKeySize() const = 0;
    virtual const char *ClassName() const = 0;
    virtual void EncryptBlock(const uint8_t *in, uint8_t *out) const = 0;
    virtual void DecryptBlock(const uint8_t *in, uint8_t *out) const = 0;

    // Runs the key schedule on raw key bytes and sets IV = E(FF..FF), FB = IV.
    void InitKey(const QByteArray &key);
    // Key set-up from a password: key = its digest cut to the maximum key size.
    void InitFromPassword(const QString &password);
    bool Initialized() const { return m_initialized; }

    void SetMode(int mode) { m_mode = mode; }
    int Mode() const { return m_mode; }
    void Reset() { m_fb = m_iv; }

    // Process len bytes continuing from the current feedback register.
    void Encrypt(const uint8_t *in, uint8_t *out, size_t len);
    void Decrypt(const uint8_t *in, uint8_t *out, size_t len);

protected:
    virtual void KeySchedule(const uint8_t *key, int len) = 0;

private:
    void checkInit() const;
    void process(const uint8_t *in, uint8_t *out, size_t len, bool encrypt);
    int m_mode = 0;
    bool m_initialized = false;
    std::vector<uint8_t> m_iv, m_fb;
};

class TEnc_Blowfish final : public TEncrypt
{
public:
    int BlockSize() const override { return 8; }
    int MaxKeySize() const override { return 56; }
    const char *ClassName() const override { return "TEnc_Blowfish"; }
    void EncryptBlock(const uint8_t *in, uint8_t *out) const override;
    void DecryptBlock(const uint8_t *in, uint8_t *out) const override;

protected:
    void KeySchedule(const uint8_t *key, int len) override;

private:
    void encryptWords(uint32_t &l, uint32_t &r) const;
    uint32_t f(uint32_t x) const;
    std::array<uint32_t, 18> m_p {};
    std::array<std::array<uint32_t, 256>, 4> m_s {};
};

class TEnc_Twofish final : public TEncrypt
{
public:
    int BlockSize() const override { return 16; }
    int MaxKeySize() const override { return 32; }
    const char *ClassName() const override { return "TEnc_Twofish"; }
    void EncryptBlock(const uint8_t *in, uint8_t *out) const override;
    void DecryptBlock(const uint8_t *in, uint8_t *out) const override;

protected:
    // Short keys are padded with zeros to the next of 128, 192 or 256 bits.
    void KeySchedule(const uint8_t *key, int len) override;

private:
    uint32_t g(uint32_t x) const;
    std::array<uint32_t, 40> m_k {};
    std::array<std::array<uint32_t, 256>, 4> m_sbox {};
};

class TEnc_Gost final : public TEncrypt
{
public:
    int BlockSize() const override { return 8; }
    int MaxKeySize() const override { return 32; }
    const char *ClassName() const override { return "TEnc_Gost"; }
    void EncryptBlock(const uint8_t *in, uint8_t *out) const override;
    void DecryptBlock(const uint8_t *in, uint8_t *out) const override;

protected:
    // The key is zero-padded to 32 bytes and read as eight little-endian words.
    void KeySchedule(const uint8_t *key, int len) override;

private:
    uint32_t f(uint32_t x) const;
    std::array<uint32_t, 8> m_key {};
};
