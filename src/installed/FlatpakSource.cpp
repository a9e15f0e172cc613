#include "installed/FlatpakSource.h"

#include "core/BrimMultiLangs.h"
#include "core/BrimSystem.h"
#include "installed/InstalledSource.h"
#include "installed/UninstManager.h"
#include "platform/FlatpakApps.h"
#include "platform/FlatpakBundleInstall.h"
#include "platform/ProcessJob.h"

#include <QDateTime>
#include <algorithm>
#include <cstdint>

namespace installed {

QStringList FlatpakUninstallCommand(const platform::FlatpakApp &App)
{
    QStringList argv = {QStringLiteral("flatpak"), QStringLiteral("uninstall")};
    if (App.User)
        argv << QStringLiteral("--user");
    else if (App.Installation == QLatin1String("default"))
        argv << QStringLiteral("--system");
    else
        argv << QStringLiteral("--installation=") + App.Installation;
    // The whole reference (id/arch/branch): another branch or architecture of
    // the same application stays.
    argv << QStringLiteral("-y") << QStringLiteral("--noninteractive")
         << App.Id + u'/' + App.Arch + u'/' + App.Branch;
    return argv;
}

QString FlatpakCommandLine(const QStringList &Argv)
{
    // References are plain words; an installation's own name may not be, so
    // such a word is quoted the way SplitCommandLine reads it back.
    QStringList words;
    for (const QString &word : Argv) {
        bool plain = !word.isEmpty();
        for (QChar c : word)
            if (!(c.isLetterOrNumber() || QStringLiteral("-_./=:@+,").contains(c)))
                plain = false;
        words << (plain ? word : u'\'' + QString(word).replace(u'\'', QStringLiteral("'\\''")) + u'\'');
    }
    return words.join(u' ');
}

void FillFlatpakEntry(TUninstItem &Item, const platform::FlatpakApp &App)
{
    Item.Source = EntrySource::Flatpak;
    Item.SourceId = App.Ref;
    Item.KeyName = App.Id;
    Item.DisplayName = App.Name.isEmpty() ? App.Id : App.Name;
    Item.Version = App.Version;
    Item.Publisher = App.Developer;
    Item.Summary = App.Summary;
    Item.InstallLocation = App.DeployDir;
    Item.AboutLink = App.Homepage;
    Item.HelpLink = App.HelpLink;
    Item.IconFile = App.IconFile;
    Item.EstimatedSize = qint32(std::min<quint64>(App.InstalledSize / 1024, INT32_MAX));
    if (App.DeployedAt > 0)
        Item.InstallDate = ParseInstallDate(
            QDateTime::fromSecsSinceEpoch(App.DeployedAt).date().toString(QStringLiteral("yyyyMMdd")));
    Item.UninstallString = FlatpakCommandLine(FlatpakUninstallCommand(App));
    Item.Branch = App.Branch;
    Item.Origin = App.Origin;
    Item.Installation = App.Installation;
}

namespace {

// The locale of the published interface language, for translated names.
QString publishedLocale()
{
    return OVLanguageId() == 2052 ? QStringLiteral("zh_CN") : QStringLiteral("en_US");
}

class FlatpakSource final : public InstalledSource
{
public:
    explicit FlatpakSource(std::function<QString()> Locale)
        : m_locale(std::move(Locale))
    { }
    EntrySource Kind() const override { return EntrySource::Flatpak; }
    UninstallJob MakeUninstallJob(const TUninstItem &Item) override
    {
        return [argv = SplitCommandLine(Item.UninstallString)](const std::atomic<bool> *cancel) {
            platform::CaptureOptions options;
            options.cancel = cancel;
            // Never cut off halfway; it goes on by itself when nobody waits any more.
            options.killOnStop = false;
            const platform::CapturedRun run = platform::runCaptured(argv, options);
            if (!run.started)
                return argv.value(0);
            if (!run.finished || run.exitCode == 0)
                return QString();
            return platform::flatpakErrorText(run.output, run.errors);
        };
    }
    void Scan(TUninstManager &Manager, std::vector<std::unique_ptr<TUninstItem>> &Entries) override
    {
        for (const platform::FlatpakApp &app :
             platform::ListFlatpakApps(m_locale ? m_locale() : publishedLocale())) {
            auto item = std::make_unique<TUninstItem>(&Manager);
            FillFlatpakEntry(*item, app);
            item->SmallIconIndex = item->LargeIconIndex = item->IconFile.isEmpty()
                ? Manager.DefaultIconIndex()
                : Manager.IconIndexFor(item->IconFile);
            Entries.push_back(std::move(item));
        }
    }

private:
    std::function<QString()> m_locale;
};

} // namespace

std::unique_ptr<InstalledSource> MakeFlatpakSource(std::function<QString()> Locale)
{
    return std::make_unique<FlatpakSource>(std::move(Locale));
}

} // namespace installed
