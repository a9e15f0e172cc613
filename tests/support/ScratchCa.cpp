#include "support/ScratchCa.h"

#include <QDir>
#include <QProcess>

namespace testsupport {

namespace {

QString run(const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("openssl"), args);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        const QString out = QString::fromLocal8Bit(p.readAll());
        p.kill();
        p.waitForFinished(1000);
        return QStringLiteral("openssl %1 failed: %2").arg(args.join(u' '), out);
    }
    return {};
}

} // namespace

ScratchCa::ScratchCa(const QString &Dir, const QString &Name)
{
    const QString base = QDir(Dir).filePath(Name);
    caFile = base + QStringLiteral("-ca.pem");
    certFile = base + QStringLiteral("-server.pem");
    keyFile = base + QStringLiteral("-server.key");
    const QString caKey = base + QStringLiteral("-ca.key");
    const QString request = base + QStringLiteral("-server.csr");
    // Elliptic-curve keys: made in milliseconds, unlike RSA ones.
    const QStringList ec {QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                          QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
    const QList<QStringList> steps {
        QStringList {"req", "-x509"} + ec
            + QStringList {"-keyout", caKey, "-out", caFile, "-days", "2", "-subj",
                           "/CN=Scratch test authority " + Name, "-addext",
                           "basicConstraints=critical,CA:TRUE", "-addext",
                           "keyUsage=critical,keyCertSign,cRLSign"},
        QStringList {"req"} + ec
            + QStringList {"-keyout", keyFile, "-out", request, "-subj", "/CN=127.0.0.1", "-addext",
                           "subjectAltName=IP:127.0.0.1,DNS:localhost"},
        QStringList {"x509", "-req", "-in", request, "-CA", caFile, "-CAkey", caKey, "-CAcreateserial",
                     "-out", certFile, "-days", "2", "-copy_extensions", "copy"},
    };
    for (const QStringList &step : steps) {
        error = run(step);
        if (!error.isEmpty())
            return;
    }
}

} // namespace testsupport
