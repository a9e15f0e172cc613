#pragma once

// A cpp-httplib server on a free loopback port, listening on its own thread
// for the lifetime of the object.

#include <chrono>
#include <httplib.h>
#include <string>
#include <thread>

class LoopbackServer
{
public:
    LoopbackServer() { port = server.bind_to_any_port("127.0.0.1"); }
    ~LoopbackServer() { stop(); }

    // Call after registering the handlers.
    bool start()
    {
        if (port <= 0)
            return false;
        thread = std::thread([this] { server.listen_after_bind(); });
        for (int i = 0; i < 500 && !server.is_running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return server.is_running();
    }
    void stop()
    {
        server.stop();
        if (thread.joinable())
            thread.join();
    }
    std::string url(const std::string &path) const
    {
        return "http://127.0.0.1:" + std::to_string(port) + path;
    }

    httplib::Server server;
    int port = -1;

private:
    std::thread thread;
};
