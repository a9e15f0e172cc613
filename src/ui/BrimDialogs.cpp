#include "ui/BrimDialogs.h"

#include "core/AppFiles.h"
#include "core/BrimSystem.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QFileInfo>
#include <QLibrary>
#include <QPushButton>
#include <QWidget>
#include <memory>

namespace {

struct MessageBoxLibrary
{
    std::unique_ptr<QLibrary> library;
    CMBMessageBoxFn fn = nullptr;
    bool tried = false;
};

MessageBoxLibrary &messageBoxLibrary()
{
    static MessageBoxLibrary lib;
    return lib;
}

// The language files break lines with a line feed followed by a carriage
// return; a Qt label shows that carriage return as a blank at the start of
// the next line. Every pair and lone return becomes one line feed.
QString ShownLineBreaks(QString text)
{
    text.replace(QLatin1String("\n\r"), QLatin1String("\n"));
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

} // namespace

bool LoadMessageBoxLibrary()
{
    UnloadMessageBoxLibrary();
    MessageBoxLibrary &lib = messageBoxLibrary();
    lib.tried = true;
    const QString path = appfiles::MessageBoxLibrary();
    if (!QFileInfo::exists(path))
        return false;
    lib.library = std::make_unique<QLibrary>(path);
    if (!lib.library->load()) {
        lib.library.reset();
        return false;
    }
    lib.fn = reinterpret_cast<CMBMessageBoxFn>(lib.library->resolve("MessageBox"));
    return lib.fn != nullptr;
}

void UnloadMessageBoxLibrary()
{
    MessageBoxLibrary &lib = messageBoxLibrary();
    lib.fn = nullptr;
    if (lib.library)
        lib.library->unload();
    lib.library.reset();
    lib.tried = false;
}

MessageBoxLayout MessageBoxLayoutFor(quint32 type)
{
    using B = MessageBoxLayout::Button;
    MessageBoxLayout layout;
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        layout.buttons = {B {QMessageBox::Ok, {}, IDOK}, B {QMessageBox::Cancel, {}, IDCANCEL}};
        layout.closeId = IDCANCEL;
        break;
    case MB_ABORTRETRYIGNORE:
        layout.buttons = {B {QMessageBox::Abort, {}, IDABORT}, B {QMessageBox::Retry, {}, IDRETRY},
                          B {QMessageBox::Ignore, {}, IDIGNORE}};
        layout.hasEscape = false;
        layout.closeId = IDABORT;
        break;
    case MB_YESNOCANCEL:
        layout.buttons = {B {QMessageBox::Yes, {}, IDYES}, B {QMessageBox::No, {}, IDNO},
                          B {QMessageBox::Cancel, {}, IDCANCEL}};
        layout.closeId = IDCANCEL;
        break;
    case MB_YESNO:
        layout.buttons = {B {QMessageBox::Yes, {}, IDYES}, B {QMessageBox::No, {}, IDNO}};
        layout.hasEscape = false;
        layout.closeId = IDNO;
        break;
    case MB_RETRYCANCEL:
        layout.buttons = {B {QMessageBox::Retry, {}, IDRETRY}, B {QMessageBox::Cancel, {}, IDCANCEL}};
        layout.closeId = IDCANCEL;
        break;
    case MB_CANCELTRYCONTINUE:
        layout.buttons = {B {QMessageBox::Cancel, {}, IDCANCEL},
                          B {QMessageBox::NoButton, QMessageBox::tr("&Try Again"), IDTRYAGAIN},
                          B {QMessageBox::NoButton, QMessageBox::tr("&Continue"), IDCONTINUE}};
        layout.closeId = IDCANCEL;
        break;
    default: // MB_OK and values that name no button set
        layout.buttons = {B {QMessageBox::Ok, {}, IDOK}};
        layout.closeId = IDOK;
        break;
    }
    switch (type & MB_ICONMASK) {
    case MB_ICONERROR:
        layout.icon = QMessageBox::Critical;
        break;
    case MB_ICONQUESTION:
        layout.icon = QMessageBox::Question;
        break;
    case MB_ICONWARNING:
        layout.icon = QMessageBox::Warning;
        break;
    case MB_ICONINFORMATION:
        layout.icon = QMessageBox::Information;
        break;
    default:
        break;
    }
    const int wanted = int((type & MB_DEFMASK) >> 8);
    layout.defaultIndex = wanted < layout.buttons.size() ? wanted : 0;
    return layout;
}

int ShowMessageBox(QWidget *owner, const QString &text, const QString &caption, quint32 type,
                   quint16 languageId, quint32 reserved)
{
    MessageBoxLibrary &lib = messageBoxLibrary();
    if (!lib.tried)
        LoadMessageBoxLibrary();
    if (lib.fn) {
        const quintptr ownerId = owner ? quintptr(owner->window()->winId()) : 0;
        return lib.fn(ownerId, reinterpret_cast<const char16_t *>(text.utf16()),
                      reinterpret_cast<const char16_t *>(caption.utf16()), type, languageId, reserved);
    }

    const MessageBoxLayout layout = MessageBoxLayoutFor(type);
    QMessageBox box(layout.icon, caption, ShownLineBreaks(text), QMessageBox::NoButton, owner);
    if (type & MB_TOPMOST)
        box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    QList<QAbstractButton *> buttons;
    for (const MessageBoxLayout::Button &b : layout.buttons) {
        if (b.standard != QMessageBox::NoButton)
            buttons << box.addButton(b.standard);
        else
            buttons << box.addButton(b.text, QMessageBox::AcceptRole);
    }
    box.setDefaultButton(qobject_cast<QPushButton *>(buttons.at(layout.defaultIndex)));
    if (layout.hasEscape) {
        QAbstractButton *escape = buttons.first();
        for (int i = 0; i < layout.buttons.size(); ++i)
            if (layout.buttons.at(i).id == layout.closeId)
                escape = buttons.at(i);
        box.setEscapeButton(escape);
    }
    box.exec();
    const int index = buttons.indexOf(box.clickedButton());
    return index >= 0 ? layout.buttons.at(index).id : layout.closeId;
}

QString BrowseForFolder(const QString &title, QWidget *owner)
{
    return QFileDialog::getExistingDirectory(owner, title);
}

void BringFormToFront(QWidget *form)
{
    if (!form)
        return;
    if (form->isHidden())
        form->show();
    if (form->isMinimized())
        form->setWindowState((form->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    form->raise();
    form->activateWindow();
}
