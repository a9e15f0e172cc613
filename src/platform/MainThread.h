#pragma once

#include <QMetaObject>
#include <functional>
#include <memory>

class QObject;

namespace platform {

// True when called on the main (GUI) thread, or when there is no application object.
bool isMainThread();

class MainThreadChannel;

// The worker's end of a main-thread channel: hands a function to the main
// thread and waits until it has run there. Workers keep it (a shared pointer)
// for as long as they run; it stays valid after the owner is gone, it then
// simply delivers nothing.
class HandOff
{
public:
    ~HandOff();
    HandOff(const HandOff &) = delete;
    HandOff &operator=(const HandOff &) = delete;

    // Runs fn on the main thread and returns after it has returned. Called on
    // the main thread, fn runs at once; without an application object it runs
    // on the calling thread. A cancelled channel or a destroyed receiver runs
    // nothing, and a worker blocked here is released as soon as that happens.
    // True when fn ran and the channel was still open when it returned, so
    // false tells the worker to stop.
    bool deliver(std::function<void()> fn);

    bool cancelled() const;

    struct State; // shared with the events in flight

private:
    friend class MainThreadChannel;
    HandOff();
    std::shared_ptr<State> m_state;
};

// The owner's end: owned by the object the results are for, on the main
// thread. Destroying it cancels the channel. With a receiver, the channel is
// also cancelled when the receiver is destroyed.
class MainThreadChannel
{
public:
    explicit MainThreadChannel(QObject *receiver = nullptr);
    ~MainThreadChannel();
    MainThreadChannel(const MainThreadChannel &) = delete;
    MainThreadChannel &operator=(const MainThreadChannel &) = delete;

    // What a worker takes along.
    std::shared_ptr<HandOff> handOff() const { return m_handOff; }
    bool deliver(std::function<void()> fn) { return m_handOff->deliver(std::move(fn)); }

    // Drops every pending and later delivery and releases the workers waiting
    // in deliver(). A delivery already running on the main thread finishes.
    // Any thread.
    void cancel();
    bool cancelled() const { return m_handOff->cancelled(); }

    // How many workers are blocked in deliver() right now, waiting for the main
    // thread: an owner that neither runs the event loop nor cancels would keep
    // them there. Any thread.
    int waitingWorkers() const;

    // True while one of this channel's functions is running on the main
    // thread, that is, when the caller is inside a handler of it: its worker is
    // then waiting for this very call and must not be joined. Main thread only.
    bool delivering() const;

private:
    std::shared_ptr<HandOff> m_handOff;
    QMetaObject::Connection m_receiverGone;
};

} // namespace platform
