#include "support/LoopbackServer.h"

#include <chrono>

namespace testsupport {

LoopbackServer::LoopbackServer()
{
    port = server.bind_to_any_port("127.0.0.1");
}

LoopbackServer::~LoopbackServer()
{
    stop();
}

bool LoopbackServer::start(int timeoutMs)
{
    if (port <= 0)
        return false;
    if (!m_thread.joinable())
        m_thread = std::thread([this] { server.listen_after_bind(); });
    // Plain polling: starting a server must not deliver the caller's pending Qt events.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!server.is_running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    return server.is_running();
}

void LoopbackServer::stop()
{
    server.stop();
    if (m_thread.joinable())
        m_thread.join();
}

std::string LoopbackServer::url(const std::string &path) const
{
    return "http://127.0.0.1:" + std::to_string(port) + path;
}

} // namespace testsupport
