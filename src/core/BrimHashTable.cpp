#include "core/BrimHashTable.h"

quint32 BrimHashKey(QStringView key)
{
    quint32 h = 0;
    for (QChar c : key)
        h = ((h << 2) | (h >> 30)) ^ c.unicode();
    return h;
}
