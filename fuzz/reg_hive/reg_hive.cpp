// Any bytes as a hive file. A hive that reads without damage must write text
// that reads back to the same keys and values, and write that text again unchanged.
#include "platform/RegistryHive.h"

#include <cstdint>
#include <cstdlib>

using platform::RegHive;

namespace {

void walk(const RegHive &hive, const QString &path, int depth)
{
    if (depth > 64)
        return;
    if (const auto *values = hive.values(path))
        for (const auto &v : *values) {
            v.stringValue();
            v.dwordValue();
            v.dataText();
        }
    // The scan's one-call listing agrees with the look-up of each key by its path.
    const QStringList names = hive.subKeyNames(path);
    const QList<RegHive::SubKey> subKeys = hive.subKeys(path);
    if (subKeys.size() != names.size())
        std::abort();
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QString child = path.isEmpty() ? names[i] : path + u'\\' + names[i];
        const auto *values = hive.values(child);
        if (subKeys[i].name != names[i] || subKeys[i].values.size() != (values ? values->size() : 0))
            std::abort();
        walk(hive, child, depth + 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    auto hive = RegHive::parse(bytes);
    walk(*hive, QString(), 0);
    if (hive->isDamaged())
        return 0;
    // Edits on a readable hive keep it readable.
    platform::RegValue v;
    v.name = QStringLiteral("fuzz\"\\\x01");
    v.type = platform::REG_EXPAND_SZ;
    v.isText = true;
    v.text = QString::fromUtf8(bytes.left(64));
    hive->setValue(QStringLiteral("Fuzz\\Key]"), v);
    const QStringList top = hive->subKeyNames(QString());
    if (!top.isEmpty())
        hive->deleteTree(top.first());
    const QByteArray once = hive->serialize();
    auto again = RegHive::parse(once);
    if (again->isDamaged() || again->serialize() != once)
        std::abort();
    return 0;
}
