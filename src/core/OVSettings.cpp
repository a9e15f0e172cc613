#include "core/OVSettings.h"

#include "core/AppFiles.h"
#include "core/BrimSystem.h"
#include "core/IniFile.h"

#include <QDir>
#include <QFileInfo>

namespace OVSettings {

namespace {
const QString kSection = QStringLiteral("ORVANE");
QString defaultDownloadsDir()
{
    return appfiles::DownloadsDir();
}
} // namespace

// The built-in defaults hold from the start, before any file is read.
QString DownloadsDir = defaultDownloadsDir();
bool AutoInstall = true;
std::atomic<int> FileKeepDays {DefaultFileKeepDays};
bool ResumeBroken = true;

void ResetSettings()
{
    DownloadsDir = defaultDownloadsDir();
    AutoInstall = true;
    FileKeepDays = DefaultFileKeepDays;
    ResumeBroken = true;
}

bool LoadSettings(const QString &fileName)
{
    ResetSettings();
    if (!QFileInfo(fileName).isFile())
        return false;
    IniFile ini(fileName);
    DownloadsDir = ini.readString(kSection, QStringLiteral("DownloadsDir"), defaultDownloadsDir());
    AutoInstall = ini.readBool(kSection, QStringLiteral("AutoInstall"), true);
    FileKeepDays = ini.readInteger(kSection, QStringLiteral("FileKeepDays"), DefaultFileKeepDays);
    ResumeBroken = ini.readBool(kSection, QStringLiteral("ResumeBroken"), true);
    if (!DownloadsDir.isEmpty() && !QFileInfo(DownloadsDir).isDir())
        QDir().mkpath(DownloadsDir);
    return true;
}

bool SaveSettings(const QString &fileName)
{
    const QString dir = QFileInfo(fileName).absolutePath();
    if (!QFileInfo(dir).isDir() && !QDir().mkpath(dir))
        return false;
    IniFile ini(fileName);
    ini.writeString(kSection, QStringLiteral("DownloadsDir"), DownloadsDir);
    ini.writeBool(kSection, QStringLiteral("AutoInstall"), AutoInstall);
    ini.writeInteger(kSection, QStringLiteral("FileKeepDays"), FileKeepDays);
    ini.writeBool(kSection, QStringLiteral("ResumeBroken"), ResumeBroken);
    return ini.save();
}

} // namespace OVSettings
