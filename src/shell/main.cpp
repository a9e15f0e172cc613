// Start-up: single instance, the main window, and the end of the run.
#include "core/AppFiles.h"
#include "core/BrimMultiLangs.h"
#include "core/BrimSystem.h"
#include "core/OVCommandLine.h"
#include "core/OVSingleInst.h"
#include "core/OVStartup.h"
#include "installed/UninstManager.h"
#include "online/HttpFetcher.h"
#include "platform/LanguageBroadcast.h"
#include "shell/Demonstration.h"
#include "shell/FormOVMain.h"
#include "ui/BrimDialogs.h"
#include "ui/BrimWebBrowser.h"
#include "ui/DictLoginDialog.h"

#include <QApplication>
#include <QCoreApplication>
#include <cstdio>

int main(int argc, char **argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const OVCommandLineOptions options = ParseCommandLineOptions(args);
    if (options.version) {
        std::printf("Orvane %s\n", qPrintable(GetFileVersionText()));
        return 0;
    }
    if (options.broadcastBad) {
        std::fprintf(stderr, "orvane: --broadcast-language needs a locale identifier from 0 to 65535\n");
        return 2;
    }
    if (options.broadcastLanguage >= 0) {
        QCoreApplication app(argc, argv);
        if (!SendLanguageBroadcast(quint16(options.broadcastLanguage))) {
            std::fprintf(stderr, "orvane: no session bus to send the language broadcast on\n");
            return 1;
        }
        return 0;
    }

    if (options.listInstalled) {
        // A listing for scripts: no window, no web engine, no hand-over to a running instance.
        QCoreApplication app(argc, argv);
        appfiles::Initialise();
        const quint16 language = LoadLanguageSelection(ConfigFileName()).LanguageId;
        TUninstManager manager;
        manager.SetSources(installed::MakeDefaultSources([language] { return language; }));
        manager.SetShowSystemComponents(options.listAll);
        manager.Rescan();
        for (const QString &line : installed::InstalledListing(manager)) {
            const QByteArray bytes = line.toUtf8() + '\n';
            std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        }
        std::fflush(stdout);
        return 0;
    }

    // Before any window: a second start hands its code over and ends.
    const int popupCode = GetPopupCode(args);
    if (CheckSingleInstance(popupCode) == InstanceRole::HandedOver)
        return 0;
    // Where the program's files live; a packaged program's first start seeds the user's folder.
    appfiles::Initialise();

    // The recommendation tab's two pages (the vendor's page and its copy)
    // share one renderer process: less memory, a quicker start. Without the
    // sandbox (running elevated) that process is started directly rather
    // than from pre-started helper processes.
    QStringList engineFlags {QStringLiteral("--renderer-process-limit=1")};
    if (qEnvironmentVariableIntValue("QTWEBENGINE_DISABLE_SANDBOX") == 1
        || qEnvironmentVariable("QTWEBENGINE_CHROMIUM_FLAGS").contains(QLatin1String("--no-sandbox")))
        engineFlags << QStringLiteral("--no-zygote");
    TBrimWebBrowser::PrepareApplication(engineFlags);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvane"));
    QApplication::setApplicationDisplayName(QStringLiteral("Orvane"));
    LoadMessageBoxLibrary();
    // Pictures of the toolkit (recommendation icons) come over the program's HTTP set-up.
    online::installHttpFetcher();

    int rc = 0;
    int handedOver = 0;
    int lastTab = -1;
    quint16 languageId = 0;
    {
        TFormOVMain form;
        // An encrypted database asks for its password in a dialog of the program's.
        installDictLoginDialog(&form);
        PrepareDemonstration(form, options);
        SetInstanceMessageHandler([&form, &handedOver](int code) {
            ++handedOver;
            ApplyPopupCode(code);
            BringFormToFront(&form);
        });
        form.FormCreate();
        form.KeepTaskListAtSessionEnd();
        for (const auto &[title, url] : options.addTasks)
            form.AddDownloadTask(title, url);
        if (options.selectTab >= 0)
            form.SelectTab(options.selectTab);
        StartDemonstration(form, options);
        rc = app.exec();
        lastTab = form.CurrentTab();
        languageId = form.LanguageId;
        SetInstanceMessageHandler({});
        form.FormDestroy();
    }

    ReleaseSingleInstance();
    UnloadMessageBoxLibrary();
    if (options.quitAfterMs >= 0) {
        std::printf("orvane: tab %d, handed over %d, language %u\n", lastTab, handedOver, uint(languageId));
        std::fflush(stdout);
    }
    return rc;
}
