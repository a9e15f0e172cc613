#include "platform/MainThread.h"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <condition_variable>
#include <mutex>

namespace platform {

bool isMainThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

struct HandOff::State
{
    std::mutex m;
    std::condition_variable cv;
    bool cancelled = false; // guarded by m
    int waiting = 0; // workers blocked in deliver(); guarded by m
    // Main thread only.
    bool hasReceiver = false;
    QPointer<QObject> receiver;
    int delivering = 0;

    bool isCancelled()
    {
        std::lock_guard<std::mutex> lock(m);
        return cancelled;
    }
    // Main thread only.
    bool receiverGone() const { return hasReceiver && !receiver; }
};

namespace {

enum class CallState { Pending, Running, Done, Dropped };

struct Call
{
    CallState state = CallState::Pending; // guarded by the channel's mutex
};

// Travels inside the event posted to the main thread. If that event is thrown
// away unrun (the application is going down), the last copy's destruction
// releases the waiting worker.
struct Ticket
{
    std::shared_ptr<HandOff::State> state;
    std::shared_ptr<Call> call;

    ~Ticket()
    {
        std::lock_guard<std::mutex> lock(state->m);
        if (call->state == CallState::Pending) {
            call->state = CallState::Dropped;
            state->cv.notify_all();
        }
    }
};

struct DeliveringScope
{
    int &count;
    explicit DeliveringScope(int &c)
        : count(c)
    {
        ++count;
    }
    ~DeliveringScope() { --count; }
};

} // namespace

HandOff::HandOff()
    : m_state(std::make_shared<State>())
{ }

HandOff::~HandOff() = default;

bool HandOff::cancelled() const
{
    return m_state->isCancelled();
}

bool HandOff::deliver(std::function<void()> fn)
{
    const std::shared_ptr<State> s = m_state;
    if (isMainThread()) {
        if (s->isCancelled() || s->receiverGone())
            return false;
        {
            DeliveringScope scope(s->delivering);
            fn();
        }
        return !s->isCancelled();
    }

    auto call = std::make_shared<Call>();
    {
        std::lock_guard<std::mutex> lock(s->m);
        if (s->cancelled)
            return false;
    }
    auto ticket = std::make_shared<Ticket>();
    ticket->state = s;
    ticket->call = call;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [ticket, fn = std::move(fn)] {
            State &st = *ticket->state;
            Call &c = *ticket->call;
            {
                std::lock_guard<std::mutex> lock(st.m);
                if (c.state != CallState::Pending)
                    return;
                if (st.cancelled || st.receiverGone()) {
                    c.state = CallState::Dropped;
                    st.cv.notify_all();
                    return;
                }
                c.state = CallState::Running;
            }
            {
                DeliveringScope scope(st.delivering);
                fn();
            }
            std::lock_guard<std::mutex> lock(st.m);
            c.state = CallState::Done;
            st.cv.notify_all();
        },
        Qt::QueuedConnection);
    ticket.reset(); // from here on only the event holds it

    std::unique_lock<std::mutex> lock(s->m);
    ++s->waiting;
    s->cv.wait(lock, [&] {
        return call->state == CallState::Done || call->state == CallState::Dropped
            || (call->state == CallState::Pending && s->cancelled);
    });
    --s->waiting;
    if (call->state == CallState::Pending)
        call->state = CallState::Dropped; // the event, when it comes, runs nothing
    return call->state == CallState::Done && !s->cancelled;
}

MainThreadChannel::MainThreadChannel(QObject *receiver)
    : m_handOff(new HandOff)
{
    if (!receiver)
        return;
    m_handOff->m_state->hasReceiver = true;
    m_handOff->m_state->receiver = receiver;
    const std::weak_ptr<HandOff::State> weak = m_handOff->m_state;
    m_receiverGone = QObject::connect(receiver, &QObject::destroyed, [weak] {
        if (const auto s = weak.lock()) {
            std::lock_guard<std::mutex> lock(s->m);
            s->cancelled = true;
            s->cv.notify_all();
        }
    });
}

MainThreadChannel::~MainThreadChannel()
{
    QObject::disconnect(m_receiverGone);
    cancel();
}

void MainThreadChannel::cancel()
{
    HandOff::State &s = *m_handOff->m_state;
    std::lock_guard<std::mutex> lock(s.m);
    s.cancelled = true;
    s.cv.notify_all();
}

int MainThreadChannel::waitingWorkers() const
{
    HandOff::State &s = *m_handOff->m_state;
    std::lock_guard<std::mutex> lock(s.m);
    return s.waiting;
}

bool MainThreadChannel::delivering() const
{
    return m_handOff->m_state->delivering > 0;
}

} // namespace platform
