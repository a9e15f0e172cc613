#include "platform/LanguageBroadcast.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusMessage>

namespace {

QString busPath()
{
    return QString::fromLatin1(kLanguageBroadcastPath);
}
QString busInterface()
{
    return QString::fromLatin1(kLanguageBroadcastInterface);
}
QString busMember()
{
    return QString::fromLatin1(kLanguageBroadcastName);
}

} // namespace

quint32 LanguageBroadcastMessage()
{
    // A fixed function of the name, so every process agrees without a registry.
    const quint16 crc = qChecksum(QByteArrayView(kLanguageBroadcastName));
    return 0xC000u | (crc & 0x3FFFu);
}

qint64 LanguageBroadcastLParam(quint16 lcid)
{
    return qint64((quint32(lcid) << 16) | (LanguageBroadcastMessage() & 0xFFFFu));
}

int LanguageFromBroadcast(quint32 message, quint64 wParam, qint64 lParam)
{
    if (message != LanguageBroadcastMessage() || wParam == 0)
        return -1;
    const quint32 lp = quint32(quint64(lParam) & 0xFFFFFFFFu);
    if ((lp & 0xFFFFu) != (message & 0xFFFFu))
        return -1;
    return int(lp >> 16);
}

bool SendLanguageBroadcastRaw(quint32 message, quint64 wParam, qint64 lParam)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage signal = QDBusMessage::createSignal(busPath(), busInterface(), busMember());
    signal << uint(message) << qulonglong(wParam) << qlonglong(lParam);
    return bus.send(signal);
}

bool SendLanguageBroadcast(quint16 lcid)
{
    return SendLanguageBroadcastRaw(LanguageBroadcastMessage(), 1, LanguageBroadcastLParam(lcid));
}

TOVLanguageBroadcastReceiver::TOVLanguageBroadcastReceiver(Handler handler, QObject *parent)
    : QObject(parent)
    , m_handler(std::move(handler))
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected())
        m_listening = bus.connect(QString(), busPath(), busInterface(), busMember(), this,
                                  SLOT(onSignal(uint, qulonglong, qlonglong)));
}

TOVLanguageBroadcastReceiver::~TOVLanguageBroadcastReceiver()
{
    if (m_listening)
        QDBusConnection::sessionBus().disconnect(QString(), busPath(), busInterface(), busMember(), this,
                                                 SLOT(onSignal(uint, qulonglong, qlonglong)));
}

void TOVLanguageBroadcastReceiver::onSignal(uint message, qulonglong wParam, qlonglong lParam)
{
    if (m_handler)
        m_handler(quint32(message), quint64(wParam), qint64(lParam));
}
