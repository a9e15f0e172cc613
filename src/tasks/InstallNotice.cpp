#include "tasks/InstallNotice.h"

#include "core/BrimMultiLangs.h"

namespace tasks {

platform::DesktopNotice InstallNotice(const QString &Title, bool Succeeded, const QString &Reason)
{
    platform::DesktopNotice notice;
    notice.AppName = QStringLiteral("Orvane");
    notice.AppIcon = QStringLiteral("orvane");
    if (Succeeded) {
        notice.Summary = OVGetText(QStringLiteral("String.Notify.InstallCompleted"));
        notice.Body = OVFormatText(QStringLiteral("String.Notify.InstallCompletedText"), {Title});
    } else {
        notice.Summary = OVGetText(QStringLiteral("String.Notify.InstallFailed"));
        notice.Body = Reason.isEmpty()
            ? OVFormatText(QStringLiteral("String.Notify.InstallFailedText"), {Title})
            : Reason;
    }
    return notice;
}

platform::DesktopNotice HeldInstallNotice(const QString &Title, const QString &Host)
{
    platform::DesktopNotice notice;
    notice.AppName = QStringLiteral("Orvane");
    notice.AppIcon = QStringLiteral("orvane");
    notice.Summary = OVGetText(QStringLiteral("String.Notify.InstallHeld"));
    notice.Body = OVFormatText(QStringLiteral("String.Notify.InstallHeldText"), {Title, Host});
    return notice;
}

} // namespace tasks
