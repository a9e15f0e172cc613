// Feeds arbitrary Config/Config.ini files to LoadSettings and the language
// choice, then checks that the settings read survive a save and a second read.
#include "core/IniFile.h"
#include "core/OVSettings.h"
#include "core/OVStartup.h"
#include "platform/AppPath.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>

namespace {

void writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(data);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The application folder is a scratch one: missing settings name folders in it.
    static QTemporaryDir dir;
    static const bool ready = [] {
        platform::setApplicationDirectoryOverride(dir.path() + u'/');
        return QDir().mkpath(dir.filePath("Config"));
    }();
    if (!ready)
        return 0;
    const QString file = dir.filePath("Config/Config.ini");
    const QString again = dir.filePath("Again.ini");
    QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));

    // LoadSettings creates the downloads folder a file names; keep it in the scratch folder,
    // found exactly as the settings look it up.
    IniFile probe;
    probe.parse(input);
    if (probe.valueExists(QStringLiteral("ORVANE"), QStringLiteral("DownloadsDir"))) {
        probe.writeString(QStringLiteral("ORVANE"), QStringLiteral("DownloadsDir"), dir.filePath("Chosen"));
        input = probe.serialize();
    }
    writeFile(file, input);
    OVSettings::LoadSettings(file);
    LoadLanguageSelection(file);

    const QString downloadsDir = OVSettings::DownloadsDir;
    const bool autoInstall = OVSettings::AutoInstall;
    const int fileKeepDays = OVSettings::FileKeepDays;
    const bool resumeBroken = OVSettings::ResumeBroken;
    QFile::remove(again);
    if (!OVSettings::SaveSettings(again) || !OVSettings::LoadSettings(again))
        __builtin_trap();
    if (OVSettings::DownloadsDir != downloadsDir || OVSettings::AutoInstall != autoInstall
        || OVSettings::FileKeepDays != fileKeepDays || OVSettings::ResumeBroken != resumeBroken)
        __builtin_trap();
    OVSettings::ResetSettings();
    return 0;
}
