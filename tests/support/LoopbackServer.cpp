#include "support/LoopbackServer.h"

#include "support/Wait.h"

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
    return pollUntil([this] { return server.is_running(); }, timeoutMs);
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
