#pragma once

#include <QString>
#include <functional>
#include <memory>

namespace platform {

// A per-user lock that marks the running instance of a program, and the
// channel by which a later start hands a 32-bit code to it. On Linux the lock
// is an flock on a file in a folder only the user can write to (the session's
// runtime folder), named after the instance name and the user id; it vanishes
// with its process, also after a crash. The holder listens on a UNIX socket
// beside it. No other user can take the name or receive the codes.
class SingleInstanceLock
{
public:
    enum class State {
        Acquired, // this process is the running instance
        HeldElsewhere, // another process holds the lock
        Unavailable, // no lock could be made; the caller runs on without one
    };

    explicit SingleInstanceLock(const QString &instanceName);
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock &) = delete;
    SingleInstanceLock &operator=(const SingleInstanceLock &) = delete;

    State acquire();
    bool isHeld() const;
    void release();

    // Delivers each code handed over by a later start to handler, on the
    // thread that calls this, from its event loop. Codes that arrived before
    // are delivered once the loop runs. Only this user's processes are heard.
    void setMessageHandler(std::function<void(qint32 code)> handler);

    // Hands code to the process holding the lock. False when none took it
    // within timeoutMs (no holder, or it never started listening).
    static bool sendCode(const QString &instanceName, qint32 code, int timeoutMs = 2000);
    // True once a holder of this user listens under the name (tests wait for it).
    static bool isListening(const QString &instanceName);
    // Where the holder listens; empty when the user has no private folder.
    static QByteArray socketPath(const QString &instanceName);

private:
    struct Listener;
    QString m_name;
    int m_fd = -1;
    int m_lockFd = -1;
    QByteArray m_socketPath;
    std::unique_ptr<Listener> m_listener;
};

} // namespace platform
