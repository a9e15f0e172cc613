// Second process for the single-instance tests.
//   single_instance_helper NAME hold MS   take the lock, print "ready" or "busy",
//                                         print each code handed over, end after MS
//   single_instance_helper NAME race MS   as hold, but print "first" / "second"
#include "platform/SingleInstance.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 4)
        return 2;
    const QString name = QString::fromLocal8Bit(argv[1]);
    const bool race = qstrcmp(argv[2], "race") == 0;
    const int ms = QByteArray(argv[3]).toInt();
    platform::SingleInstanceLock lock(name);
    const auto state = lock.acquire();
    if (state != platform::SingleInstanceLock::State::Acquired) {
        std::printf("%s\n", race ? "second" : "busy");
        return 0;
    }
    lock.setMessageHandler([](qint32 code) {
        std::printf("code %d\n", code);
        std::fflush(stdout);
    });
    std::printf("%s\n", race ? "first" : "ready");
    std::fflush(stdout);
    QTimer::singleShot(ms, &app, &QCoreApplication::quit);
    return app.exec();
}
