#pragma once

#include <QString>
#include <atomic>

// The four program-wide download settings. Written only on the main thread;
// FileKeepDays is also read by install workers, hence atomic.
namespace OVSettings {

extern QString DownloadsDir;
extern bool AutoInstall;
extern std::atomic<int> FileKeepDays;
extern bool ResumeBroken;

inline constexpr int DefaultFileKeepDays = 7;

void ResetSettings();
bool LoadSettings(const QString &fileName);
bool SaveSettings(const QString &fileName);

} // namespace OVSettings
