#pragma once

// A certificate authority of a test's own, made with the openssl tool in a
// scratch folder, and a server certificate it signed for 127.0.0.1 and
// localhost. Tests trust it through the HTTP set-up's CA option, never
// through the system's store.

#include <QString>

namespace testsupport {

class ScratchCa
{
public:
    // Writes Dir/<Name>-ca.pem, Dir/<Name>-server.pem and Dir/<Name>-server.key.
    ScratchCa(const QString &Dir, const QString &Name = QStringLiteral("scratch"));

    bool ok() const { return error.isEmpty(); }

    QString caFile; // the authority's certificate, to trust
    QString certFile; // the server's certificate
    QString keyFile; // the server's private key
    QString error; // what failed; empty when all was made
};

} // namespace testsupport
