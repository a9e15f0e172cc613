#pragma once

#include <QString>
#include <vector>

namespace platform {

// One application installed with Flatpak, in the system installations or the
// user's (FLATPAK_USER_DIR; FLATPAK_SYSTEM_DIR for the default system one).
struct FlatpakApp
{
    QString Ref; // app/<id>/<arch>/<branch>
    QString Id;
    QString Arch;
    QString Branch;
    QString Origin; // the remote it came from
    bool User = false; // the per-user installation
    // "user", or the system installation's id ("default" for the default one).
    QString Installation;
    QString InstallationName; // as the installation names itself
    QString DeployDir;
    quint64 InstalledSize = 0; // bytes
    qint64 DeployedAt = 0; // seconds since 1970 when the deploy folder was made; 0 = unknown
    // From the application's metainfo (in the requested language), else from
    // what Flatpak keeps of it; empty when neither says.
    QString Name;
    QString Summary;
    QString Version;
    QString Developer;
    QString Homepage;
    QString HelpLink;
    QString IconFile; // the largest exported icon, empty when none
};

// Every application of the system installations and the user installation,
// system ones first. Locale is a language tag such as "zh_CN" for the
// translated names and summaries. A missing or unreadable installation adds
// nothing; nothing here starts a program or waits for a service.
std::vector<FlatpakApp> ListFlatpakApps(const QString &Locale);

} // namespace platform
