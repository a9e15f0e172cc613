#pragma once

// A cpp-httplib server on a free port of 127.0.0.1, listening on a thread of its own
// between start() and stop() (or the end of the object).

#include <QString>
#include <httplib.h>
#include <string>
#include <thread>

namespace testsupport {

class LoopbackServer
{
public:
    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer &) = delete;
    LoopbackServer &operator=(const LoopbackServer &) = delete;

    // Call after registering the handlers; true once the server accepts connections.
    bool start(int timeoutMs = 10000);
    void stop();

    std::string url(const std::string &path = "/") const;
    QString qurl(const std::string &path = "/") const { return QString::fromStdString(url(path)); }

    httplib::Server server;
    int port = -1; // <= 0 when no port could be bound

private:
    std::thread m_thread;
};

} // namespace testsupport
