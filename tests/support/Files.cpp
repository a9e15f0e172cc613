#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace testsupport {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QString ScratchDir::script(const QString &name, const QByteArray &body) const
{
    const QString made = file(name, "#!/bin/sh\n" + body + "\n");
    if (made.isEmpty()
        || !QFile::setPermissions(made, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return {};
    return made;
}

} // namespace testsupport
