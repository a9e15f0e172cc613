#pragma once

#include "core/MessageBoxTypes.h"

#include <QList>
#include <QMessageBox>
#include <QString>

class QWidget;

// The export an optional CMBLib.so beside the executable may offer in place
// of the built-in message box. Text and caption are NUL-terminated UTF-16;
// owner is the native window id of the owner (0 for none); the result is
// one of the ID* answers.
extern "C" {
using CMBMessageBoxFn = int (*)(quintptr owner, const char16_t *text, const char16_t *caption, quint32 type,
                                quint16 languageId, quint32 reserved);
}

// Loads <app>CMBLib.so and looks up its "MessageBox" export; true when found.
// Runs once at start; calling it again reloads (tests).
bool LoadMessageBoxLibrary();
void UnloadMessageBoxLibrary();

// A modal message box laid out by Windows type flags (buttons, icon, default
// button); returns IDOK, IDCANCEL, IDYES, IDNO ... Uses the library's box
// when one was loaded.
int ShowMessageBox(QWidget *owner, const QString &text, const QString &caption, quint32 type,
                   quint16 languageId = 0, quint32 reserved = 0);

// How ShowMessageBox lays out a type: its buttons in order with their
// answers, the icon, the default button's index and the answer when the box
// is closed without a button.
struct MessageBoxLayout
{
    struct Button
    {
        QMessageBox::StandardButton standard; // NoButton for the ones Qt lacks
        QString text; // for those
        int id;
    };
    QList<Button> buttons;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int defaultIndex = 0;
    int closeId = IDOK;
    bool hasEscape = true; // Escape and the close button answer closeId
};
MessageBoxLayout MessageBoxLayoutFor(quint32 type);

// The folder picker; the chosen folder's path, or empty text when cancelled.
QString BrowseForFolder(const QString &title, QWidget *owner);

// Makes a window visible, restores it from minimised and brings it to the
// foreground; nothing for a null window.
void BringFormToFront(QWidget *form);
