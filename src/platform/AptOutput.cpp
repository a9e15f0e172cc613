#include "platform/AptCommand.h"
#include "platform/DpkgStatus.h"
#include "platform/PackageRemoval.h"

#include <QList>

namespace platform {

namespace {

QString packagePart(const QString &name)
{
    const qsizetype colon = name.indexOf(u':');
    return colon < 0 ? name : name.left(colon);
}

} // namespace

QStringList parseAptRemovals(const QByteArray &simulationOutput)
{
    QStringList out;
    for (const QByteArray &line : simulationOutput.split('\n')) {
        if (!line.startsWith("Remv ") && !line.startsWith("Purg "))
            continue;
        const QByteArray rest = line.mid(5).trimmed();
        const qsizetype blank = rest.indexOf(' ');
        const QString name = QString::fromUtf8(blank < 0 ? rest : rest.left(blank));
        // An architecture qualifier is lower-case letters, digits and '-'.
        const qsizetype colon = name.indexOf(u':');
        bool valid = isValidPackageName(packagePart(name));
        if (colon >= 0) {
            const QString arch = name.mid(colon + 1);
            valid = valid && !arch.isEmpty();
            for (QChar c : arch)
                if (!((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-'))
                    valid = false;
        }
        if (valid && !out.contains(name))
            out << name;
    }
    return out;
}

QString aptErrorText(const QByteArray &errors)
{
    const QString text = QString::fromUtf8(errors);
    QStringList lines;
    for (const QString &line : text.split(u'\n')) {
        if (line.startsWith(QLatin1String("E: ")))
            lines << line.mid(3).trimmed();
    }
    if (!lines.isEmpty()) {
        lines.removeDuplicates();
        return lines.join(u'\n');
    }
    // Without error lines, the end of what it wrote says most (a failed maintainer script).
    QStringList all = text.trimmed().split(u'\n', Qt::SkipEmptyParts);
    while (all.size() > 8)
        all.removeFirst();
    return all.join(u'\n');
}

QString aptFailureText(const QByteArray &output, const QByteArray &errors)
{
    // Its error line alone only says that it gave up ("held broken packages"):
    // the reason is the list before it.
    QStringList unmet;
    bool inList = false;
    for (const QByteArray &line : output.split('\n')) {
        if (line.startsWith("The following packages have unmet dependencies")) {
            inList = true;
            continue;
        }
        if (inList && line.startsWith(' ') && !line.trimmed().isEmpty())
            unmet << QString::fromUtf8(line.trimmed());
        else
            inList = false;
    }
    QString text = aptErrorText(errors);
    if (text.isEmpty())
        text = aptErrorText(output);
    if (!unmet.isEmpty())
        text = unmet.join(u'\n') + (text.isEmpty() ? QString() : u'\n' + text);
    return text;
}

bool samePackage(const QString &aptName, const QString &requested)
{
    if (aptName == requested)
        return true;
    const bool aptQualified = aptName.contains(u':');
    const bool requestQualified = requested.contains(u':');
    // apt leaves out the machine's own architecture; a qualified name on both sides must match exactly.
    if (aptQualified && requestQualified)
        return false;
    return packagePart(aptName) == packagePart(requested);
}

} // namespace platform
