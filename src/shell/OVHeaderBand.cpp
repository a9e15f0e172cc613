#include "shell/OVHeaderBand.h"

#include "ui/BrimAccessible.h"
#include "ui/BrimImage.h"
#include "ui/BrimImageButton.h"
#include "ui/BrimSkin.h"
#include "ui/OVWindowLook.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QTimer>

namespace {

constexpr int kTabPitch = 88;
// Centre of the Tasks shortcut on the band.
constexpr int kShortcutCenter = 388;
constexpr int kShortcutTop = 8;
const QColor kTabInk(0xdb, 0xe7, 0xfb);

} // namespace

TOVHeaderBand::TOVHeaderBand(const QRect &Bounds, QWidget *Window)
    : TBrimImagePanel(Window)
{
    setObjectName(QStringLiteral("pnlHeader"));
    SetPicture(brim::skinImage(QStringLiteral("header_bg")));
    SetStretch(true);
    setGeometry(Bounds);

    btnTabTopX = makeTabButton("btnTabTopX", "tab_recommend", 0);
    btnTabRunning = makeTabButton("btnTabRunning", "tab_running", 1);
    btnTabUninst = makeTabButton("btnTabUninst", "tab_uninstall", 2);
    btnTabTasks = makeTabButton("btnTabTasks", "tab_tasks", 3);
    btnTabTasks->setVisible(false);
    btnTabTasks->SetTabStop(false);

    pnlTabTasksBack = new QWidget(this);
    pnlTabTasksBack->setObjectName(QStringLiteral("pnlTabTasksBack"));
    pnlTabTasksBack->setAttribute(Qt::WA_StyledBackground);
    pnlTabTasksBack->setAttribute(Qt::WA_TransparentForMouseEvents);
    pnlTabTasksBack->setStyleSheet(
        QStringLiteral("#pnlTabTasksBack { background: rgba(255, 255, 255, 36); border-radius: 8px; }"));
    pnlTabTasksBack->hide();

    imgTabTasks = new TBrimImage(this);
    imgTabTasks->setObjectName(QStringLiteral("imgTabTasks"));
    imgTabTasks->SetTransparent(true);
    imgTabTasks->SetAnimationFrames(brim::skinFrames(QStringLiteral("tasks_shortcut")), 120);
    if (!imgTabTasks->HasPicture())
        imgTabTasks->SetPicture(brim::skinPicture(QStringLiteral("tab_tasks_normal")));
    imgTabTasks->setGeometry(kShortcutCenter - 24, kShortcutTop, 48, 48);
    imgTabTasks->setCursor(Qt::PointingHandCursor);
    imgTabTasks->OnClick = [this](QObject *) { tasksClick(); };
    imgTabTasks->OnMouseEnter = [this](QObject *) { imgTabTasksMouseEnter(); };
    imgTabTasks->OnMouseLeave = [this](QObject *) { imgTabTasksMouseLeave(); };

    // The Tasks tab's stand-in, read as that tab.
    lblTabTasks = new TBrimRoleLabel(this, QAccessible::PageTab);
    lblTabTasks->setObjectName(QStringLiteral("lblTabTasks"));
    lblTabTasks->setAlignment(Qt::AlignCenter);
    lblTabTasks->setFont(ovlook::UiFont(12, true));
    ovlook::SetTextColor(lblTabTasks, kTabInk);
    lblTabTasks->setCursor(Qt::PointingHandCursor);
    lblTabTasks->setFocusPolicy(Qt::TabFocus);
    lblTabTasks->installEventFilter(this);

    // It takes no clicks: the shortcut below it does.
    imgTabTasksFrame = new TBrimImage(Window);
    imgTabTasksFrame->setObjectName(QStringLiteral("imgTabTasksFrame"));
    imgTabTasksFrame->SetTransparent(true);
    imgTabTasksFrame->SetStretch(true);
    imgTabTasksFrame->SetAnimationFrames(brim::skinFrames(QStringLiteral("tasks_frame")), 90);
    imgTabTasksFrame->setAttribute(Qt::WA_TransparentForMouseEvents);
    imgTabTasksFrame->hide();

    imgAD = new TBrimImageButton(this);
    imgAD->setObjectName(QStringLiteral("imgAD"));
    imgAD->SetTransparent(true);
    brim::setButtonPictures(imgAD, QStringLiteral("banner_upgrade"));
    imgAD->SetTextAlign(BrimAlign_CustomMiddle);
    imgAD->SetTextX(30);
    imgAD->SetFont({ovlook::UiFont(11, true), Qt::white});
    imgAD->setCursor(Qt::PointingHandCursor);
    imgAD->move(width() - imgAD->width() - 14, (height() - imgAD->height()) / 2 - 6);
    imgAD->OnClick = [this](QObject *) {
        if (OnUpgradeClick)
            OnUpgradeClick(this);
    };
    imgAD->hide();

    tmrTasksAnimate = new QTimer(this);
    tmrTasksAnimate->setObjectName(QStringLiteral("tmrTasksAnimate"));
    tmrTasksAnimate->setInterval(5000);
    connect(tmrTasksAnimate, &QTimer::timeout, this, &TOVHeaderBand::tmrTasksAnimateTimer);
}

TBrimImageButton *TOVHeaderBand::makeTabButton(const char *name, const char *art, int slot)
{
    auto *b = new TBrimImageButton(this);
    b->setObjectName(QLatin1String(name));
    b->SetTransparent(true);
    brim::setButtonPictures(b, QLatin1String(art), QStringLiteral("selected"));
    b->SetTextAlign(BrimAlign_CustomCenter);
    b->SetTextY(57);
    const QFont f = ovlook::UiFont(12, true);
    b->SetFont({f, kTabInk});
    b->SetEnableStatesFont(true);
    b->SetFontMouseHover({f, Qt::white});
    b->SetFontMouseDown({f, kTabInk});
    b->SetFontDisabled({f, ovlook::Ink});
    b->move(10 + slot * kTabPitch, 4);
    // The tab control follows the mouse and switches after the button's own
    // click; Enter and Space on a focused tab switch once that has had its turn.
    b->OnClick = [this, slot](QObject *) {
        QTimer::singleShot(0, this, [this, slot] {
            if (OnTabClick)
                OnTabClick(this, slot);
        });
    };
    return b;
}

TBrimImageButton *TOVHeaderBand::TabButton(int Index) const
{
    switch (Index) {
    case 0:
        return btnTabTopX;
    case 1:
        return btnTabRunning;
    case 2:
        return btnTabUninst;
    case 3:
        return btnTabTasks;
    default:
        return nullptr;
    }
}

void TOVHeaderBand::SetTasksText(const QString &Text)
{
    lblTabTasks->setText(Text);
    LayoutTasksShortcut();
}

void TOVHeaderBand::SetTasksCurrent(bool Current)
{
    brim::SetAccessibleSelected(lblTabTasks, Current);
    ovlook::SetTextColor(lblTabTasks, Current ? QColor(Qt::white) : kTabInk);
    pnlTabTasksBack->setVisible(Current);
}

void TOVHeaderBand::tasksClick()
{
    if (OnTasksClick)
        OnTasksClick(this);
}

void TOVHeaderBand::imgTabTasksMouseEnter()
{
    imgTabTasksFrame->SetGIFAnimation(false);
    imgTabTasks->SetGIFAnimation(true);
}

void TOVHeaderBand::imgTabTasksMouseLeave()
{
    imgTabTasks->SetGIFAnimation(false);
}

void TOVHeaderBand::StartTasksAnimation()
{
    tmrTasksAnimate->setInterval(5000);
    tmrTasksAnimate->start();
    LayoutTasksShortcut();
    imgTabTasksFrame->show();
    imgTabTasksFrame->raise();
    imgTabTasksFrame->SetGIFAnimation(true);
}

void TOVHeaderBand::tmrTasksAnimateTimer()
{
    tmrTasksAnimate->stop();
    imgTabTasksFrame->hide();
    imgTabTasksFrame->SetGIFAnimation(false);
}

void TOVHeaderBand::LayoutTasksShortcut()
{
    const int w = qMax(84, lblTabTasks->sizeHint().width() + 8);
    lblTabTasks->setGeometry(kShortcutCenter - w / 2, 57 + 4 - 2, w, 20);
    pnlTabTasksBack->setGeometry(lblTabTasks->x() - 4, 4, w + 8, 80);
    // The frame goes round the label too, however long its text is.
    QSize frame = imgTabTasksFrame->HasPicture() ? imgTabTasksFrame->Picture().size() : QSize(92, 88);
    frame.setWidth(qMax(frame.width(), pnlTabTasksBack->width() + 4));
    imgTabTasksFrame->setGeometry(x() + kShortcutCenter - frame.width() / 2,
                                  y() + 4 - (frame.height() - 80) / 2, frame.width(), frame.height());
}

bool TOVHeaderBand::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == lblTabTasks) {
        switch (event->type()) {
        case QEvent::Enter:
            imgTabTasksMouseEnter();
            break;
        case QEvent::Leave:
            imgTabTasksMouseLeave();
            break;
        case QEvent::MouseButtonRelease:
            if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
                tasksClick();
                return true;
            }
            break;
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent *>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
                tasksClick();
                return true;
            }
            break;
        }
        default:
            break;
        }
    }
    return TBrimImagePanel::eventFilter(watched, event);
}
