#include "shell/OVWebExternal.h"

#include "core/Sha256Digest.h"
#include "ui/BrimWebBrowser.h"

#include <exception>

TOVWebExternal::TOVWebExternal(TAddDownloadTask AddDownloadTask, QObject *Parent)
    : QObject(Parent)
    , m_addDownloadTask(std::move(AddDownloadTask))
{ }

QString TOVWebExternal::VariantText(const QVariant &Value)
{
    if (!Value.isValid() || Value.isNull())
        return QString();
    if (Value.typeId() == QMetaType::Bool)
        return Value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    return Value.toString();
}

QVariant TOVWebExternal::DownloadAndInstall(const QVariant &Title, const QVariant &Url,
                                            const QVariant &Sha256)
{
    if (!m_addDownloadTask)
        return TBrimWebBrowser::ScriptFault(QStringLiteral("Downloads are not available."));
    const QString given = VariantText(Sha256);
    const QString digest = core::NormalisedSha256(given);
    if (!given.isEmpty() && digest.isEmpty())
        return TBrimWebBrowser::ScriptFault(
            QStringLiteral("The SHA-256 digest must be 64 hexadecimal digits; no task was added."));
    try {
        const QString error = m_addDownloadTask(VariantText(Title), VariantText(Url), digest);
        if (!error.isEmpty())
            return TBrimWebBrowser::ScriptFault(error);
    } catch (const std::exception &e) {
        return TBrimWebBrowser::ScriptFault(QString::fromUtf8(e.what()));
    }
    return {};
}
