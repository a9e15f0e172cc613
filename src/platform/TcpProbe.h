#pragma once

#include <QString>

namespace platform {

// Whether a TCP connection to host (a name or an address) and port can be
// made within timeoutMs; every address the name resolves to is tried in turn
// under the one time limit. The connection is closed again at once.
bool tcpConnects(const QString &host, int port, quint32 timeoutMs);

} // namespace platform
