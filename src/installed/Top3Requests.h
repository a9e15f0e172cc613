#pragma once

#include <QtGlobal>
#include <atomic>
#include <memory>

// Which recommendation request the Uninstall tab is waiting for. Each new
// request supersedes the one before: that one is cancelled (its worker stops
// its exchange), and an answer that still arrives for it is dropped. Main
// thread only; the cancel flags are what the workers read.
class TTop3Requests
{
public:
    using CancelFlag = std::shared_ptr<std::atomic<bool>>;

    struct Ticket
    {
        quint64 Id = 0;
        CancelFlag Cancel; // raised once the request is no longer wanted
    };

    TTop3Requests() = default;
    ~TTop3Requests();
    TTop3Requests(const TTop3Requests &) = delete;
    TTop3Requests &operator=(const TTop3Requests &) = delete;

    // A new request; the one awaited so far is cancelled.
    Ticket Start();
    // Nothing is awaited any more; the awaited request, if any, is cancelled.
    void Cancel();
    // An answer (or a worker's end without one) for request Id came back.
    // True exactly once, for the awaited request, which is then no longer
    // pending; false for a superseded, cancelled or unknown one.
    bool Finish(quint64 Id);

    bool Pending() const { return m_current.Id != 0; }
    quint64 Current() const { return m_current.Id; }
    // The awaited request's flag (null when none is awaited).
    CancelFlag CurrentCancelFlag() const { return m_current.Cancel; }

    int Started() const { return m_started; }
    // Requests cancelled before their answer came back.
    int Cancelled() const { return m_cancelled; }
    // Requests whose worker has reported back, taken or dropped.
    int Finished() const { return m_finished; }

private:
    Ticket m_current;
    quint64 m_lastId = 0;
    int m_started = 0;
    int m_cancelled = 0;
    int m_finished = 0;
};
