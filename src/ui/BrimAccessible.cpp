#include "ui/BrimAccessible.h"

#include "ui/BrimImageButton.h"
#include "ui/BrimTabControl.h"

#include <QAccessibleWidget>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QVariant>

namespace {

const char *const kRoleProperty = "brimAccessibleRole";
const char *const kSelectedProperty = "brimAccessibleSelected";

// A caption as it is read: the mnemonic's ampersand dropped, "&&" as "&".
QString withoutMnemonic(const QString &caption)
{
    QString out;
    out.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == u'&') {
            if (i + 1 < caption.size() && caption[i + 1] == u'&')
                ++i;
            else
                continue;
        }
        out += caption[i];
    }
    return out.trimmed();
}

// A label's text as read: a link's caption, not its markup.
QString labelText(const QLabel *label)
{
    const QString text = label->text();
    const bool rich = label->textFormat() == Qt::RichText
        || (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(text));
    return (rich ? QTextDocumentFragment::fromHtml(text).toPlainText() : text).trimmed();
}

QString firstLabelText(const QWidget *widget)
{
    for (const QLabel *label : widget->findChildren<QLabel *>()) {
        if (label->isVisibleTo(widget) && !labelText(label).isEmpty())
            return labelText(label);
    }
    return {};
}

class ButtonAccessible : public QAccessibleWidget
{
public:
    explicit ButtonAccessible(TBrimCustomButton *button)
        : QAccessibleWidget(button, QAccessible::Button)
    { }

    TBrimCustomButton *button() const { return static_cast<TBrimCustomButton *>(widget()); }

    TBrimTabControl *tabControl() const
    {
        return qobject_cast<TBrimTabControl *>(
            button()->property(TBrimTabControl::ButtonProperty).value<QObject *>());
    }

    int tabIndex(TBrimTabControl *tabs) const
    {
        for (int i = 0; i < tabs->Count(); ++i) {
            if (tabs->Item(i)->Button() == button())
                return i;
        }
        return -1;
    }

    bool isCurrentTab(TBrimTabControl *tabs) const
    {
        return tabs->ActiveItem() && tabs->ActiveItem()->Button() == button();
    }

    QAccessible::Role role() const override
    {
        return tabControl() ? QAccessible::PageTab : QAccessible::Button;
    }

    QString text(QAccessible::Text t) const override
    {
        QString s = QAccessibleWidget::text(t);
        if (t == QAccessible::Name && s.isEmpty())
            s = withoutMnemonic(button()->Caption());
        if (t == QAccessible::Name && s.isEmpty())
            s = button()->toolTip();
        return s;
    }

    QAccessible::State state() const override
    {
        QAccessible::State st = QAccessibleWidget::state();
        st.pressed = button()->IsDown();
        if (TBrimTabControl *tabs = tabControl()) {
            st.selectable = true;
            // The current tab's button is disabled so it cannot be pressed
            // again; to a screen reader it is the selected tab, not an
            // unavailable one.
            if (isCurrentTab(tabs)) {
                st.selected = true;
                st.disabled = false;
            }
        }
        return st;
    }

    QStringList actionNames() const override
    {
        QStringList names = QAccessibleWidget::actionNames();
        if (button()->isEnabled())
            names.prepend(pressAction());
        return names;
    }

    void doAction(const QString &name) override
    {
        if (name != pressAction() || !button()->isEnabled()) {
            QAccessibleWidget::doAction(name);
            return;
        }
        if (TBrimTabControl *tabs = tabControl()) {
            // As a click on the tab: its own click, then the switch.
            const int index = tabIndex(tabs);
            button()->Click();
            if (index >= 0 && !isCurrentTab(tabs))
                tabs->SelectTab(index);
            return;
        }
        button()->Click();
    }
};

class RoleAccessible : public QAccessibleWidget
{
public:
    RoleAccessible(QWidget *widget, QAccessible::Role role)
        : QAccessibleWidget(widget, role)
    { }

    QString text(QAccessible::Text t) const override
    {
        QString s = QAccessibleWidget::text(t);
        const auto *label = qobject_cast<const QLabel *>(widget());
        if (t == QAccessible::Description && s.isEmpty() && label && !widget()->accessibleName().isEmpty()
            && labelText(label) != widget()->accessibleName())
            return labelText(label); // a named label's own text says more
        if (t != QAccessible::Name || !s.isEmpty())
            return s;
        if (label)
            s = labelText(label);
        if (s.isEmpty() && (role() == QAccessible::Grouping || role() == QAccessible::Pane))
            s = firstLabelText(widget());
        return s;
    }

    QAccessible::State state() const override
    {
        QAccessible::State st = QAccessibleWidget::state();
        const QVariant selected = widget()->property(kSelectedProperty);
        if (selected.isValid()) {
            st.selectable = true;
            st.selected = selected.toBool();
        }
        return st;
    }
};

QAccessibleInterface *factory(const QString &, QObject *object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    auto *widget = static_cast<QWidget *>(object);
    if (auto *button = qobject_cast<TBrimCustomButton *>(widget))
        return new ButtonAccessible(button);
    const QVariant role = widget->property(kRoleProperty);
    if (role.isValid())
        return new RoleAccessible(widget, QAccessible::Role(role.toInt()));
    return nullptr;
}

} // namespace

namespace brim {

void EnsureAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    (void)installed;
}

void SetAccessibleRole(QWidget *Widget, QAccessible::Role Role)
{
    if (!Widget)
        return;
    EnsureAccessibility();
    Widget->setProperty(kRoleProperty, int(Role));
}

bool HasAccessibleRole(const QWidget *Widget)
{
    return Widget && Widget->property(kRoleProperty).isValid();
}

void SetAccessibleSelected(QWidget *Widget, bool Selected)
{
    if (!Widget)
        return;
    Widget->setProperty(kSelectedProperty, Selected);
    if (QAccessible::isActive()) {
        QAccessible::State changed;
        changed.selected = true;
        QAccessibleStateChangeEvent event(Widget, changed);
        QAccessible::updateAccessibility(&event);
    }
}

} // namespace brim

TBrimRoleLabel::TBrimRoleLabel(QWidget *Parent, QAccessible::Role Role)
    : QLabel(Parent)
{
    brim::SetAccessibleRole(this, Role);
}
