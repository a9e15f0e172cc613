// orvane-site: serves the reference vendor site until SIGTERM or SIGINT.
//   orvane-site [--port N] [--bind ADDR] [--root DIR] [--tls-cert PEM --tls-key PEM]
// With a certificate and its key the site is served over HTTPS only.

#include "SiteServer.h"

#include <QFileInfo>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <thread>

namespace {

int Usage(const char *Why)
{
    std::fprintf(stderr,
                 "orvane-site: %s\nusage: orvane-site [--port N] [--bind ADDR] [--root DIR] "
                 "[--tls-cert PEM --tls-key PEM]\n",
                 Why);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    int Port = 8770;
    std::string Bind = "127.0.0.1";
    QString Root = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath() + "/site";
    QString CertFile, KeyFile;
    for (int I = 1; I < argc; ++I) {
        const std::string Arg = argv[I];
        if (Arg == "--help" || Arg == "-h") {
            Usage("reference vendor web site");
            return 0;
        }
        if (I + 1 >= argc)
            return Usage(("missing value after " + Arg).c_str());
        const char *Value = argv[++I];
        if (Arg == "--port") {
            bool Ok = false;
            Port = QString::fromLocal8Bit(Value).toInt(&Ok);
            // 0 picks a free port; the line printed at start names it.
            if (!Ok || Port < 0 || Port > 65535)
                return Usage("--port wants a number from 0 to 65535");
        } else if (Arg == "--bind") {
            Bind = Value;
        } else if (Arg == "--root") {
            Root = QString::fromLocal8Bit(Value);
        } else if (Arg == "--tls-cert") {
            CertFile = QString::fromLocal8Bit(Value);
        } else if (Arg == "--tls-key") {
            KeyFile = QString::fromLocal8Bit(Value);
        } else {
            return Usage(("unknown option " + Arg).c_str());
        }
    }

    // Signals go to one waiting thread so that stopping happens outside a handler.
    sigset_t Signals;
    sigemptyset(&Signals);
    sigaddset(&Signals, SIGTERM);
    sigaddset(&Signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &Signals, nullptr);

    if (CertFile.isEmpty() != KeyFile.isEmpty())
        return Usage("--tls-cert and --tls-key go together");

    orvane::site::SiteServer Server;
    QString Error;
    if (!CertFile.isEmpty() && !Server.UseTls(CertFile, KeyFile, Error)) {
        std::fprintf(stderr, "orvane-site: %s\n", qPrintable(Error));
        return 1;
    }
    if (!Server.Load(Root, Error)) {
        std::fprintf(stderr, "orvane-site: %s\n", qPrintable(Error));
        return 1;
    }
    if (Server.Bind(Bind, Port) <= 0) {
        const int Error = Server.BindError();
        std::fprintf(stderr, "orvane-site: cannot listen on %s:%d: %s\n", Bind.c_str(), Port,
                     Error == EADDRINUSE ? "the port is already in use"
                         : Error != 0    ? std::strerror(Error)
                                         : "the address is not available");
        return 1;
    }
    std::thread Waiter([&Server, Signals] {
        int Signal = 0;
        sigwait(&Signals, &Signal);
        Server.Stop();
    });
    std::printf("orvane-site: serving %s on %s/\n", qPrintable(Root), Server.BaseWithHost(Bind).c_str());
    std::fflush(stdout);
    const bool Ok = Server.Listen();
    if (Waiter.joinable()) {
        // Listen also ends on its own (error); wake the waiter so it can be joined.
        pthread_kill(Waiter.native_handle(), SIGTERM);
        Waiter.join();
    }
    return Ok ? 0 : 1;
}
