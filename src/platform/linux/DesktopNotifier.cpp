#include "platform/DesktopNotifier.h"

#include <QAtomicInteger>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QObject>
#include <QStringList>
#include <QVariantMap>
#include <atomic>

namespace platform {
namespace {

const QString kNotificationsService = QStringLiteral("org.freedesktop.Notifications");
const QString kNotificationsPath = QStringLiteral("/org/freedesktop/Notifications");

QDBusMessage notificationsCall(const QString &method)
{
    return QDBusMessage::createMethodCall(kNotificationsService, kNotificationsPath, kNotificationsService,
                                          method);
}

// What the pending calls of a notifier share with it; they may outlive it.
struct NotifierState
{
    QString address; // empty: the session bus
    QString connectionName; // of the private connection to address, once made

    // The bus as it stands; never connects anew.
    QDBusConnection bus() const
    {
        return address.isEmpty() ? QDBusConnection::sessionBus() : QDBusConnection(connectionName);
    }
};

void sendNotify(QDBusConnection &bus, const DesktopNotice &notice, bool markup)
{
    // A service that reads markup would take tags and entities in a program's
    // title (which comes from a web page) as formatting, links or pictures.
    const QString body = markup ? notice.Body.toHtmlEscaped() : notice.Body;
    QDBusMessage call = notificationsCall(QStringLiteral("Notify"));
    // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout (-1: the
    // service's default).
    call << notice.AppName << uint(0) << notice.AppIcon << notice.Summary << body << QStringList()
         << QVariantMap() << int(-1);
    // Sent without asking for the reply.
    bus.send(call);
}

class DbusNotifier final : public IDesktopNotifier
{
public:
    explicit DbusNotifier(const QString &busAddress)
        : m_state(std::make_shared<NotifierState>())
    {
        m_state->address = busAddress;
    }

    ~DbusNotifier() override
    {
        if (!m_state->connectionName.isEmpty())
            QDBusConnection::disconnectFromBus(m_state->connectionName);
    }

    bool notify(const DesktopNotice &notice) override
    {
        if (!m_state->address.isEmpty() && m_state->connectionName.isEmpty()) {
            static QAtomicInteger<int> serial;
            m_state->connectionName = QStringLiteral("orvane-notifier-%1").arg(serial.fetchAndAddRelaxed(1));
            QDBusConnection::connectToBus(m_state->address, m_state->connectionName);
        }
        QDBusConnection bus = m_state->bus();
        if (!bus.isConnected())
            return false;
        // The service's capabilities decide how the body is written. Both calls
        // are asynchronous: a slow, hung or absent service never holds up the
        // caller, and without a service the notice is dropped.
        auto *watcher = new QDBusPendingCallWatcher(
            bus.asyncCall(notificationsCall(QStringLiteral("GetCapabilities"))));
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished,
                         [state = m_state, notice](QDBusPendingCallWatcher *call) {
                             call->deleteLater();
                             const QDBusPendingReply<QStringList> reply = *call;
                             if (reply.isError())
                                 return;
                             QDBusConnection bus = state->bus();
                             if (bus.isConnected())
                                 sendNotify(bus, notice,
                                            reply.value().contains(QStringLiteral("body-markup")));
                         });
        return true;
    }

private:
    std::shared_ptr<NotifierState> m_state;
};

std::atomic<IDesktopNotifier *> current {nullptr};

} // namespace

std::unique_ptr<IDesktopNotifier> makeDbusNotifier(const QString &busAddress)
{
    return std::make_unique<DbusNotifier>(busAddress);
}

IDesktopNotifier &desktopNotifier()
{
    static DbusNotifier sessionNotifier {QString()};
    IDesktopNotifier *n = current.load();
    return n ? *n : sessionNotifier;
}

void setDesktopNotifier(IDesktopNotifier *replacement)
{
    current.store(replacement);
}

} // namespace platform
