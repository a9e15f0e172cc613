#pragma once

#include "platform/Launcher.h"

#include <QStringList>

// Stands in for the system launcher: records every request and starts nothing.
class RecordingLauncher final : public platform::ILauncher
{
public:
    RecordingLauncher() { platform::setLauncher(this); }
    ~RecordingLauncher() override { platform::setLauncher(nullptr); }

    bool startProgram(const QStringList &argv) override { return record(QStringLiteral("start"), argv); }
    bool openWithDesktop(const QString &target) override { return record(QStringLiteral("open"), {target}); }
    bool showFolder(const QString &dir) override { return record(QStringLiteral("folder"), {dir}); }
    bool showItem(const QString &file) override { return record(QStringLiteral("item"), {file}); }
    bool showItemProperties(const QString &file) override
    {
        return record(QStringLiteral("properties"), {file});
    }
    // Asked, not done: kept apart from the calls.
    bool canOpenType(const QString &mimeType, const QStringList &) override
    {
        typeQueries << mimeType;
        return canOpen;
    }

    // Each request as "kind|arg1|arg2...".
    QStringList calls;
    bool succeed = true;
    // Kinds of request that fail even when the others succeed ("open", "start", ...).
    QStringList failingKinds;
    // What canOpenType answers, and the types it was asked about.
    bool canOpen = true;
    QStringList typeQueries;

private:
    bool record(const QString &kind, const QStringList &args)
    {
        calls << (QStringList {kind} + args).join(u'|');
        return succeed && !failingKinds.contains(kind);
    }
};
