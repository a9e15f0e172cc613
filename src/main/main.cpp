// Start-up: single instance, settings, language selection, working
// directories, the window, and the end of the run.
#include "OVShellWindow.h"
#include "app/BrimMultiLangs.h"
#include "app/BrimSystem.h"
#include "app/OVCommandLine.h"
#include "app/OVDefaultTexts.h"
#include "app/OVSettings.h"
#include "app/OVSingleInst.h"
#include "app/OVStartup.h"
#include "app/gui/BrimDialogs.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>

namespace {

struct Options
{
    bool version = false;
    int quitAfterMs = -1; // smoke starts: end the loop after this long and report
};

Options parseOptions(const QStringList &args)
{
    Options o;
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--version")) {
            o.version = true;
        } else if (args.at(i) == QLatin1String("--quit-after") && i + 1 < args.size()) {
            bool ok = false;
            const int ms = args.at(++i).toInt(&ok);
            if (ok && ms >= 0)
                o.quitAfterMs = ms;
        }
    }
    return o;
}

} // namespace

int main(int argc, char **argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const Options options = parseOptions(args);
    if (options.version) {
        std::printf("Orvane %s\n", qPrintable(GetFileVersionText()));
        return 0;
    }

    // Before any window: a second start hands its code over and ends.
    const int popupCode = GetPopupCode(args);
    if (CheckSingleInstance(popupCode) == InstanceRole::HandedOver)
        return 0;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvane"));
    QApplication::setApplicationDisplayName(QStringLiteral("Orvane"));
    LoadMessageBoxLibrary();

    TBrimMultiLangs multiLangs;
    multiLangs.SetOnMakeDefault(MultiLangsMakeDefault);
    SetOVMultiLangs(&multiLangs);

    OVShellWindow window;
    int handedOver = 0;
    SetPopupTabSelector([&window](int tab) { window.SelectTab(tab); });
    SetInstanceMessageHandler([&window, &handedOver](int code) {
        ++handedOver;
        ApplyPopupCode(code);
        BringFormToFront(&window);
    });

    OVSettings::LoadSettings(ConfigFileName());
    const LanguageSelection language = LoadLanguageSelection();
    multiLangs.LoadLanguageFile(language.LanguageFile);
    ForceAppDirs();
    ApplyPopupCode(popupCode);
    window.show();

    if (options.quitAfterMs >= 0)
        QTimer::singleShot(options.quitAfterMs, &app, &QApplication::quit);
    const int rc = app.exec();

    SetPopupTabSelector({});
    SetInstanceMessageHandler({});
    ReleaseSingleInstance();
    SetOVMultiLangs(nullptr);
    UnloadMessageBoxLibrary();
    if (options.quitAfterMs >= 0) {
        std::printf("orvane: tab %d, handed over %d, language %u\n", window.CurrentTab(), handedOver,
                    uint(language.LanguageId));
        std::fflush(stdout);
    }
    return rc;
}
