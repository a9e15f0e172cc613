#pragma once

#include <QString>
#include <memory>

namespace platform {

// A short message for the desktop's notification area.
struct DesktopNotice
{
    QString AppName; // the program that speaks
    QString AppIcon; // an icon name of the desktop's icon theme
    QString Summary; // one line
    QString Body;
};

// Notices go through one notifier, so tests can put a recording one in its place.
class IDesktopNotifier
{
public:
    virtual ~IDesktopNotifier() = default;

    // Hands the notice over without waiting for it to be shown or answered.
    // False when it could not even be sent (no session bus); a desktop without
    // a notification service drops it silently.
    virtual bool notify(const DesktopNotice &notice) = 0;
};

// The notifier in use: the session bus one unless a test installed another.
IDesktopNotifier &desktopNotifier();
// Installs a notifier (not owned); nullptr puts the session bus one back.
void setDesktopNotifier(IDesktopNotifier *replacement);

// The desktop's notification service over D-Bus: on the session bus when
// busAddress is empty, otherwise on the bus at that address.
std::unique_ptr<IDesktopNotifier> makeDbusNotifier(const QString &busAddress = QString());

} // namespace platform
