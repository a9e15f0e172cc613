#include "platform/DpkgStatus.h"

#include <cstring>

namespace platform {

namespace {

bool fieldIs(const char *name, qsizetype len, const char *want)
{
    const qsizetype n = qsizetype(std::strlen(want));
    return len == n && qstrnicmp(name, want, size_t(n)) == 0;
}

QString trimmedUtf8(const char *p, qsizetype len)
{
    while (len > 0 && (*p == ' ' || *p == '\t')) {
        ++p;
        --len;
    }
    while (len > 0 && (p[len - 1] == ' ' || p[len - 1] == '\t' || p[len - 1] == '\r'))
        --len;
    return QString::fromUtf8(p, len);
}

bool isArchitecture(const QString &arch)
{
    if (arch.isEmpty())
        return false;
    for (QChar c : arch)
        if (!(c.isDigit() || (c >= u'a' && c <= u'z') || c == u'-'))
            return false;
    return true;
}

} // namespace

bool isValidPackageName(const QString &name)
{
    if (name.size() < 2)
        return false;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name.at(i);
        const bool alnum = (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9');
        if (i == 0 ? !alnum : !(alnum || c == u'+' || c == u'-' || c == u'.'))
            return false;
    }
    return true;
}

QString DpkgPackage::qualifiedName() const
{
    if (multiArchSame && isArchitecture(architecture))
        return name + u':' + architecture;
    return name;
}

bool DpkgPackage::isInstalled() const
{
    return status == u"installed" || status == u"half-configured" || status == u"unpacked"
        || status == u"half-installed" || status == u"triggers-awaited" || status == u"triggers-pending";
}

QList<DpkgPackage> parseDpkgStatus(const QByteArray &data)
{
    QList<DpkgPackage> out;
    DpkgPackage current;
    bool any = false;
    auto flush = [&] {
        if (any && isValidPackageName(current.name))
            out.append(std::move(current));
        current = DpkgPackage();
        any = false;
    };
    const char *p = data.constData();
    const char *end = p + data.size();
    while (p < end) {
        const char *nl = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        const char *lineEnd = nl ? nl : end;
        const qsizetype len = lineEnd - p;
        if (len == 0 || (len == 1 && *p == '\r')) {
            flush();
        } else if (*p != ' ' && *p != '\t') {
            const char *colon = static_cast<const char *>(std::memchr(p, ':', size_t(len)));
            if (colon) {
                const qsizetype nameLen = colon - p;
                const char *v = colon + 1;
                const qsizetype vlen = lineEnd - v;
                any = true;
                if (fieldIs(p, nameLen, "Package"))
                    current.name = trimmedUtf8(v, vlen);
                else if (fieldIs(p, nameLen, "Status")) {
                    const QString s = trimmedUtf8(v, vlen);
                    current.status = s.section(u' ', 2, 2, QString::SectionSkipEmpty);
                    current.want = s.section(u' ', 0, 0, QString::SectionSkipEmpty);
                } else if (fieldIs(p, nameLen, "Priority"))
                    current.priority = trimmedUtf8(v, vlen).toLower();
                else if (fieldIs(p, nameLen, "Essential"))
                    current.essential = trimmedUtf8(v, vlen).compare(u"yes", Qt::CaseInsensitive) == 0;
                else if (fieldIs(p, nameLen, "Protected"))
                    current.protectedPackage = trimmedUtf8(v, vlen).compare(u"yes", Qt::CaseInsensitive) == 0;
                else if (fieldIs(p, nameLen, "Architecture"))
                    current.architecture = trimmedUtf8(v, vlen);
                else if (fieldIs(p, nameLen, "Multi-Arch"))
                    current.multiArchSame = trimmedUtf8(v, vlen) == u"same";
                else if (fieldIs(p, nameLen, "Version"))
                    current.version = trimmedUtf8(v, vlen);
                else if (fieldIs(p, nameLen, "Maintainer"))
                    current.maintainer = trimmedUtf8(v, vlen);
                else if (fieldIs(p, nameLen, "Homepage"))
                    current.homepage = trimmedUtf8(v, vlen);
                else if (fieldIs(p, nameLen, "Description"))
                    current.summary = trimmedUtf8(v, vlen);
                else if (fieldIs(p, nameLen, "Installed-Size")) {
                    bool ok = false;
                    const qint64 n = trimmedUtf8(v, vlen).toLongLong(&ok);
                    current.installedSizeKiB = ok && n >= 0 ? n : -1;
                }
            }
        }
        p = nl ? nl + 1 : end;
    }
    flush();
    return out;
}

} // namespace platform
