#include "ui/OVWindowLook.h"

#include "ui/BrimAccessible.h"
#include "ui/BrimImageButton.h"
#include "ui/BrimSkin.h"
#include "ui/BrimSkinManager.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QMouseEvent>

namespace ovlook {

namespace {

// Turns a click on a label into linkActivated, with a hand cursor.
class LinkClickFilter : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *label = qobject_cast<QLabel *>(watched);
        if (label && event->type() == QEvent::MouseButtonRelease
            && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton && label->isEnabled()
            && label->rect().contains(static_cast<QMouseEvent *>(event)->position().toPoint())) {
            Q_EMIT label->linkActivated(label->text());
            return true;
        }
        if (label && event->type() == QEvent::KeyPress && label->hasFocus()) {
            const int key = static_cast<QKeyEvent *>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
                Q_EMIT label->linkActivated(label->text());
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

QFont UiFont(int pixelSize, bool bold)
{
    QFont f = QApplication::font();
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

QString ElideAtWord(const QString &Text, const QFontMetrics &Metrics, int Width)
{
    if (Metrics.horizontalAdvance(Text) <= Width)
        return Text;
    const QString ellipsis = QStringLiteral("...");
    for (qsizetype i = Text.size() - 1; i > 0; --i) {
        if (!Text.at(i).isSpace())
            continue;
        const QString cut = Text.left(i).trimmed();
        if (!cut.isEmpty() && Metrics.horizontalAdvance(cut + ellipsis) <= Width)
            return cut + ellipsis;
    }
    // Not even the first word fits: cut inside it.
    for (qsizetype n = Text.size() - 1; n > 0; --n) {
        const QString cut = Text.left(n) + ellipsis;
        if (Metrics.horizontalAdvance(cut) <= Width)
            return cut;
    }
    return ellipsis;
}

QString LinkHtml(const QString &caption)
{
    return QStringLiteral("<a href=\"#\" style=\"color:%1; text-decoration:none\">%2</a>")
        .arg(Link.name(), caption.toHtmlEscaped());
}

QString LinkFocusStyleSheet()
{
    return QStringLiteral("QLabel { border: 1px solid transparent; padding: 1px; }"
                          "QLabel:focus { border: 1px dotted %1; }")
        .arg(Link.name());
}

void SetListPalette(QAbstractItemView *list)
{
    QPalette colours = list->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        colours.setColor(group, QPalette::Base, Qt::white);
        colours.setColor(group, QPalette::Text, Ink);
        colours.setColor(group, QPalette::Highlight, Selection);
        colours.setColor(group, QPalette::HighlightedText, Ink);
    }
    list->setPalette(colours);
}

QString ListHeaderStyleSheet()
{
    return QStringLiteral("QHeaderView::section { background: %1; color: %2; border: none;"
                          " border-bottom: 1px solid %3; border-right: 1px solid %4; padding: 4px 6px; }")
        .arg(Body.name(), HeaderInk.name(), Rule.name(), RuleLight.name());
}

QString ListStyleSheet(int rowHeight)
{
    return QStringLiteral("QTreeWidget { border: 1px solid %1; background: white; }"
                          "QTreeWidget::item { height: %2px; color: %3; }"
                          "QTreeWidget::item:selected { background: %4; color: %3; }")
               .arg(Rule.name(), QString::number(rowHeight), Ink.name(), Selection.name())
        + ListHeaderStyleSheet();
}

void SetTextColor(QWidget *widget, const QColor &color)
{
    QPalette pal = widget->palette();
    pal.setColor(QPalette::WindowText, color);
    pal.setColor(QPalette::Text, color);
    widget->setPalette(pal);
}

void SetBody(QWidget *widget)
{
    widget->setAutoFillBackground(true);
    QPalette pal = widget->palette();
    pal.setColor(QPalette::Window, Body);
    widget->setPalette(pal);
}

void MakeTransparent(QLabel *label)
{
    label->setAutoFillBackground(false);
    label->setAttribute(Qt::WA_TranslucentBackground, false);
}

void MakeLabelsTransparent(QWidget *window)
{
    for (QLabel *label : window->findChildren<QLabel *>())
        MakeTransparent(label);
}

QLabel *NewLinkLabel(QWidget *parent, const QString &name)
{
    auto *label = new TBrimRoleLabel(parent, QAccessible::Link);
    label->setObjectName(name);
    label->setCursor(Qt::PointingHandCursor);
    label->setFocusPolicy(Qt::TabFocus);
    label->setFont(UiFont(12));
    SetTextColor(label, Link);
    label->installEventFilter(new LinkClickFilter(label));
    return label;
}

TBrimImageButton *NewActionButton(QWidget *parent, const QString &name, bool plain)
{
    auto *b = new TBrimImageButton(parent);
    b->setObjectName(name);
    b->SetTransparent(true);
    brim::setButtonPictures(b, plain ? QStringLiteral("btn_plain") : QStringLiteral("btn_action"));
    b->SetStretch(true);
    const QColor text = plain ? Ink : QColor(Qt::white);
    const QFont f = UiFont(12, true);
    b->SetFont({f, text});
    b->SetEnableStatesFont(true);
    b->SetFontMouseHover({f, text});
    b->SetFontMouseDown({f, text});
    b->SetFontDisabled({f, plain ? QColor(0xa0, 0xab, 0xb8) : QColor(0xf4, 0xf6, 0xf9)});
    b->resize(84, 26);
    return b;
}

TBrimSkinManager *SetupDialogSkin(QDialog *dialog, int width, int height)
{
    dialog->setFixedSize(width, height);
    SetBody(dialog);
    auto *skin = new TBrimSkinManager(dialog);
    skin->setObjectName(QStringLiteral("SkinMgr"));
    skin->SetStyle(fsFixed);
    skin->Bounds().MinWidth = width;
    skin->Bounds().MinHeight = height;
    skin->Bounds().MaxWidth = width;
    skin->Bounds().MaxHeight = height;
    brim::applyWindowSkin(skin);
    skin->Icon().SetAutoPosition(false);
    skin->Icon().SetPosX(9);
    skin->Icon().SetPosY(9);
    skin->Title().SetAutoPosition(false);
    skin->Title().SetPosX(30);
    skin->Title().SetPosY(7);
    skin->Title().SetFont({UiFont(14, true), Qt::white});
    skin->CmdButtons().SetAutoPosition(false);
    skin->CmdButtons().BtnMin().SetVisible(false);
    skin->CmdButtons().BtnMax().SetVisible(false);
    skin->CmdButtons().BtnClose().SetPosX(width - 30);
    skin->CmdButtons().BtnClose().SetPosY(5);
    skin->ApplySkin();
    return skin;
}

} // namespace ovlook
