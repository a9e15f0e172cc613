#include "platform/Launcher.h"

#include "platform/ProcessJob.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFileInfo>
#include <QUrl>
#include <atomic>

namespace platform {
namespace {

const QString kFileManagerService = QStringLiteral("org.freedesktop.FileManager1");
const QString kFileManagerPath = QStringLiteral("/org/freedesktop/FileManager1");
constexpr int kOpenerWaitMs = 10000;

// An argument that begins with '-' would be read as an option by the opener.
QString safeOpenerArgument(const QString &target)
{
    if (target.startsWith(u'-'))
        return QStringLiteral("./") + target;
    return target;
}

class SystemLauncher final : public ILauncher
{
public:
    bool startProgram(const QStringList &argv) override { return startDetached(argv) > 0; }

    bool openWithDesktop(const QString &target) override
    {
        if (target.isEmpty())
            return false;
        // The opener reports "no program can open this" only through its exit
        // status; one that is still busy after a while has found a handler.
        const int code
            = runAndWaitForExit({QStringLiteral("xdg-open"), safeOpenerArgument(target)}, kOpenerWaitMs);
        return code == 0 || code == kStillRunning;
    }

    bool showFolder(const QString &dir) override
    {
        return callFileManager(QStringLiteral("ShowFolders"), dir) || openWithDesktop(dir);
    }

    bool showItem(const QString &file) override
    {
        return callFileManager(QStringLiteral("ShowItems"), file)
            || openWithDesktop(QFileInfo(file).absolutePath());
    }

    bool showItemProperties(const QString &file) override
    {
        return callFileManager(QStringLiteral("ShowItemProperties"), file)
            || openWithDesktop(QFileInfo(file).absolutePath());
    }

private:
    // The file manager interface of the desktop, when a session bus offers one.
    static bool callFileManager(const QString &method, const QString &path)
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            return false;
        QDBusConnectionInterface *iface = bus.interface();
        if (!iface)
            return false;
        if (!iface->isServiceRegistered(kFileManagerService).value()
            && !iface->activatableServiceNames().value().contains(kFileManagerService))
            return false;
        QDBusMessage call = QDBusMessage::createMethodCall(kFileManagerService, kFileManagerPath,
                                                           kFileManagerService, method);
        const QString uri
            = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded);
        call << QStringList {uri} << QString();
        const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
        return reply.type() == QDBusMessage::ReplyMessage;
    }
};

SystemLauncher systemLauncher;
std::atomic<ILauncher *> current {nullptr};

} // namespace

ILauncher &launcher()
{
    ILauncher *l = current.load();
    return l ? *l : systemLauncher;
}

void setLauncher(ILauncher *replacement)
{
    current.store(replacement);
}

} // namespace platform
