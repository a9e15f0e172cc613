#include "shell/FormOVAbout.h"

#include "core/BrimMultiLangs.h"
#include "core/BrimSystem.h"
#include "ui/BrimImage.h"
#include "ui/BrimImageButton.h"
#include "ui/BrimSkin.h"
#include "ui/BrimSkinManager.h"
#include "ui/OVLangBridge.h"
#include "ui/OVWindowLook.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>

namespace {
constexpr int kWidth = 500;
constexpr int kHeight = 360;
} // namespace

TFormOVAbout::TFormOVAbout(const QString &homeUrl, QWidget *owner)
    : QDialog(owner)
    , m_homeUrl(homeUrl)
{
    setObjectName(QStringLiteral("FormOVAbout"));
    setModal(true);
    m_multiLangs = OVMultiLangs();

    imgLogo = new TBrimImage(this);
    imgLogo->setObjectName(QStringLiteral("imgLogo"));
    imgLogo->SetPicture(brim::skinPicture(QStringLiteral("logo"), QSize(128, 128)));
    imgLogo->SetTransparent(true);
    imgLogo->setGeometry(24, 52, 128, 128);

    lblTitle = new QLabel(this);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    lblTitle->setFont(ovlook::UiFont(22, true));
    ovlook::SetTextColor(lblTitle, ovlook::Ink);
    lblTitle->setGeometry(176, 56, 300, 32);

    lblVersion = new QLabel(this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    lblVersion->setFont(ovlook::UiFont(12));
    ovlook::SetTextColor(lblVersion, ovlook::Muted);
    lblVersion->setGeometry(176, 94, 300, 20);

    lblCopyright = new QLabel(this);
    lblCopyright->setObjectName(QStringLiteral("lblCopyright"));
    lblCopyright->setFont(ovlook::UiFont(12));
    ovlook::SetTextColor(lblCopyright, ovlook::Muted);
    lblCopyright->setGeometry(176, 118, 300, 20);

    lblHome = ovlook::NewLinkLabel(this, QStringLiteral("lblHome"));
    lblHome->move(176, 148);
    connect(lblHome, &QLabel::linkActivated, this, [this] { lblHomeClick(); });

    mmoDesc = new QPlainTextEdit(this);
    mmoDesc->setObjectName(QStringLiteral("mmoDesc"));
    mmoDesc->setReadOnly(true);
    mmoDesc->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmoDesc->setFont(ovlook::UiFont(12));
    mmoDesc->setFrameShape(QFrame::NoFrame);
    mmoDesc->setStyleSheet(QStringLiteral("QPlainTextEdit { background: #ffffff; color: #1f2d3d;"
                                          " border: 1px solid #dbe2ea; border-radius: 6px; padding: 4px; }"));
    mmoDesc->setGeometry(24, 196, 452, 104);

    btnCancel = ovlook::NewActionButton(this, QStringLiteral("btnCancel"), false);
    btnCancel->SetCancel(true);
    btnCancel->SetDefault(true);
    btnCancel->SetCaption(QStringLiteral("OK"));
    btnCancel->move(kWidth - 24 - 84, kHeight - 16 - 26);
    btnCancel->OnClick = [this](QObject *) { btnCancelClick(); };

    setTabOrder(lblHome, mmoDesc);
    setTabOrder(mmoDesc, btnCancel);

    SkinMgr = ovlook::SetupDialogSkin(this, kWidth, kHeight);
    ovlook::MakeLabelsTransparent(this);
    ApplyTexts(m_homeUrl);
    btnCancel->setFocus();
}

TFormOVAbout::~TFormOVAbout() = default;

void TFormOVAbout::ApplyTexts(const QString &homeUrl)
{
    m_homeUrl = homeUrl;
    if (!m_multiLangs)
        return;
    const auto text = [this](const char *key) { return OVGetText(QLatin1String(key)); };
    if (const auto f = ovlang::GetFont(m_multiLangs, QStringLiteral("FormOVAbout.SkinMgr.Title.Font"))) {
        TBrimColorFont title = SkinMgr->Title().Font();
        title.Font = f->font.resolve(title.Font);
        if (f->color.isValid())
            title.Color = f->color;
        SkinMgr->Title().SetFont(title);
    }
    if (const auto f = ovlang::GetFont(m_multiLangs, QStringLiteral("FormOVAbout.lblTitle.Font"))) {
        ovlang::ApplyFont(lblTitle, *f);
        lblTitle->resize(lblTitle->width(), qMax(32, lblTitle->sizeHint().height()));
    }
    SkinMgr->Title().SetText(text("FormOVAbout.SkinMgr.Title.Text"));
    if (TBrimImageButton *close = SkinMgr->CommandButton(TSMButtonKind::Close))
        close->setAccessibleName(text("String.Close"));
    setWindowTitle(text("FormOVAbout.Caption"));
    lblTitle->setText(text("FormOVAbout.lblTitle.Caption"));
    lblVersion->setText(
        OVFormatText(QStringLiteral("FormOVAbout.lblVersion.Caption"), {GetFileVersionText()}));
    lblCopyright->setText(text("String.Copyright"));
    lblHome->setText(text("FormOVAbout.lblHome.Caption"));
    lblHome->adjustSize();
    lblHome->setToolTip(m_homeUrl);
    // Lines end at any of the line breaks the texts use (LF, CR LF, LF CR).
    QString desc = text("FormOVAbout.mmoDesc.Lines.Text");
    desc.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    desc.replace(QLatin1String("\n\r"), QLatin1String("\n"));
    desc.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    mmoDesc->setPlainText(desc);
    btnCancel->SetCaption(text("String.Button.Ok"));
    btnCancel->setAccessibleName(btnCancel->Caption());
}

void TFormOVAbout::btnCancelClick()
{
    reject();
}

void TFormOVAbout::lblHomeClick()
{
    ShellOpen(m_homeUrl);
}
