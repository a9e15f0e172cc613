#pragma once
// Walks every block of a database (tables, record locations, index chains, records,
// blobs) and reports what is damaged, without trusting any of it.

#include "db/DictDBCommon.h"

#include <QStringList>

namespace dictdb {

struct CheckReport
{
    QStringList Problems; // empty: nothing found
    int Tables = 0;
    qint64 Records = 0;
    qint64 Blobs = 0;
};

CheckReport CheckDatabase(const QString &databaseName, TDictDBMediumType medium = mtDisk,
                          const QString &password = QString());

} // namespace dictdb
