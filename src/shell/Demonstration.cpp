#include "shell/Demonstration.h"

#include "core/BrimMultiLangs.h"
#include "core/MessageBoxTypes.h"
#include "core/OVCommandLine.h"
#include "shell/FormOVMain.h"
#include "ui/BrimDialogs.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QTimer>
#include <cstdio>

namespace {

// Fixed delays: a picture has no event that says the window looks finished.
constexpr int kDialogDelayMs = 300; // the window is on screen
constexpr int kSelectRowDelayMs = 1500; // the tab has filled its list
constexpr int kScreenshotDelayMs = 2500; // without --quit-after

void selectRowLater(TFormOVMain &form, int row)
{
    // Once the tab has filled its list: the row's selected look and panels.
    QTimer::singleShot(kSelectRowDelayMs, &form, [&form, row] {
        for (QAbstractItemView *list : form.findChildren<QAbstractItemView *>()) {
            if (!list->isVisible() || !list->model() || row >= list->model()->rowCount())
                continue;
            list->setFocus();
            list->setCurrentIndex(list->model()->index(row, 0));
            break;
        }
    });
}

void openDialogLater(TFormOVMain &form, const QString &dialog)
{
    if (dialog == QLatin1String("settings"))
        QTimer::singleShot(kDialogDelayMs, &form, [&form] { form.mniMainSettingsClick(); });
    else if (dialog == QLatin1String("about"))
        QTimer::singleShot(kDialogDelayMs, &form, [&form] { form.mniMainAboutClick(); });
    else if (dialog == QLatin1String("history"))
        QTimer::singleShot(kDialogDelayMs, &form, [&form] { form.mniMainHistoryClick(); });
    else if (dialog == QLatin1String("leftovers"))
        QTimer::singleShot(kDialogDelayMs, &form, [&form] { form.mniMainLeftoversClick(); });
    else if (dialog == QLatin1String("question"))
        // The longest question the program asks, to see how message boxes look.
        QTimer::singleShot(kDialogDelayMs, &form, [&form] {
            ShowMessageBox(&form,
                           OVFormatText(QStringLiteral("String.MsgText.TerminateQuery"),
                                        {QStringLiteral("evolution-alarm-notify"), 24817}),
                           OVGetText(QStringLiteral("String.MsgTitle.Question")),
                           MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2, form.LanguageId);
        });
}

// The shown dialog, or else the window, to a PNG file; the run ends with the result.
void takeScreenshotLater(TFormOVMain &form, const QString &out, int delayMs)
{
    QTimer::singleShot(delayMs, &form, [&form, out] {
        QWidget *shown = QApplication::activeModalWidget();
        const bool ok = (shown ? shown : static_cast<QWidget *>(&form))->grab().save(out, "PNG");
        std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "wrote" : "could not write", qPrintable(out));
        QApplication::exit(ok ? 0 : 1);
    });
}

} // namespace

void PrepareDemonstration(TFormOVMain &Form, const OVCommandLineOptions &Options)
{
    if (!Options.screenshot.isEmpty())
        Form.MessageBox = [](QWidget *, const QString &, const QString &, unsigned, quint16) { return IDNO; };
}

void StartDemonstration(TFormOVMain &Form, const OVCommandLineOptions &Options)
{
    if (Options.selectRow >= 0)
        selectRowLater(Form, Options.selectRow);
    openDialogLater(Form, Options.openDialog);
    if (Options.quitAfterMs >= 0)
        QTimer::singleShot(Options.quitAfterMs, QCoreApplication::instance(), &QCoreApplication::quit);
    if (!Options.screenshot.isEmpty())
        takeScreenshotLater(Form, Options.screenshot,
                            Options.quitAfterMs >= 0 ? Options.quitAfterMs / 2 : kScreenshotDelayMs);
}
