#pragma once

// The object recommendation pages reach as window.external: one method,
// DownloadAndInstall(Title, Url[, Sha256]), that turns a link into a download
// task, checked against the vendor's digest when the page gives one.

#include <QObject>
#include <QString>
#include <QVariant>
#include <functional>

class TOVWebExternal : public QObject
{
    Q_OBJECT
public:
    // Adds a task; returns an empty text, or the reason it could not (it may also throw).
    // Sha256 is a digest in its stored form, or empty.
    using TAddDownloadTask
        = std::function<QString(const QString &Title, const QString &Url, const QString &Sha256)>;

    explicit TOVWebExternal(TAddDownloadTask AddDownloadTask, QObject *Parent = nullptr);

    // The values as text (null or undefined: empty text). The page's promise
    // is rejected with the error's text when the task could not be added. An
    // empty or missing Sha256 adds a task without a digest, as pages did
    // before digests; one that is not 64 hexadecimal digits is refused and
    // adds no task: a page that means to vouch for a file but cannot say how
    // is broken or tampered with, and its download would run unchecked.
    Q_INVOKABLE QVariant DownloadAndInstall(const QVariant &Title, const QVariant &Url,
                                            const QVariant &Sha256 = QVariant());

    // A script value as text.
    static QString VariantText(const QVariant &Value);

private:
    TAddDownloadTask m_addDownloadTask;
};
