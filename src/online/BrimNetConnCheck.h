#pragma once

// Checks whether the network can be reached: probes a list of web addresses
// one after the other on a worker thread until one answers, with an optional
// time-out, and reports the result once per check.

#include "platform/Worker.h"

#include <QString>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>

class TBrimNetConnCheck
{
public:
    enum : int { StatusNone = 0, StatusReachable = 1, StatusUnreachable = 2, StatusTimedOut = 3 };
    static constexpr quint32 NoTimeout = 0xFFFFFFFFu;

    // A probe answers whether a connection to the address's server can be made
    // within the given milliseconds.
    using ProbeFunction = std::function<bool(const QString &url, quint32 timeoutMs)>;

    TBrimNetConnCheck();
    ~TBrimNetConnCheck();
    TBrimNetConnCheck(const TBrimNetConnCheck &) = delete;
    TBrimNetConnCheck &operator=(const TBrimNetConnCheck &) = delete;

    QStringList CheckURLs;
    bool AsynMode = false;
    quint32 Timeout = NoTimeout;
    // Fired on the main thread when a check has its result (asynchronous mode only;
    // it needs a running QCoreApplication event loop).
    std::function<void(TBrimNetConnCheck *Sender)> OnCheckOK;
    // The probe; a real TCP connection by default, replaceable for tests.
    ProbeFunction Probe;

    // Starts a check; does nothing while one is running.
    void Check();
    int Status() const;
    bool Busy() const;

    // Connects to the address's host and port (80 unless given) within timeoutMs.
    static bool TcpProbe(const QString &url, quint32 timeoutMs);

private:
    struct Run;
    void applyTimeout();
    void deliver(const std::shared_ptr<Run> &run);

    std::shared_ptr<Run> m_run;
    // The probing; not waited for when the component goes, and cancelled then.
    platform::Worker m_worker;
    QTimer m_timer;
};
