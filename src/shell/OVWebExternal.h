#pragma once

// The object recommendation pages reach as window.external: one method,
// DownloadAndInstall(Title, Url), that turns a link into a download task.

#include <QObject>
#include <QString>
#include <QVariant>
#include <functional>

class TOVWebExternal : public QObject
{
    Q_OBJECT
public:
    // Adds a task; returns an empty text, or the reason it could not (it may also throw).
    using TAddDownloadTask = std::function<QString(const QString &Title, const QString &Url)>;

    explicit TOVWebExternal(TAddDownloadTask AddDownloadTask, QObject *Parent = nullptr);

    // Both values as text (null or undefined: empty text). The page's promise
    // is rejected with the error's text when the task could not be added.
    Q_INVOKABLE QVariant DownloadAndInstall(const QVariant &Title, const QVariant &Url);

    // A script value as text.
    static QString VariantText(const QVariant &Value);

private:
    TAddDownloadTask m_addDownloadTask;
};
