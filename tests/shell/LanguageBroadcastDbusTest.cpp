#include "MainWindowTestSupport.h"
#include "online/WebAPIClient.h"
#include "platform/LanguageBroadcast.h"
#include "shell/FormOVSettings.h"
#include "ui/BrimImageButton.h"

#include <QAction>
#include <QLabel>
#include <QProcess>
#include <QTimer>

using namespace mwtest;

TEST(LanguageBroadcast, OnlyWellFormedValuesCarryALanguage)
{
    const quint32 msg = LanguageBroadcastMessage();
    EXPECT_GE(msg, 0xC000u);
    EXPECT_LE(msg, 0xFFFFu);
    const qint64 lp = LanguageBroadcastLParam(2052);
    struct Case
    {
        quint32 message;
        quint64 wParam;
        qint64 lParam;
        int lcid;
    } cases[] = {
        {msg, 1, lp, 2052},
        {msg, 0xFFFFFFFFull, lp, 2052}, // any non-zero wParam
        {msg, 0, lp, -1}, // wParam 0
        {msg, 1, lp ^ 1, -1}, // wrong low word
        {msg, 1, qint64(msg & 0xFFFF), 0}, // LCID 0 is a language like any other
        {msg + 1, 1, lp, -1}, // another message
        {msg, 1, lp | (qint64(1) << 40), 2052}, // bits above 32 are not looked at
    };
    for (const Case &c : cases)
        EXPECT_EQ(LanguageFromBroadcast(c.message, c.wParam, c.lParam), c.lcid)
            << c.wParam << " " << c.lParam;
}

namespace {

class Broadcast : public MainWindowFixture
{
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        ASSERT_TRUE(
            writeFile(appDir + "Langs/1031/Orvane.ini",
                      "[HEAD]\r\nLCID=1031\r\n[LANG_ITEMS]\r\nFormOVMain.btnTabTopX.Caption=Programme\r\n"
                      "FormOVMain.mniMainAbout.Caption=Info...\r\nString.URL.WAPI=http://127.0.0.1:9/de\r\n"
                      "FormOVSettings.lblDownloadsDirOpen.Caption=Ordner oeffnen\r\n"));
        // The second language lacks the tab caption.
        ASSERT_TRUE(
            writeFile(appDir + "Langs/1036/Orvane.ini",
                      "[HEAD]\r\nLCID=1036\r\n[LANG_ITEMS]\r\nFormOVMain.mniMainAbout.Caption=A propos...\r\n"
                      "FormOVSettings.lblDownloadsDirOpen.Caption=Ouvrir le dossier\r\n"));
        makeForm();
        ASSERT_TRUE(waitUntil([&] { return boxes.size() >= 2; }));
    }
};

} // namespace

TEST_F(Broadcast, ProgramsBroadcastSwitchesTheLanguageAndKeepsKeysTheNextFileLacks)
{
    TFormOVMain &f = *form;
    ASSERT_EQ(f.btnTabTopX->Caption(), "Software");

    // The sender is the program itself, as another process.
    // The window's match rule reaches the bus asynchronously; a broadcast sent
    // before it is registered is lost, so the sender tries again until heard.
    bool heard = false;
    for (int attempt = 0; attempt < 5 && !heard; ++attempt) {
        QProcess sender;
        sender.start(QStringLiteral(ORVANE_EXE), {"--broadcast-language", "1031"});
        ASSERT_TRUE(sender.waitForFinished(20000));
        EXPECT_EQ(sender.exitCode(), 0) << sender.readAllStandardError().constData();
        heard = waitUntil([&] { return f.LanguageId == 1031; }, 3000);
    }
    ASSERT_TRUE(heard);
    EXPECT_EQ(f.btnTabTopX->Caption(), "Programme");
    EXPECT_EQ(f.mniMainAbout->text(), "Info...");
    EXPECT_EQ(f.LanguageFile, appDir + "Langs/1031/Orvane.ini");
    EXPECT_EQ(f.WebAPI()->APIUrl, "http://127.0.0.1:9/de");
    EXPECT_EQ(f.WebAPI()->LanguageID, 1031);

    ASSERT_TRUE(SendLanguageBroadcast(1036));
    ASSERT_TRUE(waitUntil([&] { return f.LanguageId == 1036; }));
    EXPECT_EQ(f.mniMainAbout->text(), "A propos...");
    EXPECT_EQ(f.btnTabTopX->Caption(), "Programme"); // missing from the second file
    EXPECT_EQ(f.Header->lblTabTasks->text(), "Download(0) / Install(0)");

    // Malformed broadcasts change nothing. The valid one sent after them arrives after them, and
    // its language has no file: had a malformed one been taken for 1031, its texts would remain.
    ASSERT_TRUE(SendLanguageBroadcastRaw(LanguageBroadcastMessage(), 0, LanguageBroadcastLParam(1031)));
    ASSERT_TRUE(
        SendLanguageBroadcastRaw(LanguageBroadcastMessage(), 1, LanguageBroadcastLParam(1031) ^ 0x10));

    // A language without a file: the texts stay, the identifier follows.
    ASSERT_TRUE(SendLanguageBroadcast(3082));
    ASSERT_TRUE(waitUntil([&] { return f.LanguageId == 3082; }));
    EXPECT_EQ(f.mniMainAbout->text(), "A propos...");
}

TEST_F(Broadcast, OpenSettingsDialogTakesTheNewTexts)
{
    TFormOVMain &f = *form;
    QString before, after;
    QTimer::singleShot(0, &f, [&] {
        TFormOVSettings *dialog = f.FormSettings();
        if (!dialog)
            return;
        before = dialog->lblDownloadsDirOpen->text();
        SendLanguageBroadcast(1031);
        waitUntil([&] { return dialog->lblDownloadsDirOpen->text() != before; });
        after = dialog->lblDownloadsDirOpen->text();
        dialog->btnCancel->Click();
    });
    f.mniMainSettingsClick();
    EXPECT_EQ(before, "Open this folder");
    EXPECT_EQ(after, "Ordner oeffnen");
}

TEST(LanguageBroadcastSender, RefusesABadIdentifier)
{
    for (const char *arg : {"65536", "x", "-1"}) {
        QProcess sender;
        sender.start(QStringLiteral(ORVANE_EXE), {"--broadcast-language", arg});
        ASSERT_TRUE(sender.waitForFinished(20000));
        EXPECT_EQ(sender.exitCode(), 2) << arg;
    }
}
