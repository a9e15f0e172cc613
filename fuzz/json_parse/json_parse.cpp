// Any text through the lenient JSON parser; whatever parses must write text
// that reads back and writes the same again.
#include "online/JSONValues.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    QString written;
    try {
        JSONTokener x(text);
        const JSONValue value = x.NextValue();
        written = TJSONObject::ValueToString(value.get());
        if (auto *object = dynamic_cast<TJSONObject *>(value.get())) {
            const QStringList keys = object->Keys();
            for (const QString &key : keys) {
                object->IsNull(key);
                try {
                    object->GetInt(key);
                } catch (const EOnlineError &) { }
                try {
                    object->GetBoolean(key);
                } catch (const EOnlineError &) { }
            }
            object->Clone();
        }
    } catch (const EOnlineError &) {
        return 0;
    }
    try {
        JSONTokener again(written);
        const JSONValue reread = again.NextValue();
        if (TJSONObject::ValueToString(reread.get()) != written)
            std::abort();
    } catch (const EOnlineError &) {
        // Words the parser accepts unquoted are written quoted; anything written must read back.
        std::abort();
    }
    return 0;
}
