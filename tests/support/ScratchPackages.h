#pragma once

// A package database of its own for one test: a scratch root with dpkg's
// administration folder and apt's folders and configuration, packages built
// in the test and installed there. apt and dpkg are pointed at it through
// APT_CONFIG and their own options, so nothing reaches the machine's database.

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace testsupport {

class ScratchPackages
{
public:
    ScratchPackages();
    // False when the folders could not be made or apt does not read the
    // scratch configuration (then nothing may be run against it).
    bool isValid() const { return m_valid; }

    QString root() const { return m_dir.path() + QStringLiteral("/root"); }
    QString adminDir() const { return root() + QStringLiteral("/var/lib/dpkg"); }
    QString statusFile() const { return adminDir() + QStringLiteral("/status"); }
    // "APT_CONFIG=<scratch configuration>": the environment apt needs.
    QStringList aptEnvironment() const;
    // dpkg with the options that keep it inside the scratch root.
    QStringList dpkgCommand() const;

    // Builds a package of one small file. Fields: more control lines
    // ("Depends: a"); prerm: the body of a pre-removal script, if any.
    // conffile: the content of a configuration file /etc/<name>.conf, which
    // stays behind when the package is removed (state "config-files").
    // Returns the .deb, or empty when it could not be built.
    QString build(const QString &name, const QString &fields = {}, const QByteArray &prerm = {},
                  const QByteArray &conffile = {});
    // Installs built packages into the scratch root; false (and dpkg's words in Log) on failure.
    bool install(const QStringList &debs, QString *log = nullptr);
    // Marks packages as installed automatically, as apt does for dependencies.
    bool markAuto(const QStringList &names);
    // The Status line of a package in the scratch status file; empty when it is not there.
    QString statusOf(const QString &name) const;

private:
    QTemporaryDir m_dir;
    bool m_valid = false;
};

} // namespace testsupport
