#include "platform/DpkgPackageIndex.h"

#include "platform/FileIO.h"
#include "platform/ProcFs.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <unordered_map>

namespace platform {

struct DpkgPackageIndex::Data
{
    std::vector<DpkgPackage> packages;
    std::unordered_map<QString, quint32> byName; // "name" and "name:arch"
    struct Entry
    {
        quint64 hash;
        quint32 package;
    };
    std::vector<Entry> paths; // sorted by hash
    // Top folders that are links into /usr ("bin" when /bin -> usr/bin).
    std::vector<std::string> mergedTops;
};

namespace {

qint64 modificationStamp(const QString &file)
{
    const QFileInfo info(file);
    return info.exists() ? info.lastModified().toMSecsSinceEpoch() : -1;
}

qint64 nowMs()
{
    return qint64(monotonicTime100ns() / 1e4);
}

std::vector<std::string> mergedUsrTops()
{
    std::vector<std::string> tops;
    for (const char *top : {"bin", "sbin", "lib", "lib32", "lib64", "libx32"}) {
        const QFileInfo link(QStringLiteral("/") + QLatin1String(top));
        if (link.isSymLink()
            && QFileInfo(link.symLinkTarget()).canonicalFilePath()
                == QFileInfo(QStringLiteral("/usr/") + QLatin1String(top)).canonicalFilePath())
            tops.emplace_back(top);
    }
    return tops;
}

} // namespace

quint64 DpkgPackageIndex::pathHash(std::string_view path)
{
    // FNV-1a: 64 bits keep a collision among a few hundred thousand paths out of reach.
    quint64 h = 0xcbf29ce484222325ull;
    for (unsigned char c : path) {
        h ^= c;
        h *= 0x100000001b3ull;
    }
    return h;
}

std::shared_ptr<const DpkgPackageIndex::Data>
DpkgPackageIndex::build(const QString &infoDir, const QString &statusFile, const std::atomic<bool> *cancel)
{
    auto data = std::make_shared<Data>();
    data->mergedTops = mergedUsrTops();
    std::vector<char> buffer(1 << 16);
    size_t size = 0;
    if (!readWholeFile(QFile::encodeName(statusFile).constData(), &buffer, &size))
        return data;
    // Only packages with files on the machine own paths.
    for (const DpkgPackage &p : parseDpkgStatus(QByteArray::fromRawData(buffer.data(), qsizetype(size))))
        if (p.isInstalled())
            data->packages.push_back(p);
    for (quint32 i = 0; i < data->packages.size(); ++i) {
        const DpkgPackage &p = data->packages[i];
        // List files are named "name.list", or "name:arch.list" for packages of several architectures.
        data->byName.emplace(p.qualifiedName(), i);
        data->byName.emplace(p.name, i);
        if (!p.architecture.isEmpty())
            data->byName.emplace(p.name + QLatin1Char(':') + p.architecture, i);
    }

    const QStringList lists = QDir(infoDir).entryList({QStringLiteral("*.list")}, QDir::Files, QDir::Name);
    for (const QString &file : lists) {
        if (cancel && cancel->load())
            return nullptr;
        const QString key = file.chopped(5);
        const auto owner = data->byName.find(key);
        if (owner == data->byName.end())
            continue;
        const QByteArray path = QFile::encodeName(infoDir + QLatin1Char('/') + file);
        if (!readWholeFile(path.constData(), &buffer, &size))
            continue;
        std::string_view text(buffer.data(), size);
        while (!text.empty()) {
            const size_t nl = text.find('\n');
            const std::string_view line = text.substr(0, nl);
            if (line.size() > 1 && line.front() == '/' && line != "/.")
                data->paths.push_back({pathHash(line), owner->second});
            if (nl == std::string_view::npos)
                break;
            text.remove_prefix(nl + 1);
        }
    }
    // Folders are listed by every package that puts something in them; the first owner stays.
    std::stable_sort(data->paths.begin(), data->paths.end(),
                     [](const Data::Entry &a, const Data::Entry &b) { return a.hash < b.hash; });
    data->paths.shrink_to_fit();
    return data;
}

DpkgPackageIndex::DpkgPackageIndex(QString infoDir, QString statusFile)
    : m_infoDir(std::move(infoDir))
    , m_statusFile(std::move(statusFile))
{ }

DpkgPackageIndex::~DpkgPackageIndex()
{
    m_cancel = true;
    if (m_pending.valid())
        m_pending.wait();
}

DpkgPackageIndex &DpkgPackageIndex::shared()
{
    static DpkgPackageIndex index;
    return index;
}

void DpkgPackageIndex::startBuild()
{
    if (m_pending.valid() || m_data)
        return;
    m_builtFromStamp = modificationStamp(m_statusFile);
    m_lastCheckMs = nowMs();
    m_pending = std::async(std::launch::async, &DpkgPackageIndex::build, m_infoDir, m_statusFile, &m_cancel);
}

bool DpkgPackageIndex::waitUntilBuilt()
{
    return current() != nullptr;
}

std::shared_ptr<const DpkgPackageIndex::Data> DpkgPackageIndex::current()
{
    if (!m_data && !m_pending.valid())
        startBuild();
    if (m_data && !m_pending.valid()) {
        // A package installed or removed since: build again, answering from the old index meanwhile.
        const qint64 now = nowMs();
        if (now - m_lastCheckMs >= 1000) {
            m_lastCheckMs = now;
            const qint64 stamp = modificationStamp(m_statusFile);
            if (stamp != m_builtFromStamp) {
                m_builtFromStamp = stamp;
                m_pending = std::async(std::launch::async, &DpkgPackageIndex::build, m_infoDir, m_statusFile,
                                       &m_cancel);
            }
        }
    }
    if (m_pending.valid()
        && (!m_data || m_pending.wait_for(std::chrono::seconds(0)) == std::future_status::ready)) {
        std::shared_ptr<const Data> built = m_pending.get();
        if (built)
            m_data = std::move(built);
    }
    return m_data;
}

std::optional<DpkgPackage> DpkgPackageIndex::lookup(const Data &data, std::string_view path) const
{
    const quint64 h = pathHash(path);
    const auto it = std::lower_bound(data.paths.begin(), data.paths.end(), h,
                                     [](const Data::Entry &e, quint64 v) { return e.hash < v; });
    if (it == data.paths.end() || it->hash != h || it->package >= data.packages.size())
        return std::nullopt;
    return data.packages[it->package];
}

std::optional<DpkgPackage> DpkgPackageIndex::packageOfFile(const QString &path)
{
    if (path.isEmpty())
        return std::nullopt;
    const std::shared_ptr<const Data> data = current();
    if (!data)
        return std::nullopt;
    std::vector<std::string> candidates;
    auto addWithAliases = [&](const QString &p) {
        const std::string bytes = QFile::encodeName(p).toStdString();
        candidates.push_back(bytes);
        for (const std::string &top : data->mergedTops) {
            const std::string usr = "/usr/" + top + "/";
            const std::string bare = "/" + top + "/";
            if (bytes.compare(0, usr.size(), usr) == 0)
                candidates.push_back(bare + bytes.substr(usr.size()));
            else if (bytes.compare(0, bare.size(), bare) == 0)
                candidates.push_back(usr + bytes.substr(bare.size()));
        }
    };
    addWithAliases(path);
    for (const std::string &candidate : candidates)
        if (auto found = lookup(*data, candidate))
            return found;
    const QString resolved = QFileInfo(path).canonicalFilePath();
    if (!resolved.isEmpty() && resolved != path) {
        candidates.clear();
        addWithAliases(resolved);
        for (const std::string &candidate : candidates)
            if (auto found = lookup(*data, candidate))
                return found;
    }
    return std::nullopt;
}

std::optional<DpkgPackage> DpkgPackageIndex::package(const QString &name)
{
    const std::shared_ptr<const Data> data = current();
    if (!data)
        return std::nullopt;
    const auto it = data->byName.find(name);
    if (it == data->byName.end())
        return std::nullopt;
    return data->packages[it->second];
}

} // namespace platform
