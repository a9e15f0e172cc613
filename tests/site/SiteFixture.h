#pragma once

// The reference site served from this process on a free loopback port, over
// plain HTTP or, given a certificate and its key, over HTTPS.

#include "SiteServer.h"

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <thread>

class RunningSite
{
public:
    // Loads the site from Root and serves it; check Ok() afterwards.
    explicit RunningSite(const QString &Root = QStringLiteral(SITE_ROOT), const QString &CertFile = {},
                         const QString &KeyFile = {})
    {
        QString Message;
        if (!CertFile.isEmpty() && !Site.UseTls(CertFile, KeyFile, Message)) {
            Error = Message.toStdString();
            return;
        }
        if (!Site.Load(Root, Message)) {
            Error = Message.toStdString();
            return;
        }
        Port = Site.Bind("127.0.0.1", 0);
        if (Port <= 0) {
            Error = "cannot bind";
            return;
        }
        Thread = std::thread([this] { Site.Listen(); });
        const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!Site.IsRunning() && std::chrono::steady_clock::now() < Deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (!Site.IsRunning())
            Error = "the server did not start";
        Base = Site.BaseWithHost("127.0.0.1");
    }
    ~RunningSite()
    {
        Site.Stop();
        if (Thread.joinable())
            Thread.join();
    }
    RunningSite(const RunningSite &) = delete;
    RunningSite &operator=(const RunningSite &) = delete;

    bool Ok() const { return Error.empty(); }

    orvane::site::SiteServer Site;
    int Port = -1;
    std::string Base;
    std::string Error;

private:
    std::thread Thread;
};
