#pragma once

#include <QString>
#include <QStringView>
#include <array>
#include <cstddef>
#include <utility>
#include <vector>

// Hash over the UTF-16 code units of a key: for each unit, rotate left by two
// bits (32-bit) and xor the unit in.
quint32 BrimHashKey(QStringView key);

// A string-keyed table that never forgets: adding a key that is already
// present hides the older entry instead of replacing it, so the newest value
// wins and a later language file can only shadow what was there before.
// Keys compare exactly (case matters).
template<typename V> class TBrimHashTable
{
public:
    static constexpr std::size_t BucketCount = 255;

    void Add(const QString &key, V value)
    {
        // Appending and searching from the back is the same as putting the
        // entry at the head of its chain and walking from the head.
        m_buckets[BrimHashKey(key) % BucketCount].push_back(Node {key, std::move(value)});
        ++m_count;
    }

    // The newest value stored under the key, or nullptr. The pointer is valid
    // until the next Add.
    const V *Find(QStringView key) const
    {
        const std::vector<Node> &chain = m_buckets[BrimHashKey(key) % BucketCount];
        for (auto it = chain.rbegin(); it != chain.rend(); ++it)
            if (it->key == key)
                return &it->value;
        return nullptr;
    }

    bool Contains(QStringView key) const { return Find(key) != nullptr; }
    // Number of entries added, shadowed ones included.
    std::size_t Count() const { return m_count; }

private:
    struct Node
    {
        QString key;
        V value;
    };
    std::array<std::vector<Node>, BucketCount> m_buckets;
    std::size_t m_count = 0;
};
