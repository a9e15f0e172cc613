// orvane-wapi --url URL [--lng N] [--plain] software_top3 KEYWORDS...
// Calls the web API the way the program does and prints the decoded answer
// and the recommendations read from it. Exit status: 0 success, 1 the call
// failed, 2 bad command line.
#include "online/WebAPIClient.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>

namespace {

int usage(QTextStream &err)
{
    err << "usage: orvane-wapi --url URL [--lng N] [--plain] software_top3 KEYWORDS...\n"
           "  --url URL   the web API endpoint\n"
           "  --lng N     language identifier of the answer (default 1033)\n"
           "  --plain     send parameter values without obscuring them\n";
    return 2;
}

void printSide(QTextStream &out, const char *name, const QString &moreUrl, int count,
               const QVector<TSoftwareItem> &items)
{
    out << name << ": shown " << count << " of " << items.size() << " item(s), more: " << moreUrl << "\n";
    for (int i = 0; i < items.size(); ++i) {
        const TSoftwareItem &item = items[i];
        out << "  [" << i << "]" << (i < count ? "" : " (not shown)") << " " << item.Title << "\n"
            << "      description: " << item.Description << "\n"
            << "      icon: " << item.IconURL << "\n"
            << "      details: " << item.DetailsURL << "\n"
            << "      download: " << item.DownloadURL << "\n"
            << "      sha256: " << (item.Sha256.isEmpty() ? QStringLiteral("(none)") : item.Sha256) << "\n"
            << "      purchase: " << item.PurchaseURL << "\n"
            << "      freeware: " << (item.Freeware ? "yes" : "no") << "\n";
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);

    TWebAPIClient client;
    client.LanguageID = 1033;
    QStringList rest;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == QLatin1String("--url") && i + 1 < args.size()) {
            client.APIUrl = args[++i];
        } else if (a == QLatin1String("--lng") && i + 1 < args.size()) {
            bool ok = false;
            const uint lng = args[++i].toUInt(&ok);
            if (!ok || lng > 0xFFFF)
                return usage(err);
            client.LanguageID = quint16(lng);
        } else if (a == QLatin1String("--plain")) {
            client.Encrypt = false;
        } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            usage(out);
            return 0;
        } else if (a.startsWith(QLatin1String("--"))) {
            return usage(err);
        } else {
            rest << a;
        }
    }
    if (client.APIUrl.trimmed().isEmpty() || rest.isEmpty() || rest.first() != QLatin1String("software_top3"))
        return usage(err);
    const QString keywords = rest.mid(1).join(QLatin1Char(' '));

    TSoftwareTop3 top3;
    const bool ok = client.GetSoftwareTop3(keywords, top3);
    out << "answer: " << client.LastResponse << "\n";
    out << "result: " << (ok ? "success" : "failed") << "\n";
    if (ok) {
        printSide(out, "paid", top3.PayMoreURL, top3.PayCount, top3.PayItems);
        printSide(out, "free", top3.FreeMoreURL, top3.FreeCount, top3.FreeItems);
    }
    return ok ? 0 : 1;
}
