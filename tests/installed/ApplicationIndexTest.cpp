#include "installed/ApplicationIndex.h"

#include "installed/UninstManager.h"
#include "platform/DpkgPackageIndex.h"
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using installed::ApplicationIndex;
using installed::EntrySource;

namespace {

struct Fields
{
    EntrySource source;
    QString sourceId, keyName, name, location, uninstall, summary;
};

// Hands over fixed entries, as a source's scan would.
class FixedSource final : public installed::InstalledSource
{
public:
    explicit FixedSource(std::vector<Fields> entries)
        : m_entries(std::move(entries))
    { }
    installed::EntrySource Kind() const override { return EntrySource::Registry; }
    void Scan(TUninstManager &Manager, std::vector<std::unique_ptr<TUninstItem>> &Entries) override
    {
        for (const Fields &f : m_entries) {
            auto item = std::make_unique<TUninstItem>(&Manager);
            item->Source = f.source;
            item->SourceId = f.sourceId;
            item->KeyName = f.keyName;
            item->DisplayName = f.name;
            item->InstallLocation = f.location;
            item->UninstallString = f.uninstall;
            item->Summary = f.summary;
            Entries.push_back(std::move(item));
        }
    }

private:
    std::vector<Fields> m_entries;
};

} // namespace

TEST(ApplicationIndex, ProcessesFindTheirListedApplication)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString root = dir.path();
    // A package database of one package owning one program.
    const QString info = root + QStringLiteral("/info");
    ASSERT_TRUE(QDir().mkpath(info));
    ASSERT_TRUE(testsupport::writeFile(root + QStringLiteral("/status"),
                                       "Package: viewer\nStatus: install ok installed\nArchitecture: amd64\n"
                                       "Version: 1\nDescription: a viewer\n\n"));
    ASSERT_TRUE(testsupport::writeFile(info + QStringLiteral("/viewer.list"), "/usr/bin/viewer-demo\n"));
    platform::DpkgPackageIndex packages(info, root + QStringLiteral("/status"));

    const QString opt = root + QStringLiteral("/opt/Editor");
    const QString tools = root + QStringLiteral("/tools");
    TUninstManager manager;
    std::vector<std::unique_ptr<installed::InstalledSource>> sources;
    sources.push_back(std::make_unique<FixedSource>(std::vector<Fields> {
        {EntrySource::Registry, "HKCU\\Editor", "Editor", "Editor", opt, "/bin/true", "Edits"},
        {EntrySource::Registry, "HKCU\\Editor Plugin", "Plugin", "Plugin", opt + "/plugins", "/bin/true", ""},
        {EntrySource::Registry, "HKCU\\Tool", "Tool", "Tool", "", "'" + tools + "/uninstall tool.sh' x", ""},
        {EntrySource::Registry, "HKCU\\Greedy", "Greedy", "Greedy", "/usr/bin", "/usr/bin/true", ""},
        {EntrySource::Wine, "HKLM\\Game", "Game", "Game", root + "/prefix/drive_c/Game", "C:\\Game\\u.exe",
         ""},
        {EntrySource::Flatpak, "app/org.example.Paint/x86_64/stable", "org.example.Paint", "Paint", "",
         "flatpak uninstall", "Paints"},
        {EntrySource::Package, "viewer", "viewer", "Viewer", "", "apt-get remove viewer", "Views"},
    }));
    manager.SetSources(std::move(sources));
    manager.Rescan();
    ApplicationIndex index(&packages);
    index.Build(manager);

    struct Case
    {
        const char *what;
        QString file, flatpakId, key;
    };
    const Case cases[] = {
        {"below the install folder", opt + "/bin/editor", "", "registry:HKCU\\Editor"},
        {"the deeper folder wins", opt + "/plugins/p.so", "", "registry:HKCU\\Editor Plugin"},
        {"the uninstaller's folder", tools + "/tool", "", "registry:HKCU\\Tool"},
        {"a shared folder claims nothing", "/usr/bin/true", "", ""},
        {"a Wine program by its folder", root + "/prefix/drive_c/Game/game.exe", "", "wine:HKLM\\Game"},
        {"a sandbox by its id", "/app/bin/paint", "org.example.Paint",
         "flatpak:app/org.example.Paint/x86_64/stable"},
        {"an unknown sandbox, whatever its file", opt + "/bin/editor", "org.example.Other", ""},
        {"a packaged program", "/usr/bin/viewer-demo", "", "package:viewer"},
        {"a file of no one", root + "/elsewhere/x", "", ""},
        {"no file", "", "", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const auto app = index.Find(c.file, c.flatpakId);
        EXPECT_EQ(app ? app->Key : QString(), c.key);
    }
    const auto editor = index.Find(opt + QStringLiteral("/bin/editor"), {});
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->Name, "Editor");
    EXPECT_EQ(editor->Description, "Edits");
}
