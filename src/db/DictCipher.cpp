#include "db/DictCipher.h"

#include "db/DictDBCommon.h"

#include <mutex>
#include <zlib.h>

namespace dictdb {

namespace {

inline uint32_t rol(uint32_t x, int n)
{
    return (x << n) | (x >> (32 - n));
}
inline uint32_t ror(uint32_t x, int n)
{
    return (x >> n) | (x << (32 - n));
}
inline uint32_t getBE(const uint8_t *p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline void putBE(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}
inline uint32_t getLE(const uint8_t *p)
{
    return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}
inline void putLE(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

} // namespace

QByteArray sha0(const QByteArray &data)
{
    uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    QByteArray msg = data;
    const uint64_t bits = uint64_t(data.size()) * 8;
    msg.append(char(0x80));
    while (msg.size() % 64 != 56)
        msg.append(char(0));
    for (int i = 7; i >= 0; --i)
        msg.append(char((bits >> (8 * i)) & 0xFF));
    const auto *p = reinterpret_cast<const uint8_t *>(msg.constData());
    uint32_t w[80];
    for (qsizetype off = 0; off < msg.size(); off += 64) {
        for (int t = 0; t < 16; ++t)
            w[t] = getBE(p + off + 4 * t);
        for (int t = 16; t < 80; ++t)
            w[t] = w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16]; // no rotation: the original SHA
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        for (int t = 0; t < 80; ++t) {
            uint32_t f, k;
            if (t < 20) {
                f = (b & c) | (~b & d);
                k = 0x5A827999;
            } else if (t < 40) {
                f = b ^ c ^ d;
                k = 0x6ED9EBA1;
            } else if (t < 60) {
                f = (b & c) | (b & d) | (c & d);
                k = 0x8F1BBCDC;
            } else {
                f = b ^ c ^ d;
                k = 0xCA62C1D6;
            }
            const uint32_t tmp = rol(a, 5) + f + e + k + w[t];
            e = d;
            d = c;
            c = rol(b, 30);
            b = a;
            a = tmp;
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
    }
    QByteArray out(20, Qt::Uninitialized);
    for (int i = 0; i < 5; ++i)
        putBE(reinterpret_cast<uint8_t *>(out.data()) + 4 * i, h[i]);
    return out;
}

QString digestBase64(const QByteArray &data)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    QString out;
    for (qsizetype i = 0; i < data.size(); i += 3) {
        uint32_t group = 0;
        for (int j = 0; j < 3; ++j)
            group = (group << 8) | (i + j < data.size() ? uint8_t(data[i + j]) : 0);
        int remaining = 24;
        while (remaining > 0 && (group & ((1u << remaining) - 1)) != 0) {
            remaining -= 6;
            out.append(QLatin1Char(alphabet[(group >> remaining) & 0x3F]));
        }
    }
    if (data.size() % 3 == 1)
        out.append(QLatin1String("=="));
    else if (data.size() % 3 == 2)
        out.append(QLatin1Char('='));
    return out;
}

QByteArray passwordBytes(const QString &password)
{
    // Only the first N bytes of the N-character UTF-16LE form count; stored files rely on it.
    QByteArray utf16(password.size() * 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < password.size(); ++i) {
        const char16_t u = password.at(i).unicode();
        utf16[2 * i] = char(u & 0xFF);
        utf16[2 * i + 1] = char(u >> 8);
    }
    return utf16.left(password.size());
}

QString passwordDigestText(const QString &password)
{
    return digestBase64(sha0(passwordBytes(password)));
}

uint32_t crc32Of(const QByteArray &data)
{
    return uint32_t(::crc32(0L, reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size())));
}

// Blowfish's initial tables are the fraction words of pi; computed once with Machin's formula.
namespace {

using Big = std::vector<uint32_t>;

void bigDiv(Big &a, uint32_t d, size_t from)
{
    uint64_t rem = 0;
    for (size_t i = from; i < a.size(); ++i) {
        const uint64_t cur = (rem << 32) | a[i];
        a[i] = uint32_t(cur / d);
        rem = cur % d;
    }
}
void bigAdd(Big &sum, const Big &t, bool subtract)
{
    int64_t carry = 0;
    for (size_t i = sum.size(); i-- > 0;) {
        if (!subtract) {
            const uint64_t v = uint64_t(sum[i]) + t[i] + uint64_t(carry);
            sum[i] = uint32_t(v);
            carry = int64_t(v >> 32);
        } else {
            const int64_t v = int64_t(sum[i]) - int64_t(t[i]) - carry;
            sum[i] = uint32_t(v);
            carry = v < 0 ? 1 : 0;
        }
    }
}
void bigMul(Big &a, uint32_t m)
{
    uint64_t carry = 0;
    for (size_t i = a.size(); i-- > 0;) {
        const uint64_t v = uint64_t(a[i]) * m + carry;
        a[i] = uint32_t(v);
        carry = v >> 32;
    }
}
Big arctanInv(uint32_t x, size_t words)
{
    Big power(words, 0), term;
    power[0] = 1;
    bigDiv(power, x, 0);
    Big sum = power;
    size_t lead = 0;
    for (uint32_t k = 1;; ++k) {
        while (lead < words && power[lead] == 0)
            ++lead;
        if (lead >= words)
            break;
        bigDiv(power, x * x, lead);
        term = power;
        bigDiv(term, 2 * k + 1, lead);
        bigAdd(sum, term, k % 2 == 1);
    }
    return sum;
}

const std::vector<uint32_t> &piWords()
{
    static std::vector<uint32_t> words;
    static std::once_flag once;
    std::call_once(once, [] {
        constexpr size_t count = 18 + 4 * 256;
        Big a = arctanInv(5, count + 5);
        Big b = arctanInv(239, count + 5);
        bigMul(a, 16);
        bigMul(b, 4);
        bigAdd(a, b, true);
        words.assign(a.begin() + 1, a.begin() + 1 + count);
    });
    return words;
}

} // namespace

} // namespace dictdb

using namespace dictdb;

// ---- TEncrypt: key set-up and modes ----

void TEncrypt::InitKey(const QByteArray &key)
{
    const QByteArray k = key.left(MaxKeySize());
    KeySchedule(reinterpret_cast<const uint8_t *>(k.constData()), int(k.size()));
    const int bs = BlockSize();
    std::vector<uint8_t> ones(size_t(bs), 0xFF);
    m_iv.assign(size_t(bs), 0);
    EncryptBlock(ones.data(), m_iv.data());
    m_fb = m_iv;
    m_initialized = true;
}

void TEncrypt::InitFromPassword(const QString &password)
{
    InitKey(sha0(passwordBytes(password)));
}

void TEncrypt::checkInit() const
{
    if (!m_initialized)
        throw EEncryptException(QStringLiteral("%1 is not initialized call Init() or InitKey() before.")
                                    .arg(QLatin1String(ClassName())));
}

void TEncrypt::Encrypt(const uint8_t *in, uint8_t *out, size_t len)
{
    process(in, out, len, true);
}
void TEncrypt::Decrypt(const uint8_t *in, uint8_t *out, size_t len)
{
    process(in, out, len, false);
}

void TEncrypt::process(const uint8_t *in, uint8_t *out, size_t len, bool encrypt)
{
    checkInit();
    const size_t bs = size_t(BlockSize());
    uint8_t t[16], x[16];
    uint8_t *fb = m_fb.data();
    if (m_mode == 2 || m_mode == 3) {
        for (size_t i = 0; i < len; ++i) {
            EncryptBlock(fb, t);
            const uint8_t c = in[i];
            const uint8_t y = c ^ t[0];
            out[i] = y;
            std::memmove(fb, fb + 1, bs - 1);
            fb[bs - 1] = m_mode == 3 ? t[0] : (encrypt ? y : c);
        }
        return;
    }
    size_t pos = 0;
    for (; pos + bs <= len; pos += bs) {
        const uint8_t *src = in + pos;
        uint8_t *dst = out + pos;
        if (m_mode == 4) {
            if (encrypt)
                EncryptBlock(src, dst);
            else
                DecryptBlock(src, dst);
            continue;
        }
        if (encrypt) {
            for (size_t j = 0; j < bs; ++j)
                x[j] = src[j] ^ fb[j];
            EncryptBlock(x, dst);
            for (size_t j = 0; j < bs; ++j)
                fb[j] = m_mode == 0 ? uint8_t(dst[j] ^ fb[j]) : dst[j];
        } else {
            std::memcpy(x, src, bs); // src and dst may be the same buffer
            DecryptBlock(x, t);
            for (size_t j = 0; j < bs; ++j) {
                dst[j] = t[j] ^ fb[j];
                fb[j] = m_mode == 0 ? uint8_t(x[j] ^ fb[j]) : x[j];
            }
        }
    }
    const size_t rest = len - pos;
    if (rest == 0)
        return;
    if (m_mode == 4) {
        // the last partial block stays plain
        if (out != in)
            std::memcpy(out + pos, in + pos, rest);
        return;
    }
    EncryptBlock(fb, t);
    for (size_t j = 0; j < rest; ++j)
        out[pos + j] = in[pos + j] ^ t[j];
    if (m_mode == 0)
        for (size_t j = 0; j < bs; ++j)
            fb[j] ^= t[j];
}

// ---- Blowfish ----

uint32_t TEnc_Blowfish::f(uint32_t x) const
{
    return ((m_s[0][x >> 24] + m_s[1][(x >> 16) & 0xFF]) ^ m_s[2][(x >> 8) & 0xFF]) + m_s[3][x & 0xFF];
}

void TEnc_Blowfish::encryptWords(uint32_t &l, uint32_t &r) const
{
    for (int i = 0; i < 16; ++i) {
        l ^= m_p[size_t(i)];
        r ^= f(l);
        std::swap(l, r);
    }
    std::swap(l, r);
    r ^= m_p[16];
    l ^= m_p[17];
}

void TEnc_Blowfish::EncryptBlock(const uint8_t *in, uint8_t *out) const
{
    uint32_t l = getBE(in), r = getBE(in + 4);
    encryptWords(l, r);
    putBE(out, l);
    putBE(out + 4, r);
}

void TEnc_Blowfish::DecryptBlock(const uint8_t *in, uint8_t *out) const
{
    uint32_t l = getBE(in), r = getBE(in + 4);
    for (int i = 17; i > 1; --i) {
        l ^= m_p[size_t(i)];
        r ^= f(l);
        std::swap(l, r);
    }
    std::swap(l, r);
    r ^= m_p[1];
    l ^= m_p[0];
    putBE(out, l);
    putBE(out + 4, r);
}

void TEnc_Blowfish::KeySchedule(const uint8_t *key, int len)
{
    const auto &pi = piWords();
    for (size_t i = 0; i < 18; ++i)
        m_p[i] = pi[i];
    for (size_t b = 0; b < 4; ++b)
        for (size_t i = 0; i < 256; ++i)
            m_s[b][i] = pi[18 + b * 256 + i];
    if (len > 0) {
        int k = 0;
        for (size_t i = 0; i < 18; ++i) {
            uint32_t word = 0;
            for (int j = 0; j < 4; ++j) {
                word = (word << 8) | key[k];
                k = (k + 1) % len;
            }
            m_p[i] ^= word;
        }
    }
    uint32_t l = 0, r = 0;
    for (size_t i = 0; i < 18; i += 2) {
        encryptWords(l, r);
        m_p[i] = l;
        m_p[i + 1] = r;
    }
    for (size_t b = 0; b < 4; ++b)
        for (size_t i = 0; i < 256; i += 2) {
            encryptWords(l, r);
            m_s[b][i] = l;
            m_s[b][i + 1] = r;
        }
}

// ---- Twofish ----

namespace {

const uint8_t kQ0t[4][16] = {{8, 1, 7, 13, 6, 15, 3, 2, 0, 11, 5, 9, 14, 12, 10, 4},
                             {14, 12, 11, 8, 1, 2, 3, 5, 15, 4, 10, 6, 7, 0, 9, 13},
                             {11, 10, 5, 14, 6, 13, 9, 0, 12, 8, 15, 3, 2, 4, 7, 1},
                             {13, 7, 15, 4, 1, 2, 6, 14, 9, 11, 3, 0, 8, 5, 12, 10}};
const uint8_t kQ1t[4][16] = {{2, 8, 11, 13, 15, 7, 6, 14, 3, 1, 9, 4, 0, 10, 12, 5},
                             {1, 14, 2, 11, 4, 12, 3, 7, 6, 13, 10, 5, 15, 9, 0, 8},
                             {4, 12, 7, 5, 1, 6, 9, 10, 0, 14, 13, 8, 2, 11, 3, 15},
                             {11, 9, 5, 1, 12, 3, 13, 14, 6, 4, 7, 15, 2, 0, 8, 10}};

struct TwofishTables
{
    uint8_t q[2][256];
    TwofishTables()
    {
        for (int which = 0; which < 2; ++which) {
            const auto &t = which == 0 ? kQ0t : kQ1t;
            for (int x = 0; x < 256; ++x) {
                auto ror4 = [](int v) { return ((v >> 1) | (v << 3)) & 15; };
                int a0 = x >> 4, b0 = x & 15;
                int a1 = a0 ^ b0, b1 = a0 ^ ror4(b0) ^ ((8 * a0) & 15);
                int a2 = t[0][a1], b2 = t[1][b1];
                int a3 = a2 ^ b2, b3 = a2 ^ ror4(b2) ^ ((8 * a2) & 15);
                int a4 = t[2][a3], b4 = t[3][b3];
                q[which][x] = uint8_t(16 * b4 + a4);
            }
        }
    }
};
const TwofishTables &twofishTables()
{
    static const TwofishTables tables;
    return tables;
}

uint8_t gfMul(uint8_t a, uint8_t b, unsigned poly)
{
    unsigned r = 0, x = a;
    for (; b; b >>= 1) {
        if (b & 1)
            r ^= x;
        x <<= 1;
        if (x & 0x100)
            x ^= poly;
    }
    return uint8_t(r);
}

const uint8_t kMds[4][4] = {
    {0x01, 0xEF, 0x5B, 0x5B}, {0x5B, 0xEF, 0xEF, 0x01}, {0xEF, 0x5B, 0x01, 0xEF}, {0xEF, 0x01, 0xEF, 0x5B}};
const uint8_t kRs[4][8] = {{0x01, 0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E},
                           {0xA4, 0x56, 0x82, 0xF3, 0x1E, 0xC6, 0x68, 0xE5},
                           {0x02, 0xA1, 0xFC, 0xC1, 0x47, 0xAE, 0x3D, 0x19},
                           {0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E, 0x03}};

// The byte path of h() for byte position j through k key words (l[0] used last).
uint8_t hByte(int j, uint8_t y, const uint32_t *l, int k)
{
    const auto &q = twofishTables().q;
    auto lb = [&](int i) { return uint8_t(l[i] >> (8 * j)); };
    static const int first4[4] = {1, 0, 0, 1};
    static const int first3[4] = {1, 1, 0, 0};
    static const int mid[4] = {0, 1, 0, 1};
    static const int inner[4] = {0, 0, 1, 1};
    static const int outer[4] = {1, 0, 1, 0};
    if (k == 4)
        y = q[first4[j]][y] ^ lb(3);
    if (k >= 3)
        y = q[first3[j]][y] ^ lb(2);
    y = q[mid[j]][y] ^ lb(1);
    y = q[inner[j]][y] ^ lb(0);
    return q[outer[j]][y];
}

uint32_t mdsColumn(int j, uint8_t y)
{
    uint32_t z = 0;
    for (int i = 0; i < 4; ++i)
        z |= uint32_t(gfMul(kMds[i][j], y, 0x169)) << (8 * i);
    return z;
}

uint32_t hFunc(uint32_t x, const uint32_t *l, int k)
{
    uint32_t z = 0;
    for (int j = 0; j < 4; ++j)
        z ^= mdsColumn(j, hByte(j, uint8_t(x >> (8 * j)), l, k));
    return z;
}

} // namespace

void TEnc_Twofish::KeySchedule(const uint8_t *key, int len)
{
    const int padded = len <= 16 ? 16 : (len <= 24 ? 24 : 32);
    uint8_t m[32] = {};
    std::memcpy(m, key, size_t(std::min(len, 32)));
    const int k = padded / 8;
    uint32_t me[4], mo[4], s[4];
    for (int i = 0; i < k; ++i) {
        me[i] = getLE(m + 8 * i);
        mo[i] = getLE(m + 8 * i + 4);
        uint32_t word = 0;
        for (int r = 0; r < 4; ++r) {
            uint8_t acc = 0;
            for (int c = 0; c < 8; ++c)
                acc ^= gfMul(kRs[r][c], m[8 * i + c], 0x14D);
            word |= uint32_t(acc) << (8 * r);
        }
        s[k - 1 - i] = word; // S is used in reverse order
    }
    constexpr uint32_t rho = 0x01010101;
    for (uint32_t i = 0; i < 20; ++i) {
        const uint32_t a = hFunc(2 * i * rho, me, k);
        const uint32_t b = rol(hFunc((2 * i + 1) * rho, mo, k), 8);
        m_k[2 * i] = a + b;
        m_k[2 * i + 1] = rol(a + 2 * b, 9);
    }
    for (int j = 0; j < 4; ++j)
        for (int x = 0; x < 256; ++x)
            m_sbox[size_t(j)][size_t(x)] = mdsColumn(j, hByte(j, uint8_t(x), s, k));
}

uint32_t TEnc_Twofish::g(uint32_t x) const
{
    return m_sbox[0][x & 0xFF] ^ m_sbox[1][(x >> 8) & 0xFF] ^ m_sbox[2][(x >> 16) & 0xFF]
        ^ m_sbox[3][x >> 24];
}

void TEnc_Twofish::EncryptBlock(const uint8_t *in, uint8_t *out) const
{
    uint32_t r[4];
    for (int i = 0; i < 4; ++i)
        r[i] = getLE(in + 4 * i) ^ m_k[size_t(i)];
    for (int round = 0; round < 16; ++round) {
        const uint32_t t0 = g(r[0]);
        const uint32_t t1 = g(rol(r[1], 8));
        const uint32_t f0 = t0 + t1 + m_k[size_t(2 * round + 8)];
        const uint32_t f1 = t0 + 2 * t1 + m_k[size_t(2 * round + 9)];
        const uint32_t n2 = ror(r[2] ^ f0, 1);
        const uint32_t n3 = rol(r[3], 1) ^ f1;
        r[2] = r[0];
        r[3] = r[1];
        r[0] = n2;
        r[1] = n3;
    }
    for (int i = 0; i < 4; ++i)
        putLE(out + 4 * i, r[(i + 2) % 4] ^ m_k[size_t(i + 4)]);
}

void TEnc_Twofish::DecryptBlock(const uint8_t *in, uint8_t *out) const
{
    uint32_t r[4];
    for (int i = 0; i < 4; ++i)
        r[(i + 2) % 4] = getLE(in + 4 * i) ^ m_k[size_t(i + 4)];
    for (int round = 15; round >= 0; --round) {
        const uint32_t n2 = r[0], n3 = r[1];
        r[0] = r[2];
        r[1] = r[3];
        const uint32_t t0 = g(r[0]);
        const uint32_t t1 = g(rol(r[1], 8));
        const uint32_t f0 = t0 + t1 + m_k[size_t(2 * round + 8)];
        const uint32_t f1 = t0 + 2 * t1 + m_k[size_t(2 * round + 9)];
        r[2] = rol(n2, 1) ^ f0;
        r[3] = ror(n3 ^ f1, 1);
    }
    for (int i = 0; i < 4; ++i)
        putLE(out + 4 * i, r[i] ^ m_k[size_t(i)]);
}

// ---- GOST 28147-89 ----

namespace {
// The test parameter set of the GOST R 34.11-94 hash, S1 (least significant nibble) first.
const uint8_t kGostS[8][16] = {{4, 10, 9, 2, 13, 8, 0, 14, 6, 11, 1, 12, 7, 15, 5, 3},
                               {14, 11, 4, 12, 6, 13, 15, 10, 2, 3, 8, 1, 0, 7, 5, 9},
                               {5, 8, 1, 13, 10, 3, 4, 2, 14, 15, 12, 7, 6, 0, 9, 11},
                               {7, 13, 10, 1, 0, 8, 9, 15, 14, 4, 6, 12, 11, 2, 5, 3},
                               {6, 12, 7, 1, 5, 15, 13, 8, 4, 10, 9, 14, 0, 3, 11, 2},
                               {4, 11, 10, 0, 7, 2, 1, 13, 3, 6, 8, 5, 9, 12, 15, 14},
                               {13, 11, 4, 1, 3, 15, 5, 9, 0, 10, 14, 7, 6, 8, 2, 12},
                               {1, 15, 13, 0, 5, 7, 10, 4, 9, 2, 3, 14, 6, 11, 8, 12}};
} // namespace

uint32_t TEnc_Gost::f(uint32_t x) const
{
    uint32_t y = 0;
    for (int i = 0; i < 8; ++i)
        y |= uint32_t(kGostS[i][(x >> (4 * i)) & 15]) << (4 * i);
    return rol(y, 11);
}

void TEnc_Gost::KeySchedule(const uint8_t *key, int len)
{
    uint8_t k[32] = {};
    std::memcpy(k, key, size_t(std::min(len, 32)));
    for (size_t i = 0; i < 8; ++i)
        m_key[i] = getLE(k + 4 * i);
}

void TEnc_Gost::EncryptBlock(const uint8_t *in, uint8_t *out) const
{
    uint32_t n1 = getLE(in), n2 = getLE(in + 4);
    for (int pass = 0; pass < 4; ++pass) {
        for (int i = 0; i < 8; i += 2) {
            const size_t a = size_t(pass < 3 ? i : 7 - i), b = size_t(pass < 3 ? i + 1 : 6 - i);
            n2 ^= f(n1 + m_key[a]);
            n1 ^= f(n2 + m_key[b]);
        }
    }
    putLE(out, n2);
    putLE(out + 4, n1);
}

void TEnc_Gost::DecryptBlock(const uint8_t *in, uint8_t *out) const
{
    uint32_t n1 = getLE(in), n2 = getLE(in + 4);
    for (int pass = 0; pass < 4; ++pass) {
        for (int i = 0; i < 8; i += 2) {
            const size_t a = size_t(pass == 0 ? i : 7 - i), b = size_t(pass == 0 ? i + 1 : 6 - i);
            n2 ^= f(n1 + m_key[a]);
            n1 ^= f(n2 + m_key[b]);
        }
    }
    putLE(out, n2);
    putLE(out + 4, n1);
}
