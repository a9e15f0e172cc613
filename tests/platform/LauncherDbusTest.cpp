#include "platform/Launcher.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMutex>
#include <QThread>
#include <QUrl>
#include <gtest/gtest.h>

// A file manager on the private session bus, served from a thread of its
// own so the launcher's blocking calls from the main thread get answers.
class FakeFileManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList calls() const
    {
        QMutexLocker lock(&m_mutex);
        return m_calls;
    }

public Q_SLOTS:
    void ShowFolders(const QStringList &uris, const QString &) { record("folders", uris); }
    void ShowItems(const QStringList &uris, const QString &) { record("items", uris); }
    void ShowItemProperties(const QStringList &uris, const QString &) { record("properties", uris); }

private:
    void record(const QString &method, const QStringList &uris)
    {
        QMutexLocker lock(&m_mutex);
        m_calls << method + u'|' + uris.join(u',');
    }
    mutable QMutex m_mutex;
    QStringList m_calls;
};

TEST(LauncherDbus, FileManagerGetsFileUris)
{
    int argc = 1;
    char arg0[] = "test";
    char *argv[] = {arg0, nullptr};
    QCoreApplication app(argc, argv);
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected());

    QThread serviceThread;
    serviceThread.start();
    FakeFileManager fake;
    fake.moveToThread(&serviceThread);
    QDBusConnection service = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "file-manager");
    ASSERT_TRUE(
        service.registerObject("/org/freedesktop/FileManager1", &fake, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService("org.freedesktop.FileManager1"));

    platform::ILauncher &l = platform::launcher();
    EXPECT_TRUE(l.showFolder("/tmp/some dir"));
    EXPECT_TRUE(l.showItem("/tmp/some dir/a#b.txt"));
    EXPECT_TRUE(l.showItemProperties("/tmp/x.txt"));
    EXPECT_EQ(fake.calls(),
              (QStringList {"folders|file:///tmp/some%20dir", "items|file:///tmp/some%20dir/a%23b.txt",
                            "properties|file:///tmp/x.txt"}));

    service.unregisterService("org.freedesktop.FileManager1");
    QDBusConnection::disconnectFromBus("file-manager");
    serviceThread.quit();
    serviceThread.wait();
}

#include "LauncherDbusTest.moc"
