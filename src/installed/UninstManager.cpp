#include "installed/UninstManager.h"

#include "core/BrimSystem.h"
#include "core/OVJournal.h"
#include "installed/NameOrder.h"
#include "platform/Registry.h"

#include <QDate>
#include <QHash>
#include <algorithm>
#include <limits>
#include <optional>
#include <unordered_map>

namespace installed {

double ParseInstallDate(const QString &Text)
{
    const QString t = Text.trimmed();
    if (t.isEmpty())
        return 0;
    // Characters 1-4, 5-6 and 7-8 joined as year-month-day; anything that is
    // not three numbers then gives no date.
    const QStringList parts = {t.mid(0, 4), t.mid(4, 2), t.mid(6, 2)};
    int numbers[3] = {0, 0, 0};
    for (int i = 0; i < 3; ++i) {
        const QString &p = parts.at(i);
        if (p.isEmpty())
            return 0;
        for (QChar c : p)
            if (c < u'0' || c > u'9')
                return 0;
        numbers[i] = p.toInt();
    }
    const QDate date(numbers[0], numbers[1], numbers[2]);
    if (!date.isValid() || numbers[0] == 0)
        return 0;
    return double(QDate(1899, 12, 30).daysTo(date));
}

std::vector<TUninstItem *> ListedEntries(const TUninstManager &Manager)
{
    std::vector<TUninstItem *> rows;
    for (int i = 0; i < Manager.Count(); ++i) {
        TUninstItem *t = Manager.Item(i);
        if (!t->HasUninstallCommand()) {
            for (int c = 0; c < t->ChildCount(); ++c)
                if (!t->Child(c)->TSAware)
                    rows.push_back(t->Child(c));
            if (t->ChildCount() > 0)
                continue;
        }
        if (!t->TSAware)
            rows.push_back(t);
    }
    return rows;
}

QStringList InstalledListing(const TUninstManager &Manager)
{
    auto field = [](QString text) {
        for (QChar &c : text)
            if (c == u'\t' || c == u'\n' || c == u'\r')
                c = u' ';
        return text;
    };
    QStringList lines;
    for (const TUninstItem *e : ListedEntries(Manager))
        lines << QStringList {field(e->DisplayName), field(e->Version), field(e->Publisher),
                              EntrySourceName(e->Source), field(e->UninstallString)}
                     .join(u'\t');
    return lines;
}

} // namespace installed

// ---- TUninstItem -------------------------------------------------------------

TUninstItem::TUninstItem(TUninstManager *Manager)
    : Manager(Manager)
{ }

TUninstItem *TUninstItem::Child(int Index) const
{
    if (Index < 0 || Index >= ChildCount())
        return nullptr;
    return m_children[size_t(Index)].get();
}

void TUninstItem::AddChild(std::unique_ptr<TUninstItem> Child)
{
    m_children.push_back(std::move(Child));
}

void TUninstItem::StartUninstall()
{
    if (!HasUninstallCommand() || !Manager)
        return;
    // A package's command is informational: packages are removed through the
    // package manager's checked path, never by running the text.
    if (Source == installed::EntrySource::Package)
        return;
    // The command comes from whoever registered the entry: it is split into
    // words and started without a shell.
    const QStringList argv = SplitCommandLine(UninstallString);
    TUninstManager *manager = Manager;
    installed::InstalledSource::UninstallJob job;
    if (installed::InstalledSource *source = manager->SourceOf(*this))
        job = source->MakeUninstallJob(*this);
    // How the run went, where this code runs the command; a source's job keeps that to itself.
    struct Outcome
    {
        quint32 result = 0;
        std::optional<int> exitStatus;
    };
    auto outcome = std::make_shared<Outcome>();
    if (!job)
        job = [argv, outcome](const std::atomic<bool> *cancel) {
            constexpr int kUnknown = std::numeric_limits<int>::min();
            int exitStatus = kUnknown;
            outcome->result = RunAndWait(argv, INFINITE_WAIT, SW_SHOWNORMAL, cancel, &exitStatus);
            if (exitStatus != kUnknown)
                outcome->exitStatus = exitStatus;
            return QString();
        };
    const QString record
        = journal::Begin(journal::Kind::Uninstall,
                         {DisplayName, Version, installed::EntrySourceName(Source), UninstallString});
    // The report reaches the manager only while it exists (this item may be gone by then).
    const bool started = manager->m_workers.start(
        [job](const platform::WorkerContext &run) { return job(run.cancelFlag()); },
        [manager, name = DisplayName, record, outcome](const QString &reason) {
            const bool ok = outcome->result == 0 && outcome->exitStatus.value_or(0) == 0 && reason.isEmpty();
            QString error = reason;
            if (error.isEmpty() && outcome->result)
                error = QStringLiteral("0x%1").arg(outcome->result, 8, 16, QChar(u'0'));
            journal::End(record, ok ? journal::Result::Succeeded : journal::Result::Failed,
                         outcome->exitStatus, error);
            manager->WorkerFinished(name, reason);
        });
    if (!started)
        journal::End(record, journal::Result::Failed);
}

void TUninstItem::RemoveFromList()
{
    TUninstManager *manager = Manager;
    installed::InstalledSource *source = manager ? manager->SourceOf(*this) : nullptr;
    const QString record = journal::Begin(
        journal::Kind::RemoveEntry, {DisplayName, Version, installed::EntrySourceName(Source), KeyPath});
    if (installed::InstalledSource::RemoveJob job = source ? source->MakeRemoveJob(*this) : nullptr) {
        // The source's own tool ran to its end; the refilled list shows whether the entry went.
        const bool started
            = manager->m_workers.start([job](const platform::WorkerContext &run) { job(run.cancelFlag()); },
                                       [manager, record] {
                                           journal::End(record, journal::Result::Succeeded);
                                           manager->EntryRemoved();
                                       });
        if (!started)
            journal::End(record, journal::Result::Failed);
        return;
    }
    const qsizetype slash = KeyPath.lastIndexOf(u'\\');
    const bool removed = slash > 0 && platform::RegDeleteKeyTree(KeyPath.left(slash), KeyPath.mid(slash + 1));
    journal::End(record, removed ? journal::Result::Succeeded : journal::Result::Failed);
    // The rescan destroys this entry: nothing of it may be used afterwards.
    if (manager)
        manager->Rescan();
}

// ---- TUninstManager ----------------------------------------------------------

const QStringList &TUninstManager::UninstallRoots()
{
    static const QStringList roots = {
        QStringLiteral("HKEY_LOCAL_MACHINE\\") + QString::fromUtf16(platform::kUninstallKeyPath) + u'\\',
        QStringLiteral("HKEY_CURRENT_USER\\") + QString::fromUtf16(platform::kUninstallKeyPath) + u'\\',
    };
    return roots;
}

TUninstManager::TUninstManager()
{
    m_iconFiles << QString();
}

TUninstManager::~TUninstManager()
{
    // Running uninstallers go on; their workers stop waiting and never report.
    m_workers.cancel();
}

TUninstItem *TUninstManager::Item(int Index) const
{
    if (Index < 0 || Index >= Count())
        return nullptr;
    return m_programs[size_t(Index)].get();
}

installed::InstalledSource *TUninstManager::SourceOf(const TUninstItem &Item) const
{
    for (const auto &source : m_sources)
        if (source->Kind() == Item.Source)
            return source.get();
    return nullptr;
}

int TUninstManager::RunningUninstalls() const
{
    return m_workers.running();
}

void TUninstManager::EntryRemoved()
{
    if (OnEntryRemoved)
        OnEntryRemoved(this);
    else
        Rescan();
}

void TUninstManager::WorkerFinished(const QString &ItemName, const QString &Reason)
{
    if (!Reason.isEmpty() && OnUninstFailed)
        OnUninstFailed(this, ItemName, Reason);
    if (OnUninstCompleted)
        OnUninstCompleted(this, ItemName);
}

int TUninstManager::IconIndexFor(const QString &IconFile)
{
    const qsizetype at = m_iconFiles.indexOf(IconFile);
    if (at >= 0)
        return int(at);
    m_iconFiles << IconFile;
    return int(m_iconFiles.size() - 1);
}

void TUninstManager::SetSources(std::vector<std::unique_ptr<installed::InstalledSource>> Sources)
{
    m_sources = std::move(Sources);
}

void TUninstManager::Rescan()
{
    m_updates.clear();
    m_programs.clear();
    m_iconFiles = QStringList {QString()};
    if (m_sources.empty()) {
        m_sources.push_back(installed::MakeRegistrySource());
    }
    platform::RegistryReadScope scope;
    for (auto &source : m_sources) {
        std::vector<std::unique_ptr<TUninstItem>> entries;
        source->Scan(*this, entries);
        for (auto &entry : entries) {
            if (entry->SystemComponent && !m_showSystemComponents)
                continue;
            if (!entry->ParentName.trimmed().isEmpty())
                m_updates.push_back(std::move(entry));
            else
                m_programs.push_back(std::move(entry));
        }
    }
    Group();
    Sort();
}

void TUninstManager::Group()
{
    std::unordered_map<TUninstItem *, TUninstItem *> parentOf;
    // True when filing u under candidate would make u its own ancestor.
    auto wouldLoop = [&parentOf](TUninstItem *u, TUninstItem *candidate) {
        for (TUninstItem *p = candidate; p;) {
            if (p == u)
                return true;
            auto it = parentOf.find(p);
            p = it == parentOf.end() ? nullptr : it->second;
        }
        return false;
    };

    // Names compared ignoring case: looked up by their case-folded text
    // instead of comparing every update with every entry.
    QHash<QString, std::vector<TUninstItem *>> updatesByName;
    for (auto &u : m_updates)
        updatesByName[u->DisplayName.toCaseFolded()].push_back(u.get());
    for (auto &u : m_updates) {
        const auto candidates = updatesByName.constFind(u->ParentName.toCaseFolded());
        if (candidates == updatesByName.constEnd())
            continue;
        for (TUninstItem *other : *candidates) {
            if (other == u.get() || wouldLoop(u.get(), other))
                continue;
            parentOf[u.get()] = other;
            u->ParentName.clear();
            break;
        }
    }
    QHash<QString, TUninstItem *> programsByName;
    // Filled from the end, so that the first of equal names stays.
    for (auto it = m_programs.rbegin(); it != m_programs.rend(); ++it)
        programsByName.insert((*it)->DisplayName.toCaseFolded(), it->get());
    for (auto &u : m_updates) {
        if (u->ParentName.isEmpty())
            continue;
        const QString key = u->ParentName.toCaseFolded();
        TUninstItem *parent = programsByName.value(key);
        if (!parent) {
            auto created = std::make_unique<TUninstItem>(this);
            created->DisplayName = u->ParentName;
            created->SmallIconIndex = u->SmallIconIndex;
            created->LargeIconIndex = u->LargeIconIndex;
            parent = created.get();
            programsByName.insert(key, parent);
            m_programs.push_back(std::move(created));
        }
        parentOf[u.get()] = parent;
        u->ParentName.clear();
    }
    for (auto &u : m_updates) {
        TUninstItem *parent = parentOf[u.get()];
        parent->AddChild(std::move(u));
    }
    m_updates.clear();
}

void TUninstManager::Sort()
{
    std::vector<std::pair<installed::TNameSortKey, std::unique_ptr<TUninstItem>>> keyed;
    keyed.reserve(m_programs.size());
    for (auto &p : m_programs) {
        installed::TNameSortKey key = installed::MakeNameSortKey(p->DisplayName);
        keyed.emplace_back(std::move(key), std::move(p));
    }
    std::sort(keyed.begin(), keyed.end(), [](const auto &a, const auto &b) {
        return installed::CompareNameSortKeys(a.first, b.first) < 0;
    });
    m_programs.clear();
    for (auto &k : keyed)
        m_programs.push_back(std::move(k.second));
}
