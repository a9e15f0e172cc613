#include "procmon/FileProp.h"

#include "platform/DpkgPackageIndex.h"
#include "platform/FileVersion.h"

#include <QFileInfo>

TFileProp::TFileProp(platform::DpkgPackageIndex *Packages)
    : m_packages(Packages ? Packages : &platform::DpkgPackageIndex::shared())
{
    m_packages->startBuild();
}

bool TFileProp::Open(const QString &FileName)
{
    Close();
    if (FileName.isEmpty() || !QFileInfo::exists(FileName))
        return false;
    m_fileName = FileName;
    ReadVersionInfo();
    return true;
}

void TFileProp::Close()
{
    m_fileName.clear();
    m_versionInfo.Clear();
}

void TFileProp::ReadVersionInfo()
{
    const std::optional<platform::FileVersionInfo> info = platform::readFileVersionInfo(m_fileName);
    if (info && !info->stringTables.isEmpty()) {
        // Only the first translation counts; strings stored under another one stay empty.
        if (info->translations.isEmpty())
            return;
        const QString translation
            = QStringLiteral("%1").arg(info->translations.first(), 8, 16, QLatin1Char('0')).toUpper();
        for (const auto &table : info->stringTables) {
            if (table.first.compare(translation, Qt::CaseInsensitive) != 0)
                continue;
            auto value = [&table](const char *name) {
                for (const auto &entry : table.second)
                    if (entry.first.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
                        return entry.second;
                return QString();
            };
            TVersionInfo &v = m_versionInfo;
            v.Comments = value("Comments");
            v.CompanyName = value("CompanyName");
            v.FileDescription = value("FileDescription");
            v.FileVersion = value("FileVersion");
            v.InternalName = value("InternalName");
            v.LegalCopyright = value("LegalCopyright");
            v.LegalTrademarks = value("LegalTrademarks");
            v.OriginalFilename = value("OriginalFilename");
            v.ProductName = value("ProductName");
            v.ProductVersion = value("ProductVersion");
            v.PrivateBuild = value("PrivateBuild");
            v.SpecialBuild = value("SpecialBuild");
            return;
        }
        return;
    }
    if (const auto package = m_packages->packageOfFile(m_fileName)) {
        m_versionInfo.FileDescription = package->summary;
        m_versionInfo.CompanyName = package->maintainer;
        m_versionInfo.ProductName = package->name;
        m_versionInfo.FileVersion = package->version;
        m_versionInfo.ProductVersion = package->version;
        return;
    }
    // Our own executables carry their version in a note.
    if (info && info->hasFixedInfo) {
        m_versionInfo.FileVersion = platform::formatVersion(info->fileVersionMS, info->fileVersionLS);
        m_versionInfo.ProductVersion
            = platform::formatVersion(info->productVersionMS, info->productVersionLS);
    }
}
