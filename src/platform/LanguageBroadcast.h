#pragma once

#include <QObject>
#include <QString>
#include <functional>

// The language broadcast between programs of the desktop session: a signal
// on the session bus that carries a registered message number with the
// values wParam and lParam (lParam: low 16 bits = the low 16 bits of the
// message number, high 16 bits = the new locale identifier).

inline constexpr char kLanguageBroadcastName[] = "HLXIDSTR_BroadcastLanguageChanged";
inline constexpr char kLanguageBroadcastPath[] = "/org/orvane/Broadcast";
inline constexpr char kLanguageBroadcastInterface[] = "org.orvane.Broadcast";

// The message number registered for the broadcast name: the same in every
// process, in the range of registered messages (0xC000 to 0xFFFF).
quint32 LanguageBroadcastMessage();

// lParam of a broadcast announcing lcid.
qint64 LanguageBroadcastLParam(quint16 lcid);

// The new language of a broadcast, or -1 when wParam or lParam do not carry one.
int LanguageFromBroadcast(quint32 message, quint64 wParam, qint64 lParam);

// Sends the broadcast on the session bus; false when there is no bus or the
// signal could not be sent.
bool SendLanguageBroadcast(quint16 lcid);
// Sends arbitrary values (tests of the receiver's checks).
bool SendLanguageBroadcastRaw(quint32 message, quint64 wParam, qint64 lParam);

// Listens for the broadcast on the session bus and hands every one to the
// handler as it arrived (message number, wParam, lParam); the handler does
// the checks.
class TOVLanguageBroadcastReceiver : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<void(quint32 Message, quint64 WParam, qint64 LParam)>;

    explicit TOVLanguageBroadcastReceiver(Handler handler, QObject *parent = nullptr);
    ~TOVLanguageBroadcastReceiver() override;

    // False when the session bus was not reachable.
    bool IsListening() const { return m_listening; }

private Q_SLOTS:
    void onSignal(uint message, qulonglong wParam, qlonglong lParam);

private:
    Handler m_handler;
    bool m_listening = false;
};
