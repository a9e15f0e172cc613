#include "ui/DictLoginDialog.h"

#include "support/DbTestUtil.h"
#include "support/GuiApp.h"
#include "support/Wait.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace {

// Runs act on the login dialog once it is shown modally (from inside its own loop).
void whenLoginShows(std::function<void(TDictLoginDialog *)> act)
{
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, act] {
        auto *dialog = qobject_cast<TDictLoginDialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        act(dialog);
    });
    poll->start(10);
}

class DictLoginDialogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testsupport::guiApp();
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("secret.db"));
        TDictCreateOptions o;
        o.Encrypted = true;
        o.Password = QStringLiteral("open sesame");
        dictdb::CreateDatabaseFile(path, o, {everyTypeTable()});
        {
            TDictDatabase db;
            db.DatabaseName = path;
            db.KeepConnection = true;
            db.SetPassword(o.Password);
            TDictTable t;
            openTable(t, path, QStringLiteral("All"));
            t.AppendRecord({0, QStringLiteral("hidden")});
        }
        installDictLoginDialog();
    }
    void TearDown() override { TDictSession::Default().OnLogin = nullptr; }

    // Opens the encrypted table through the default session, as the program does.
    QString openAndRead()
    {
        TDictTable t;
        openTable(t, path, QStringLiteral("All"));
        t.First();
        return t.FieldByName(QStringLiteral("Name"))->AsString();
    }

    QTemporaryDir dir;
    QString path;
};

} // namespace

TEST_F(DictLoginDialogTest, ShowsTheFileAndAsksForThePassword)
{
    TDictLoginDialog dialog(path);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Database Login"));
    EXPECT_EQ(dialog.size(), QSize(281, 154));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << "fixed size";
    EXPECT_EQ(dialog.lblDatabase->text(), QStringLiteral("Database:"));
    EXPECT_EQ(dialog.lblPassword->text(), QStringLiteral("Password:"));
    EXPECT_EQ(dialog.edtDatabase->text(), path);
    EXPECT_TRUE(dialog.edtDatabase->isReadOnly());
    EXPECT_EQ(dialog.btnOK->text(), QStringLiteral("&OK"));
    EXPECT_EQ(dialog.btnCancel->text(), QStringLiteral("&Cancel"));
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QTest::keyClicks(dialog.edtPassword, QStringLiteral("abc"));
    EXPECT_EQ(dialog.Password(), QStringLiteral("abc"));
    EXPECT_EQ(dialog.edtPassword->displayText(), QStringLiteral("***"));
    // Enter chooses OK
    QTest::keyClick(dialog.edtPassword, Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(DictLoginDialogTest, PasswordAndOkOpenTheEncryptedFile)
{
    QString shownFile;
    whenLoginShows([&](TDictLoginDialog *d) {
        shownFile = d->edtDatabase->text();
        QTest::keyClicks(d->edtPassword, QStringLiteral("open sesame"));
        QTest::mouseClick(d->btnOK, Qt::LeftButton);
    });
    EXPECT_EQ(openAndRead(), QStringLiteral("hidden"));
    EXPECT_EQ(shownFile, path);
}

TEST_F(DictLoginDialogTest, CancelAbandonsTheOpenSilently)
{
    whenLoginShows([](TDictLoginDialog *d) { QTest::mouseClick(d->btnCancel, Qt::LeftButton); });
    EXPECT_THROW(openAndRead(), EDictDBAbort);
    EXPECT_EQ(TDictSession::Default().FindDatabase(path), nullptr) << "the file was let go";
}

TEST_F(DictLoginDialogTest, WrongPasswordIsRefused)
{
    whenLoginShows([](TDictLoginDialog *d) {
        QTest::keyClicks(d->edtPassword, QStringLiteral("Open sesame"));
        QTest::keyClick(d->edtPassword, Qt::Key_Return);
    });
    try {
        openAndRead();
        FAIL() << "opened with a wrong password";
    } catch (const EDictDBError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Access denied"));
    }
}
