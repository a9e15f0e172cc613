// orvane-reg: edit and read the registry hives.
//
//   orvane-reg add KEY [/v NAME | /ve] [/t REG_SZ|REG_EXPAND_SZ|REG_DWORD] [/d DATA] [/f]
//   orvane-reg delete KEY [/v NAME | /ve] [/f]
//   orvane-reg query KEY [/v NAME | /ve] [/s]
//
// The hives are the program's: in Registry/ beside this program, or in the
// user's folder when the program is installed as a package; ORVANE_REGISTRY_DIR
// names another folder. Exit code 0 on success, 1 when a key or value is
// missing or a change failed, 2 for a wrong command line.

#include "core/AppFiles.h"
#include "platform/Registry.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>

using namespace platform;

namespace {

void out(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
}

int fail(int code, const QString &message)
{
    std::fprintf(stderr, "orvane-reg: %s\n", message.toUtf8().constData());
    return code;
}

const char kUsage[]
    = "usage: orvane-reg add KEY [/v NAME | /ve] [/t REG_SZ|REG_EXPAND_SZ|REG_DWORD] [/d DATA] [/f]\n"
      "       orvane-reg delete KEY [/v NAME | /ve] [/f]\n"
      "       orvane-reg query KEY [/v NAME | /ve] [/s]\n"
      "KEY is ROOT\\path with ROOT one of HKLM HKCU HKCR HKU HKCC (or their long names).\n";

struct Options
{
    QString command;
    QString key;
    bool hasValue = false;
    QString valueName;
    QString type = QStringLiteral("REG_SZ");
    bool hasData = false;
    QString data;
    bool force = false;
    bool recursive = false;
};

bool isSwitch(const QString &arg, const char *name)
{
    return arg.compare(QLatin1String(name), Qt::CaseInsensitive) == 0
        || (arg.startsWith(u'-') && arg.mid(1).compare(QLatin1String(name + 1), Qt::CaseInsensitive) == 0);
}

QString parseOptions(const QStringList &args, Options &o)
{
    if (args.size() < 2)
        return QStringLiteral("missing command or key");
    o.command = args.at(0).toLower();
    o.key = args.at(1);
    const bool add = o.command == u"add";
    for (qsizetype i = 2; i < args.size(); ++i) {
        const QString &a = args.at(i);
        auto next = [&](QString &into) {
            if (i + 1 >= args.size())
                return false;
            into = args.at(++i);
            return true;
        };
        if (isSwitch(a, "/v")) {
            if (!next(o.valueName))
                return QStringLiteral("/v needs a value name");
            if (o.valueName.isEmpty())
                return QStringLiteral("/v needs a value name (use /ve for the default value)");
            o.hasValue = true;
        } else if (isSwitch(a, "/ve")) {
            o.hasValue = true;
            o.valueName.clear();
        } else if (add && isSwitch(a, "/t")) {
            if (!next(o.type))
                return QStringLiteral("/t needs a type");
            o.type = o.type.toUpper();
        } else if (add && isSwitch(a, "/d")) {
            if (!next(o.data))
                return QStringLiteral("/d needs data");
            o.hasData = true;
        } else if (o.command != u"query" && isSwitch(a, "/f")) {
            o.force = true;
        } else if (o.command == u"query" && isSwitch(a, "/s")) {
            o.recursive = true;
        } else {
            return QStringLiteral("unexpected argument \"%1\"").arg(a);
        }
    }
    QString root, path;
    RegSplitPath(o.key, root, path);
    if (RegRootKey(root) == 0)
        return QStringLiteral("unknown root key \"%1\"").arg(root);
    return {};
}

QString fullKey(const QString &key)
{
    QString root, path;
    RegSplitPath(key, root, path);
    const QString norm = RegHive::normalisePath(path);
    const QString rootName = RegRootName(RegRootKey(root));
    return norm.isEmpty() ? rootName : rootName + u'\\' + norm;
}

int add(const Options &o)
{
    if (!o.hasValue && !o.hasData) {
        const RegWriteResult r = RegCreateKey(o.key);
        return r ? 0 : fail(1, r.error);
    }
    RegValue v;
    v.name = o.valueName;
    if (o.type == u"REG_SZ" || o.type == u"REG_EXPAND_SZ") {
        v.type = o.type == u"REG_SZ" ? REG_SZ : REG_EXPAND_SZ;
        v.isText = true;
        v.text = o.data;
    } else if (o.type == u"REG_DWORD") {
        bool ok = false;
        const QString d = o.data.trimmed();
        qint64 n = d.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? d.mid(2).toLongLong(&ok, 16)
                                                                          : d.toLongLong(&ok, 10);
        if (!o.hasData) {
            ok = true;
            n = 0;
        }
        if (!ok || n < -2147483648LL || n > 0xFFFFFFFFLL)
            return fail(2, QStringLiteral("REG_DWORD data must be a 32-bit number, not \"%1\"").arg(o.data));
        const quint32 u = quint32(n);
        v.type = REG_DWORD;
        v.bytes = QByteArray(4, '\0');
        for (int k = 0; k < 4; ++k)
            v.bytes[k] = char((u >> (8 * k)) & 0xFF);
    } else {
        return fail(
            2, QStringLiteral("unsupported type \"%1\" (REG_SZ, REG_EXPAND_SZ or REG_DWORD)").arg(o.type));
    }
    if (!o.force && RegKeyExists(o.key)) {
        for (const RegValue &existing : RegReadValues(o.key))
            if (existing.name.compare(v.name, Qt::CaseInsensitive) == 0)
                return fail(1,
                            QStringLiteral("the value \"%1\" exists already; add /f to overwrite it")
                                .arg(v.name.isEmpty() ? QStringLiteral("(Default)") : v.name));
    }
    const RegWriteResult r = RegSetValue(o.key, v);
    return r ? 0 : fail(1, r.error);
}

int remove(const Options &o)
{
    bool notFound = false;
    const RegWriteResult r
        = o.hasValue ? RegDeleteValue(o.key, o.valueName, &notFound) : RegDeleteKey(o.key, &notFound);
    if (!r)
        return fail(1, r.error);
    if (notFound)
        return fail(1, QStringLiteral("the registry key or value was not found: %1").arg(o.key));
    return 0;
}

void printValue(const RegValue &v)
{
    out(QStringLiteral("    %1    %2    %3")
            .arg(v.name.isEmpty() ? QStringLiteral("(Default)") : v.name, v.typeName(), v.dataText()));
}

void printKey(const QString &key, bool recursive)
{
    out(fullKey(key));
    for (const RegValue &v : RegReadValues(key))
        printValue(v);
    out(QString());
    QStringList subKeys;
    RegKeyNames(key, subKeys);
    for (const QString &sub : subKeys) {
        const QString path = fullKey(key) + u'\\' + sub;
        if (recursive)
            printKey(path, true);
        else
            out(path);
    }
}

int query(const Options &o)
{
    RegistryReadScope scope;
    if (!RegKeyExists(o.key))
        return fail(1, QStringLiteral("the registry key was not found: %1").arg(o.key));
    if (o.hasValue) {
        for (const RegValue &v : RegReadValues(o.key))
            if (v.name.compare(o.valueName, Qt::CaseInsensitive) == 0) {
                out(fullKey(o.key));
                printValue(v);
                return 0;
            }
        return fail(1, QStringLiteral("the value \"%1\" was not found in %2").arg(o.valueName, o.key));
    }
    printKey(o.key, o.recursive);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty() || args.first() == u"--help" || args.first() == u"/?") {
        std::fputs(kUsage, args.isEmpty() ? stderr : stdout);
        return args.isEmpty() ? 2 : 0;
    }
    // The program's own hives, wherever its layout keeps them.
    appfiles::Initialise();
    const QByteArray dir = qgetenv("ORVANE_REGISTRY_DIR");
    if (!dir.isEmpty())
        setRegistryDirectory(QString::fromLocal8Bit(dir));

    Options o;
    const QString error = parseOptions(args, o);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "orvane-reg: %s\n%s", error.toUtf8().constData(), kUsage);
        return 2;
    }
    if (o.command == u"add")
        return add(o);
    if (o.command == u"delete")
        return remove(o);
    if (o.command == u"query")
        return query(o);
    std::fprintf(stderr, "orvane-reg: unknown command \"%s\"\n%s", o.command.toUtf8().constData(), kUsage);
    return 2;
}
