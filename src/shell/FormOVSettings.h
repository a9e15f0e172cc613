#pragma once

#include <QDialog>
#include <functional>

class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSpinBox;
class TBrimImageButton;
class TBrimMultiLangs;
class TBrimSkinManager;

// The settings dialog: the four download settings, read from Config.ini when
// it opens and written back by OK and Apply. Fixed 500 x 360, skinned.
class TFormOVSettings : public QDialog
{
    Q_OBJECT
public:
    explicit TFormOVSettings(QWidget *owner = nullptr);
    ~TFormOVSettings() override;

    // Re-applies the texts of the current language (also on a language change).
    void ApplyTexts();
    // Loads the stored settings into the controls.
    void LoadFromSettings();
    // OK and Apply: the controls into the settings, then Config.ini.
    void StoreSettings();

    void btnOkClick();
    void btnApplyClick();
    void btnCancelClick();
    void btnDownloadsDirBrowseClick();
    void lblDownloadsDirOpenClick();
    void lblDownloadsDirDefaultClick();
    void rbFileKeepDaysClick();

    // The folder picker; BrowseForFolder by default (tests replace it).
    std::function<QString(const QString &Title, QWidget *Owner)> BrowseFolder;

    TBrimSkinManager *SkinMgr = nullptr;
    QLabel *lblDownloadsDirTitle = nullptr;
    QLineEdit *edtDownloadsDirValue = nullptr;
    TBrimImageButton *btnDownloadsDirBrowse = nullptr;
    QLabel *lblDownloadsDirOpen = nullptr;
    QLabel *lblDownloadsDirDefault = nullptr;
    QCheckBox *chkAutoInstallValue = nullptr;
    QLabel *lblAutoInstallDesc = nullptr;
    QRadioButton *rbFileKeepDays1 = nullptr;
    QSpinBox *sedtFileKeepDaysValue = nullptr;
    QRadioButton *rbFileKeepDays2 = nullptr;
    QRadioButton *rbFileKeepDays3 = nullptr;
    QCheckBox *chkResumeBrokenValue = nullptr;
    TBrimImageButton *btnOk = nullptr;
    TBrimImageButton *btnApply = nullptr;
    TBrimImageButton *btnCancel = nullptr;

private:
    void layoutTexts();

    TBrimMultiLangs *m_multiLangs = nullptr;
    QButtonGroup *m_keepDays = nullptr;
};
