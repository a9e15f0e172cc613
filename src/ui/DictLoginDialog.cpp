#include "ui/DictLoginDialog.h"

#include "db/DictSession.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QThread>

TDictLoginDialog::TDictLoginDialog(const QString &fileName, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("DictLoginDialog"));
    setWindowTitle(QStringLiteral("Database Login"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(281, 154);

    lblDatabase = new QLabel(QStringLiteral("Database:"), this);
    lblDatabase->setObjectName(QStringLiteral("lblDatabase"));
    lblDatabase->setGeometry(16, 18, 70, 21);
    edtDatabase = new QLineEdit(fileName, this);
    edtDatabase->setObjectName(QStringLiteral("edtDatabase"));
    edtDatabase->setReadOnly(true);
    edtDatabase->setGeometry(88, 16, 177, 23);
    edtDatabase->setCursorPosition(0);
    edtDatabase->setToolTip(fileName); // a long path does not fit the field

    lblPassword = new QLabel(QStringLiteral("Password:"), this);
    lblPassword->setObjectName(QStringLiteral("lblPassword"));
    lblPassword->setGeometry(16, 56, 70, 21);
    edtPassword = new QLineEdit(this);
    edtPassword->setObjectName(QStringLiteral("edtPassword"));
    edtPassword->setEchoMode(QLineEdit::Password);
    edtPassword->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }")); // '*'
    edtPassword->setGeometry(88, 54, 177, 23);
    lblPassword->setBuddy(edtPassword);
    lblDatabase->setBuddy(edtDatabase);

    btnOK = new QPushButton(QStringLiteral("&OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setGeometry(104, 110, 75, 27);
    btnOK->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(190, 110, 75, 27);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    setTabOrder(edtPassword, btnOK);
    setTabOrder(btnOK, btnCancel);
    setTabOrder(btnCancel, edtDatabase);
    edtPassword->setFocus();
}

QString TDictLoginDialog::Password() const
{
    return edtPassword->text();
}

bool TDictLoginDialog::Execute(const QString &fileName, QString &password, QWidget *parent)
{
    TDictLoginDialog dialog(fileName, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    password = dialog.Password();
    return true;
}

void installDictLoginDialog(QWidget *parent)
{
    TDictSession::Default().OnLogin
        = [owner = QPointer<QWidget>(parent)](TDictSession *, const QString &fileName, QString &password) {
              // a dialog needs the GUI thread; elsewhere the login counts as cancelled
              QCoreApplication *app = QCoreApplication::instance();
              if (!qobject_cast<QApplication *>(app) || QThread::currentThread() != app->thread())
                  return false;
              return TDictLoginDialog::Execute(fileName, password, owner.data());
          };
}
