#include "platform/AppPath.h"
#include "support/GuiApp.h"
#include "ui/BrimDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

using testsupport::guiApp;

// Shows a box and, once it is up, presses a button chosen from it.
int showAndPress(quint32 type, const std::function<QAbstractButton *(QMessageBox *)> &choose,
                 QMessageBox::Icon *icon = nullptr, QStringList *buttons = nullptr)
{
    guiApp();
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        if (icon)
            *icon = box->icon();
        if (buttons)
            for (QAbstractButton *b : box->buttons())
                *buttons << b->text().remove('&');
        if (QAbstractButton *b = choose(box))
            b->click();
        else
            box->reject(); // closed without a button
    });
    return ShowMessageBox(nullptr, "text", "caption", type, 0, 0);
}

} // namespace

TEST(ShellDialogs, TypeFlagsMapToButtonsIconAndDefault)
{
    struct Case
    {
        quint32 type;
        QList<int> ids;
        QMessageBox::Icon icon;
        int defaultIndex;
        int closeId;
    } cases[] = {
        {MB_OK, {IDOK}, QMessageBox::NoIcon, 0, IDOK},
        {MB_OKCANCEL | MB_ICONERROR, {IDOK, IDCANCEL}, QMessageBox::Critical, 0, IDCANCEL},
        {MB_ABORTRETRYIGNORE | MB_DEFBUTTON3, {IDABORT, IDRETRY, IDIGNORE}, QMessageBox::NoIcon, 2, IDABORT},
        {MB_YESNOCANCEL | MB_ICONWARNING | MB_DEFBUTTON2,
         {IDYES, IDNO, IDCANCEL},
         QMessageBox::Warning,
         1,
         IDCANCEL},
        {MB_YESNO | MB_ICONINFORMATION, {IDYES, IDNO}, QMessageBox::Information, 0, IDNO},
        {MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON4, {IDYES, IDNO}, QMessageBox::Question, 0, IDNO},
        {MB_RETRYCANCEL, {IDRETRY, IDCANCEL}, QMessageBox::NoIcon, 0, IDCANCEL},
        {MB_CANCELTRYCONTINUE, {IDCANCEL, IDTRYAGAIN, IDCONTINUE}, QMessageBox::NoIcon, 0, IDCANCEL},
        {0xF, {IDOK}, QMessageBox::NoIcon, 0, IDOK},
    };
    for (const Case &c : cases) {
        const MessageBoxLayout layout = MessageBoxLayoutFor(c.type);
        QList<int> ids;
        for (const auto &b : layout.buttons)
            ids << b.id;
        EXPECT_EQ(ids, c.ids) << c.type;
        EXPECT_EQ(layout.icon, c.icon) << c.type;
        EXPECT_EQ(layout.defaultIndex, c.defaultIndex) << c.type;
        EXPECT_EQ(layout.closeId, c.closeId) << c.type;
    }
}

TEST(ShellDialogs, BoxAnswersWithTheButtonPressed)
{
    UnloadMessageBoxLibrary();
    platform::setApplicationDirectoryOverride("/nonexistent-app-dir");
    LoadMessageBoxLibrary();
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
    // The upgrade question of every start: Yes/No with the information icon.
    EXPECT_EQ(showAndPress(
                  MB_YESNO | MB_ICONINFORMATION, [](QMessageBox *b) { return b->buttons().value(0); }, &icon,
                  &buttons),
              IDYES);
    EXPECT_EQ(icon, QMessageBox::Information);
    EXPECT_EQ(buttons.size(), 2);
    EXPECT_EQ(showAndPress(MB_YESNO | MB_DEFBUTTON2, [](QMessageBox *b) { return b->defaultButton(); }),
              IDNO);
    EXPECT_EQ(showAndPress(MB_OKCANCEL, [](QMessageBox *) { return nullptr; }), IDCANCEL);
    EXPECT_EQ(showAndPress(MB_OK, [](QMessageBox *b) { return b->escapeButton(); }), IDOK);
    EXPECT_EQ(
        showAndPress(MB_CANCELTRYCONTINUE | MB_DEFBUTTON3, [](QMessageBox *b) { return b->defaultButton(); }),
        IDCONTINUE);
    platform::setApplicationDirectoryOverride({});
}

// The language files' line break (line feed, carriage return) and the
// other break pairs show as one line break, with no blank on the next line.
TEST(ShellDialogs, LineBreaksOfTheTextShowAsLineBreaks)
{
    UnloadMessageBoxLibrary();
    platform::setApplicationDirectoryOverride("/nonexistent-app-dir");
    LoadMessageBoxLibrary();
    guiApp();
    const struct
    {
        const char *text, *shown;
    } cases[] = {
        {"loss of data.\n\rAre you sure?", "loss of data.\nAre you sure?"},
        {"a\r\nb", "a\nb"},
        {"a\rb", "a\nb"},
        {"a\n\r\n\rb", "a\n\nb"},
        {"a\r\n\r\nb", "a\n\nb"},
        {"a\nb", "a\nb"},
        {"one line", "one line"},
    };
    for (const auto &c : cases) {
        QString shown;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            shown = box->text();
            box->buttons().value(0)->click();
        });
        EXPECT_EQ(ShowMessageBox(nullptr, QString::fromUtf8(c.text), "caption", MB_OK, 0, 0), IDOK);
        EXPECT_EQ(shown, QString::fromUtf8(c.shown)) << c.text;
    }
    platform::setApplicationDirectoryOverride({});
}

TEST(ShellDialogs, LibraryBesideTheExecutableTakesOver)
{
    guiApp();
    platform::setApplicationDirectoryOverride(CMBLIB_DIR);
    ASSERT_TRUE(LoadMessageBoxLibrary());
    EXPECT_EQ(ShowMessageBox(nullptr, "Upgrade now?", "Upgrade", MB_YESNO | MB_ICONINFORMATION, 2052, 0),
              IDYES);
    EXPECT_EQ(ShowMessageBox(nullptr, "other", "Upgrade", MB_YESNO | MB_ICONINFORMATION, 2052, 0), 99);
    UnloadMessageBoxLibrary();
    platform::setApplicationDirectoryOverride({});
}

TEST(ShellDialogs, BringFormToFrontShowsAndRestores)
{
    guiApp();
    BringFormToFront(nullptr);
    QWidget form;
    BringFormToFront(&form);
    EXPECT_TRUE(form.isVisible());
    form.showMinimized();
    QApplication::processEvents();
    BringFormToFront(&form);
    QApplication::processEvents();
    EXPECT_FALSE(form.windowState() & Qt::WindowMinimized);
    EXPECT_TRUE(form.isVisible());
}

TEST(ShellDialogs, BrowseForFolderGivesTheChoiceOrNothing)
{
    guiApp();
    QTemporaryDir dir;
    auto answer = [](const QString &choice) {
        QTimer::singleShot(0, [choice] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(dialog->windowTitle(), "Pick a folder");
            if (choice.isEmpty()) {
                dialog->reject();
            } else {
                dialog->selectFile(choice);
                static_cast<QDialog *>(dialog)->accept(); // QFileDialog hides it; it is the same slot
            }
        });
        return BrowseForFolder("Pick a folder", nullptr);
    };
    EXPECT_EQ(answer(dir.path()), dir.path());
    EXPECT_EQ(answer({}), "");
}
