#pragma once

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class TBrimImage;
class TBrimImageButton;
class TBrimMultiLangs;
class TBrimSkinManager;

// The about dialog: logo, name, version, copyright, a link to the home page
// and a description. Fixed 500 x 360, skinned.
class TFormOVAbout : public QDialog
{
    Q_OBJECT
public:
    // homeUrl: the home page the link opens and shows as its hint.
    explicit TFormOVAbout(const QString &homeUrl, QWidget *owner = nullptr);
    ~TFormOVAbout() override;

    // Re-applies the texts of the current language; homeUrl as for the constructor.
    void ApplyTexts(const QString &homeUrl);
    void ApplyTexts() { ApplyTexts(m_homeUrl); }

    void btnCancelClick();
    void lblHomeClick();

    TBrimSkinManager *SkinMgr = nullptr;
    TBrimImage *imgLogo = nullptr;
    QLabel *lblTitle = nullptr;
    QLabel *lblVersion = nullptr;
    QLabel *lblCopyright = nullptr;
    QLabel *lblHome = nullptr;
    QPlainTextEdit *mmoDesc = nullptr;
    TBrimImageButton *btnCancel = nullptr;

private:
    TBrimMultiLangs *m_multiLangs = nullptr;
    QString m_homeUrl;
};
