#include "support/ScratchPackages.h"

#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

namespace testsupport {

namespace {

bool run(const QStringList &argv, const QStringList &environment, QString *log)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &e : environment)
        env.insert(e.section(u'=', 0, 0), e.section(u'=', 1));
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(argv.first(), argv.mid(1));
    const bool ok = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (log)
        *log = QString::fromUtf8(p.readAll());
    return ok;
}

} // namespace

ScratchPackages::ScratchPackages()
{
    if (!m_dir.isValid())
        return;
    const QString r = root();
    for (const char *sub : {"var/lib/dpkg/info", "var/lib/dpkg/updates", "var/lib/dpkg/triggers",
                            "var/lib/apt", "var/cache/apt/archives/partial", "var/log/apt",
                            "etc/apt/apt.conf.d", "etc/apt/preferences.d", "etc/apt/sources.list.d", "usr"})
        if (!QDir().mkpath(r + u'/' + QLatin1String(sub)))
            return;
    if (!writeFile(statusFile(), {}) || !writeFile(adminDir() + QStringLiteral("/available"), {}))
        return;
    // Read before anything else apt reads, so that none of the machine's own
    // configuration (and none of its hooks) applies.
    const QByteArray conf
        = QStringLiteral("Dir \"%1/\";\n"
                         "Dir::State::status \"%2\";\n"
                         "Dir::Etc \"%1/etc/apt/\";\n"
                         "Dir::Log \"%1/var/log/apt/\";\n"
                         "DPkg::Options { \"--root=%1\"; \"--admindir=%3\"; \"--force-not-root\";"
                         " \"--force-script-chrootless\"; \"--log=%1/dpkg.log\"; };\n")
              .arg(r, statusFile(), adminDir())
              .toUtf8();
    if (!writeFile(m_dir.filePath(QStringLiteral("apt.conf")), conf))
        return;
    // apt itself must say it works on the scratch database.
    QString dump;
    if (!run({QStringLiteral("apt-config"), QStringLiteral("dump")}, aptEnvironment(), &dump))
        return;
    m_valid = dump.contains(QStringLiteral("Dir::State::status \"%1\";").arg(statusFile()))
        && dump.contains(QStringLiteral("Dir::Etc \"%1/etc/apt/\";").arg(r));
}

QStringList ScratchPackages::aptEnvironment() const
{
    return {QStringLiteral("APT_CONFIG=") + m_dir.filePath(QStringLiteral("apt.conf"))};
}

QStringList ScratchPackages::dpkgCommand() const
{
    return {QStringLiteral("dpkg"),
            QStringLiteral("--root=") + root(),
            QStringLiteral("--admindir=") + adminDir(),
            QStringLiteral("--force-not-root"),
            QStringLiteral("--force-script-chrootless"),
            QStringLiteral("--log=") + root() + QStringLiteral("/dpkg.log")};
}

QString ScratchPackages::build(const QString &name, const QString &fields, const QByteArray &prerm,
                               const QByteArray &conffile)
{
    const QString tree = m_dir.filePath(QStringLiteral("build/") + name);
    QString control
        = QStringLiteral("Package: %1\nVersion: 1.0\nArchitecture: all\n"
                         "Maintainer: Test <test@example.invalid>\nDescription: test package %1\n")
              .arg(name);
    if (!fields.isEmpty())
        control += fields.endsWith(u'\n') ? fields : fields + u'\n';
    if (!writeFile(tree + QStringLiteral("/DEBIAN/control"), control.toUtf8())
        || !writeFile(tree + QStringLiteral("/usr/share/doc/") + name + QStringLiteral("/README"),
                      name.toUtf8()))
        return {};
    if (!conffile.isEmpty()) {
        const QString etc = QStringLiteral("/etc/") + name + QStringLiteral(".conf");
        if (!writeFile(tree + etc, conffile)
            || !writeFile(tree + QStringLiteral("/DEBIAN/conffiles"), etc.toUtf8() + '\n'))
            return {};
    }
    if (!prerm.isEmpty()) {
        const QString script = tree + QStringLiteral("/DEBIAN/prerm");
        if (!writeFile(script, "#!/bin/sh\n" + prerm + "\n")
            || !QFile::setPermissions(script,
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                          | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
                                          | QFile::ExeOther))
            return {};
    }
    const QString deb = m_dir.filePath(name + QStringLiteral(".deb"));
    if (!run({QStringLiteral("dpkg-deb"), QStringLiteral("--root-owner-group"), QStringLiteral("--build"),
              tree, deb},
             {}, nullptr))
        return {};
    return deb;
}

bool ScratchPackages::install(const QStringList &debs, QString *log)
{
    if (!m_valid)
        return false;
    return run(dpkgCommand() << QStringLiteral("--install") << debs, {}, log);
}

bool ScratchPackages::markAuto(const QStringList &names)
{
    QByteArray states;
    for (const QString &n : names)
        states += "Package: " + n.toUtf8() + "\nArchitecture: all\nAuto-Installed: 1\n\n";
    return writeFile(root() + QStringLiteral("/var/lib/apt/extended_states"), states);
}

QString ScratchPackages::statusOf(const QString &name) const
{
    const QString all = QString::fromUtf8(readFile(statusFile()));
    for (const QString &paragraph : all.split(QStringLiteral("\n\n")))
        if (paragraph.startsWith(QStringLiteral("Package: ") + name + u'\n')) {
            for (const QString &line : paragraph.split(u'\n'))
                if (line.startsWith(QLatin1String("Status: ")))
                    return line.mid(8);
        }
    return {};
}

} // namespace testsupport
