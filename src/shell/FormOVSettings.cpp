#include "shell/FormOVSettings.h"

#include "core/AppFiles.h"
#include "core/BrimMultiLangs.h"
#include "core/BrimSystem.h"
#include "core/OVSettings.h"
#include "core/OVStartup.h"
#include "ui/BrimDialogs.h"
#include "ui/BrimImageButton.h"
#include "ui/BrimSkin.h"
#include "ui/BrimSkinManager.h"
#include "ui/OVLangBridge.h"
#include "ui/OVWindowLook.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>

namespace {

constexpr int kWidth = 500;
constexpr int kHeight = 360;

template<class W> W *named(W *w, const char *name)
{
    w->setObjectName(QLatin1String(name));
    return w;
}

void styleText(QWidget *w, const QColor &color = ovlook::Ink)
{
    w->setFont(ovlook::UiFont(12));
    ovlook::SetTextColor(w, color);
}

} // namespace

TFormOVSettings::TFormOVSettings(QWidget *owner)
    : QDialog(owner)
{
    setObjectName(QStringLiteral("FormOVSettings"));
    setModal(true);
    BrowseFolder = [](const QString &title, QWidget *o) { return BrowseForFolder(title, o); };

    // The program-wide language component.
    m_multiLangs = OVMultiLangs();

    // The controls, in keyboard order.
    lblDownloadsDirTitle = named(new QLabel(this), "lblDownloadsDirTitle");
    lblDownloadsDirTitle->setFont(ovlook::UiFont(12, true));
    ovlook::SetTextColor(lblDownloadsDirTitle, ovlook::Ink);
    lblDownloadsDirTitle->setGeometry(20, 42, 460, 20);

    edtDownloadsDirValue = named(new QLineEdit(this), "edtDownloadsDirValue");
    edtDownloadsDirValue->setFont(ovlook::UiFont(12));
    edtDownloadsDirValue->setGeometry(20, 66, 402, 26);
    lblDownloadsDirTitle->setBuddy(edtDownloadsDirValue);

    btnDownloadsDirBrowse = ovlook::NewActionButton(this, QStringLiteral("btnDownloadsDirBrowse"), true);
    btnDownloadsDirBrowse->SetCaption(QStringLiteral("..."));
    btnDownloadsDirBrowse->setGeometry(428, 66, 52, 26);
    btnDownloadsDirBrowse->OnClick = [this](QObject *) { btnDownloadsDirBrowseClick(); };

    lblDownloadsDirOpen = ovlook::NewLinkLabel(this, QStringLiteral("lblDownloadsDirOpen"));
    lblDownloadsDirOpen->move(20, 98);
    connect(lblDownloadsDirOpen, &QLabel::linkActivated, this, [this] { lblDownloadsDirOpenClick(); });
    lblDownloadsDirDefault = ovlook::NewLinkLabel(this, QStringLiteral("lblDownloadsDirDefault"));
    lblDownloadsDirDefault->move(120, 98);
    connect(lblDownloadsDirDefault, &QLabel::linkActivated, this, [this] { lblDownloadsDirDefaultClick(); });

    auto *line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setStyleSheet(QStringLiteral("color: #dbe2ea"));
    line->setGeometry(20, 124, 460, 1);

    chkAutoInstallValue = named(new QCheckBox(this), "chkAutoInstallValue");
    styleText(chkAutoInstallValue);
    chkAutoInstallValue->setGeometry(20, 134, 460, 22);
    lblAutoInstallDesc = named(new QLabel(this), "lblAutoInstallDesc");
    styleText(lblAutoInstallDesc, ovlook::Muted);
    lblAutoInstallDesc->setGeometry(42, 155, 438, 18);

    m_keepDays = new QButtonGroup(this);
    rbFileKeepDays1 = named(new QRadioButton(this), "rbFileKeepDays1");
    styleText(rbFileKeepDays1);
    rbFileKeepDays1->move(20, 184);
    sedtFileKeepDaysValue = named(new QSpinBox(this), "sedtFileKeepDaysValue");
    sedtFileKeepDaysValue->setRange(1, 100);
    sedtFileKeepDaysValue->setValue(OVSettings::DefaultFileKeepDays);
    // Changed by its arrows only.
    if (auto *spinText = sedtFileKeepDaysValue->findChild<QLineEdit *>())
        spinText->setReadOnly(true);
    sedtFileKeepDaysValue->setFont(ovlook::UiFont(12));
    sedtFileKeepDaysValue->resize(64, 24);
    rbFileKeepDays2 = named(new QRadioButton(this), "rbFileKeepDays2");
    styleText(rbFileKeepDays2);
    rbFileKeepDays2->setGeometry(20, 212, 460, 22);
    rbFileKeepDays3 = named(new QRadioButton(this), "rbFileKeepDays3");
    styleText(rbFileKeepDays3);
    rbFileKeepDays3->setGeometry(20, 238, 460, 22);
    m_keepDays->addButton(rbFileKeepDays1);
    m_keepDays->addButton(rbFileKeepDays2);
    m_keepDays->addButton(rbFileKeepDays3);
    // Checking by the program runs the same rule as a click.
    for (QRadioButton *rb : {rbFileKeepDays1, rbFileKeepDays2, rbFileKeepDays3})
        connect(rb, &QRadioButton::toggled, this, [this](bool on) {
            if (on)
                rbFileKeepDaysClick();
        });

    auto *line2 = new QFrame(this);
    line2->setFrameShape(QFrame::HLine);
    line2->setStyleSheet(QStringLiteral("color: #dbe2ea"));
    line2->setGeometry(20, 268, 460, 1);

    chkResumeBrokenValue = named(new QCheckBox(this), "chkResumeBrokenValue");
    styleText(chkResumeBrokenValue);
    chkResumeBrokenValue->setGeometry(20, 278, 300, 22);

    btnOk = ovlook::NewActionButton(this, QStringLiteral("btnOk"), false);
    btnOk->SetDefault(true);
    btnOk->OnClick = [this](QObject *) { btnOkClick(); };
    btnApply = ovlook::NewActionButton(this, QStringLiteral("btnApply"), true);
    btnApply->OnClick = [this](QObject *) { btnApplyClick(); };
    btnCancel = ovlook::NewActionButton(this, QStringLiteral("btnCancel"), true);
    btnCancel->SetCancel(true);
    btnCancel->OnClick = [this](QObject *) { btnCancelClick(); };
    btnCancel->move(kWidth - 20 - 84, kHeight - 16 - 26);
    btnApply->move(btnCancel->x() - 8 - 84, btnCancel->y());
    btnOk->move(btnApply->x() - 8 - 84, btnCancel->y());

    setTabOrder(edtDownloadsDirValue, btnDownloadsDirBrowse);
    setTabOrder(btnDownloadsDirBrowse, lblDownloadsDirOpen);
    setTabOrder(lblDownloadsDirOpen, lblDownloadsDirDefault);
    setTabOrder(lblDownloadsDirDefault, chkAutoInstallValue);
    setTabOrder(chkAutoInstallValue, rbFileKeepDays1);
    setTabOrder(rbFileKeepDays1, sedtFileKeepDaysValue);
    setTabOrder(sedtFileKeepDaysValue, rbFileKeepDays2);
    setTabOrder(rbFileKeepDays2, rbFileKeepDays3);
    setTabOrder(rbFileKeepDays3, chkResumeBrokenValue);
    setTabOrder(chkResumeBrokenValue, btnOk);
    setTabOrder(btnOk, btnApply);
    setTabOrder(btnApply, btnCancel);

    // The skinned frame.
    SkinMgr = ovlook::SetupDialogSkin(this, kWidth, kHeight);
    ovlook::MakeLabelsTransparent(this);

    // Texts, then the stored values.
    ApplyTexts();
    LoadFromSettings();
    btnOk->setFocus();
}

TFormOVSettings::~TFormOVSettings() = default;

void TFormOVSettings::ApplyTexts()
{
    if (!m_multiLangs)
        return;
    const auto text = [this](const char *key) { return OVGetText(QLatin1String(key)); };
    if (const auto f = ovlang::GetFont(m_multiLangs, QStringLiteral("FormOVSettings.SkinMgr.Title.Font"))) {
        TBrimColorFont title = SkinMgr->Title().Font();
        title.Font = f->font.resolve(title.Font);
        if (f->color.isValid())
            title.Color = f->color;
        SkinMgr->Title().SetFont(title);
    }
    SkinMgr->Title().SetText(text("FormOVSettings.SkinMgr.Title.Text"));
    if (TBrimImageButton *close = SkinMgr->CommandButton(TSMButtonKind::Close))
        close->setAccessibleName(text("String.Close"));
    setWindowTitle(text("FormOVSettings.Caption"));
    lblDownloadsDirTitle->setText(text("FormOVSettings.lblDownloadsDirTitle.Caption"));
    const QString browseHint = text("FormOVSettings.btnDownloadsDirBrowse.Hint");
    btnDownloadsDirBrowse->setToolTip(browseHint);
    btnDownloadsDirBrowse->setAccessibleName(browseHint);
    lblDownloadsDirOpen->setText(text("FormOVSettings.lblDownloadsDirOpen.Caption"));
    lblDownloadsDirDefault->setText(text("FormOVSettings.lblDownloadsDirDefault.Caption"));
    chkAutoInstallValue->setText(text("FormOVSettings.chkAutoInstallValue.Caption"));
    lblAutoInstallDesc->setText(text("FormOVSettings.lblAutoInstallDesc.Caption"));
    rbFileKeepDays1->setText(text("FormOVSettings.rbFileKeepDays1.Caption"));
    rbFileKeepDays2->setText(text("FormOVSettings.rbFileKeepDays2.Caption"));
    rbFileKeepDays3->setText(text("FormOVSettings.rbFileKeepDays3.Caption"));
    chkResumeBrokenValue->setText(text("FormOVSettings.chkResumeBrokenValue.Caption"));
    btnOk->SetCaption(text("String.Button.Ok"));
    btnApply->SetCaption(text("String.Button.Apply"));
    btnCancel->SetCaption(text("String.Button.Cancel"));
    for (TBrimImageButton *b : {btnOk, btnApply, btnCancel})
        b->setAccessibleName(b->Caption());
    layoutTexts();
}

void TFormOVSettings::layoutTexts()
{
    lblDownloadsDirOpen->adjustSize();
    lblDownloadsDirDefault->adjustSize();
    lblDownloadsDirDefault->move(lblDownloadsDirOpen->x() + lblDownloadsDirOpen->width() + 6,
                                 lblDownloadsDirOpen->y());
    rbFileKeepDays1->adjustSize();
    sedtFileKeepDaysValue->move(rbFileKeepDays1->x() + rbFileKeepDays1->width() + 6,
                                rbFileKeepDays1->y() + (rbFileKeepDays1->height() - 24) / 2);
}

void TFormOVSettings::LoadFromSettings()
{
    OVSettings::LoadSettings(ConfigFileName());
    edtDownloadsDirValue->setText(OVSettings::DownloadsDir);
    chkAutoInstallValue->setChecked(OVSettings::AutoInstall);
    const int days = OVSettings::FileKeepDays.load();
    if (days == 0) {
        rbFileKeepDays2->setChecked(true);
    } else if (days == -1) {
        rbFileKeepDays3->setChecked(true);
    } else {
        rbFileKeepDays1->setChecked(true);
        sedtFileKeepDaysValue->setValue(days); // clamped into 1..100
    }
    rbFileKeepDaysClick();
    chkResumeBrokenValue->setChecked(OVSettings::ResumeBroken);
}

void TFormOVSettings::StoreSettings()
{
    OVSettings::DownloadsDir = edtDownloadsDirValue->text();
    OVSettings::AutoInstall = chkAutoInstallValue->isChecked();
    if (rbFileKeepDays1->isChecked())
        OVSettings::FileKeepDays = sedtFileKeepDaysValue->value();
    else if (rbFileKeepDays2->isChecked())
        OVSettings::FileKeepDays = 0;
    else if (rbFileKeepDays3->isChecked())
        OVSettings::FileKeepDays = -1;
    OVSettings::ResumeBroken = chkResumeBrokenValue->isChecked();
    OVSettings::SaveSettings(ConfigFileName());
}

void TFormOVSettings::btnOkClick()
{
    StoreSettings();
    accept();
}

void TFormOVSettings::btnApplyClick()
{
    StoreSettings();
}

void TFormOVSettings::btnCancelClick()
{
    reject();
}

void TFormOVSettings::btnDownloadsDirBrowseClick()
{
    if (!BrowseFolder)
        return;
    const QString dir = BrowseFolder(OVGetText(QStringLiteral("String.BrowseFolder.Title")), this);
    if (!dir.trimmed().isEmpty())
        edtDownloadsDirValue->setText(dir);
}

void TFormOVSettings::lblDownloadsDirOpenClick()
{
    OpenFolder(edtDownloadsDirValue->text());
}

void TFormOVSettings::lblDownloadsDirDefaultClick()
{
    edtDownloadsDirValue->setText(appfiles::DownloadsDir());
}

void TFormOVSettings::rbFileKeepDaysClick()
{
    sedtFileKeepDaysValue->setEnabled(rbFileKeepDays1->isChecked());
}
