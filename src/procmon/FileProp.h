#pragma once

#include <QString>

namespace platform {
class DpkgPackageIndex;
}

// The version strings of a file. A Windows executable gives those of its
// version resource (first translation); a file of an installed package gives
// the package's: FileDescription = summary, CompanyName = maintainer,
// ProductName = package, FileVersion and ProductVersion = version.
class TVersionInfo
{
public:
    QString Comments;
    QString CompanyName;
    QString FileDescription;
    QString FileVersion;
    QString InternalName;
    QString LegalCopyright;
    QString LegalTrademarks;
    QString OriginalFilename;
    QString ProductName;
    QString ProductVersion;
    QString PrivateBuild;
    QString SpecialBuild;

    void Clear() { *this = TVersionInfo(); }
};

// Opens one file at a time and reads its properties. Main thread only.
class TFileProp
{
public:
    // Starts building the package index in the background, so it is ready
    // when the first description is asked for.
    explicit TFileProp(platform::DpkgPackageIndex *Packages = nullptr);

    // Closes the open file; false when FileName does not exist (nothing else
    // changes then); otherwise reads the file's strings and returns true.
    bool Open(const QString &FileName);
    void Close();

    const QString &FileName() const { return m_fileName; }
    const TVersionInfo &VersionInfo() const { return m_versionInfo; }

private:
    void ReadVersionInfo();

    platform::DpkgPackageIndex *m_packages;
    QString m_fileName;
    TVersionInfo m_versionInfo;
};
