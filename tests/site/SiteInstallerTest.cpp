// The demonstration installers run for real: in a scratch home, with a fake
// registry tool that logs its arguments.

#include "Installer.h"
#include "SiteServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using orvane::site::Program;

namespace {

constexpr char Base[] = "http://127.0.0.1:8770";

struct Result
{
    int Code = -1;
    QString Out, Err;
};

Result RunProcess(const QString &Program, const QStringList &Args, const QProcessEnvironment &Env,
                  const QString &WorkDir = QDir::tempPath())
{
    QProcess P;
    P.setProcessEnvironment(Env);
    P.setWorkingDirectory(WorkDir);
    P.start(Program, Args);
    Result R;
    if (!P.waitForFinished(60000)) {
        P.kill();
        P.waitForFinished();
        R.Err = "timed out";
        return R;
    }
    R.Code = P.exitStatus() == QProcess::NormalExit ? P.exitCode() : -1;
    R.Out = QString::fromUtf8(P.readAllStandardOutput());
    R.Err = QString::fromUtf8(P.readAllStandardError());
    return R;
}

bool WriteFile(const QString &Path, const QByteArray &Bytes, bool Executable = false)
{
    QFile F(Path);
    if (!F.open(QIODevice::WriteOnly) || F.write(Bytes) != Bytes.size())
        return false;
    F.close();
    return !Executable || F.setPermissions(F.permissions() | QFileDevice::ExeOwner);
}

QByteArray ReadFile(const QString &Path)
{
    QFile F(Path);
    return F.open(QIODevice::ReadOnly) ? F.readAll() : QByteArray();
}

class InstallerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QString Error;
        ASSERT_TRUE(Site.Load(SITE_ROOT, Error)) << Error.toStdString();
        ASSERT_TRUE(Scratch.isValid());
        Home = Scratch.filePath("home");
        ASSERT_TRUE(QDir().mkpath(Home));
        Log = Scratch.filePath("reg.log");
        // The fake registry tool: one line per call, arguments separated by tabs.
        Reg = Scratch.filePath("fake-reg");
        ASSERT_TRUE(
            WriteFile(Reg, "#!/bin/sh\n{ printf '%s\\t' \"$@\"; echo; } >>'" + Log.toUtf8() + "'\n", true));
        FailingReg = Scratch.filePath("failing-reg");
        ASSERT_TRUE(WriteFile(FailingReg, "#!/bin/sh\necho 'registry is locked' >&2\nexit 3\n", true));
    }

    const Program &ById(const QString &Id) const
    {
        for (const Program &P : Site.Programs())
            if (P.Id == Id)
                return P;
        throw std::runtime_error("no program " + Id.toStdString());
    }

    // An environment without any orvane-reg on PATH.
    QProcessEnvironment Env(const QString &DataHome, const QString &RegTool) const
    {
        QProcessEnvironment E;
        E.insert("PATH", "/usr/bin:/bin");
        E.insert("HOME", Home);
        E.insert("LC_ALL", "C.UTF-8");
        if (!DataHome.isNull())
            E.insert("XDG_DATA_HOME", DataHome);
        if (!RegTool.isNull())
            E.insert("ORVANE_REG", RegTool);
        return E;
    }

    Result Install(const Program &P, const QProcessEnvironment &E) const
    {
        const QString Path = Scratch.filePath(P.Installer);
        if (!WriteFile(Path, orvane::site::MakeInstaller(P, Base)))
            return {};
        // Started in the scratch folder: a relative data folder wrongly honoured stays in there.
        return RunProcess("/bin/sh", {Path}, E, Scratch.path());
    }

    // The logged calls, each a list of arguments.
    QVector<QStringList> Calls() const
    {
        QVector<QStringList> Result;
        for (const QString &Line : QString::fromUtf8(ReadFile(Log)).split('\n', Qt::SkipEmptyParts)) {
            QStringList Args = Line.split('\t');
            if (!Args.isEmpty() && Args.last().isEmpty())
                Args.removeLast();
            Result.append(Args);
        }
        return Result;
    }

    // Everything below Dir, relative, sorted.
    static QStringList Tree(const QString &Dir)
    {
        QStringList Names;
        QDir D(Dir);
        for (const QFileInfo &I : D.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
            Names << I.fileName() + (I.isDir() ? "/" : "");
            if (I.isDir() && !I.isSymLink())
                for (const QString &Sub : Tree(I.filePath()))
                    Names << I.fileName() + "/" + Sub;
        }
        Names.sort();
        return Names;
    }

    orvane::site::SiteServer Site;
    QTemporaryDir Scratch;
    QString Home, Log, Reg, FailingReg;
};

// A value of a menu entry as desktop-entry readers see it.
QString DesktopValue(const QByteArray &Entry, const QString &Key)
{
    for (const QString &Line : QString::fromUtf8(Entry).split('\n'))
        if (Line.startsWith(Key + '='))
            return Line.mid(Key.size() + 1).replace("\\\\", "\\");
    return {};
}

// The single argument of an Exec value: quoted, with \" \` \$ \\ escaped.
QString ExecArgument(const QString &Exec)
{
    if (Exec.size() < 2 || !Exec.startsWith('"') || !Exec.endsWith('"'))
        return {};
    QString Out;
    const QString Inner = Exec.mid(1, Exec.size() - 2).replace("%%", "%");
    for (int I = 0; I < Inner.size(); ++I)
        Out += (Inner[I] == '\\' && I + 1 < Inner.size()) ? Inner[++I] : Inner[I];
    return Out;
}

} // namespace

TEST_F(InstallerTest, InstallsRegistersAndUninstallsWithoutTrace)
{
    const struct
    {
        const char *Program;
        QString DataHome; // null: not set
        QString Where; // where the program data must land, below the scratch folder
    } Cases[] = {
        {"keyfold", QString(), "home/.local/share"},
        {"halvex-guard", "relative/data", "home/.local/share"}, // relative values are ignored
        {"framesmith", Scratch.filePath("data dir 'quoted' \"and\" $HOME `x` 100%"),
         "data dir 'quoted' \"and\" $HOME `x` 100%"},
    };
    for (const auto &C : Cases) {
        const Program &P = ById(C.Program);
        SCOPED_TRACE(P.Id.toStdString());
        QFile::remove(Log);
        const QString Data = Scratch.filePath(C.Where);
        const QString Dir = Data + "/orvane-demo/" + P.Id;
        const QString Desktop = Data + "/applications/orvane-demo-" + P.Id + ".desktop";

        const Result Setup = Install(P, Env(C.DataHome, Reg));
        ASSERT_EQ(Setup.Code, 0) << Setup.Err.toStdString();
        EXPECT_TRUE(Setup.Err.isEmpty()) << Setup.Err.toStdString();

        // The program runs and knows who it is; its icon is the store's.
        EXPECT_TRUE(QFileInfo(Dir + "/" + P.Id).isExecutable());
        const Result Version = RunProcess(Dir + "/" + P.Id, {"--version"}, Env({}, {}));
        EXPECT_EQ(Version.Out.trimmed(), P.Title + ' ' + P.Version);
        EXPECT_EQ(ReadFile(Dir + "/" + P.Icon), P.IconBytes);

        // The menu entry starts that program with that icon, however odd the path.
        const QByteArray Entry = ReadFile(Desktop);
        EXPECT_TRUE(Entry.startsWith("[Desktop Entry]\n")) << Entry.toStdString();
        EXPECT_EQ(DesktopValue(Entry, "Name"), P.Title);
        EXPECT_EQ(ExecArgument(DesktopValue(Entry, "Exec")), Dir + "/" + P.Id) << Entry.toStdString();
        EXPECT_EQ(DesktopValue(Entry, "Icon"), Dir + "/" + P.Icon);

        // One uninstall entry with every value, each written with /f.
        QMap<QString, QPair<QString, QString>> Values;
        for (const QStringList &Call : Calls()) {
            ASSERT_EQ(Call.size(), 9) << Call.join(' ').toStdString();
            EXPECT_EQ(Call[0], "add");
            EXPECT_EQ(Call[1], orvane::site::UninstallKey(P));
            EXPECT_EQ(Call[1], "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + P.Id);
            EXPECT_EQ(Call[2], "/v");
            EXPECT_EQ(Call[4], "/t");
            EXPECT_EQ(Call[6], "/d");
            EXPECT_EQ(Call[8], "/f");
            Values[Call[3]] = {Call[5], Call[7]};
        }
        const QMap<QString, QPair<QString, QString>> Expected {
            {"DisplayName", {"REG_SZ", P.Title}},
            {"DisplayVersion", {"REG_SZ", P.Version}},
            {"Publisher", {"REG_SZ", P.Publisher}},
            {"InstallLocation", {"REG_SZ", Dir}},
            {"DisplayIcon", {"REG_SZ", Dir + "/" + P.Icon}},
            {"URLInfoAbout", {"REG_SZ", QString(Base) + "/index.php/soft_api#" + P.Id}},
        };
        for (auto It = Expected.begin(); It != Expected.end(); ++It)
            EXPECT_EQ(Values.value(It.key()), It.value()) << It.key().toStdString();
        EXPECT_EQ(Values.value("EstimatedSize").first, "REG_DWORD");
        EXPECT_GT(Values.value("EstimatedSize").second.toInt(), 0);
        EXPECT_TRUE(QRegularExpression("^20\\d\\d[01]\\d[0-3]\\d$")
                        .match(Values.value("InstallDate").second)
                        .hasMatch());
        EXPECT_EQ(Values.size(), 9);

        // The uninstall command is one quoted word that a shell runs as is;
        // it also finds the registry tool without being told.
        const QString Uninstall = Values.value("UninstallString").second;
        EXPECT_TRUE(Uninstall.startsWith('"') && Uninstall.endsWith('"')) << Uninstall.toStdString();
        QFile::remove(Log);
        const Result Removed = RunProcess("/bin/sh", {"-c", Uninstall}, Env({}, {}));
        ASSERT_EQ(Removed.Code, 0) << Removed.Err.toStdString();
        EXPECT_EQ(Calls(), (QVector<QStringList> {{"delete", orvane::site::UninstallKey(P), "/f"}}));
        EXPECT_FALSE(QFileInfo::exists(Dir));
        EXPECT_FALSE(QFileInfo::exists(Desktop));
        EXPECT_EQ(Tree(Data), QStringList {"applications/"});
    }
}

TEST_F(InstallerTest, FailsClearlyAndLeavesNothingWhenRegistrationIsImpossible)
{
    const Program &P = ById("notelark");
    const QString Data = Scratch.filePath("data");
    const struct
    {
        const char *Why;
        QString RegTool;
        const char *Message;
    } Cases[] = {
        {"no tool anywhere", QString(), "orvane-reg was not found"},
        {"ORVANE_REG names nothing", Scratch.filePath("missing-reg"), "orvane-reg was not found"},
        {"the tool fails", FailingReg, "could not register"},
    };
    for (const auto &C : Cases) {
        SCOPED_TRACE(C.Why);
        const Result Setup = Install(P, Env(Data, C.RegTool));
        EXPECT_NE(Setup.Code, 0);
        EXPECT_TRUE(Setup.Err.contains(C.Message)) << Setup.Err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(Data + "/orvane-demo")) << Tree(Data).join(' ').toStdString();
        EXPECT_FALSE(QFileInfo::exists(Data + "/applications/orvane-demo-notelark.desktop"));
    }
}

// Every installer of the catalogue is its own, well-formed and padded after
// its last command; a sample (each icon format, free and trial) installs and
// uninstalls in one shared home beside the others.
TEST_F(InstallerTest, CatalogueInstallersInstallBesideEachOther)
{
    const QString Data = Scratch.filePath("data");
    QSet<QByteArray> Seen;
    QSet<QString> SampledKinds;
    QStringList Titles;
    for (const Program &P : Site.Programs()) {
        if (!P.Downloadable)
            continue;
        SCOPED_TRACE(P.Id.toStdString());
        const QByteArray Script = orvane::site::MakeInstaller(P, Base);
        EXPECT_EQ(Script.size(), P.InstallerSize);
        EXPECT_GE(Script.size(), 200 * 1024);
        EXPECT_FALSE(Seen.contains(Script));
        Seen.insert(Script);
        const qsizetype Exit = Script.indexOf("\nexit 0\n");
        ASSERT_GT(Exit, 0);
        EXPECT_GT(Script.size() - Exit, 100 * 1024); // the padding follows the exit
        const QString Path = Scratch.filePath(P.Installer);
        ASSERT_TRUE(WriteFile(Path, Script));
        const Result Syntax = RunProcess("/bin/sh", {"-n", Path}, Env(Data, Reg));
        EXPECT_EQ(Syntax.Code, 0) << Syntax.Err.toStdString();

        const QString Kind = P.IconType + (P.Freeware ? " free" : " trial");
        if (SampledKinds.contains(Kind))
            continue;
        SampledKinds.insert(Kind);
        const Result Setup = Install(P, Env(Data, Reg));
        ASSERT_EQ(Setup.Code, 0) << Setup.Err.toStdString();
        Titles << P.Title;
    }
    EXPECT_GE(Titles.size(), 6);
    QStringList Registered, Uninstallers;
    for (const QStringList &Call : Calls()) {
        if (Call.value(3) == "DisplayName")
            Registered << Call.value(7);
        if (Call.value(3) == "UninstallString")
            Uninstallers << Call.value(7);
    }
    EXPECT_EQ(Registered, Titles);
    for (const QString &Uninstall : Uninstallers) {
        const Result Removed = RunProcess("/bin/sh", {"-c", Uninstall}, Env({}, {}));
        EXPECT_EQ(Removed.Code, 0) << Uninstall.toStdString() << Removed.Err.toStdString();
    }
    EXPECT_EQ(Tree(Data), QStringList {"applications/"});
}
