#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

// The database login dialog: shows the file of an encrypted database and asks for its
// password.
class TDictLoginDialog : public QDialog
{
    Q_OBJECT
public:
    explicit TDictLoginDialog(const QString &fileName, QWidget *parent = nullptr);

    QString Password() const;

    // Shows the dialog modally; true with the entered password when the user chose OK.
    static bool Execute(const QString &fileName, QString &password, QWidget *parent = nullptr);

    QLabel *lblDatabase = nullptr;
    QLabel *lblPassword = nullptr;
    QLineEdit *edtDatabase = nullptr;
    QLineEdit *edtPassword = nullptr;
    QPushButton *btnOK = nullptr;
    QPushButton *btnCancel = nullptr;
};

// Makes the dialog the default session's login handler, so that opening an encrypted
// database without a fitting password asks the user. Cancel abandons the open
// silently. The dialog is owned by parent's window while shown (none: top level).
void installDictLoginDialog(QWidget *parent = nullptr);
