#include "ui/BrimTabControl.h"

#include "ui/BrimAccessible.h"
#include "ui/BrimImageButton.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QWidget>

TBrimImageButton *TBrimTabItem::Button() const
{
    return static_cast<TBrimImageButton *>(m_button.data());
}

TBrimTabControl::TBrimTabControl(QObject *parent)
    : QObject(parent)
{ }

TBrimTabControl::~TBrimTabControl()
{
    for (auto &item : m_items) {
        if (item->m_button) {
            item->m_button->removeEventFilter(this);
            item->m_button->setProperty(ButtonProperty, QVariant());
        }
    }
}

int TBrimTabControl::AddTab(TBrimImageButton *button, QWidget *page)
{
    if (!button || !page)
        return -1;
    auto item = std::make_unique<TBrimTabItem>();
    item->m_tabControl = this;
    item->m_button = button;
    item->m_page = page;
    TBrimTabItem *raw = item.get();
    m_items.push_back(std::move(item));
    button->installEventFilter(this);
    // Read as a page tab, in a page tab list: the row the buttons sit in.
    button->setProperty(ButtonProperty, QVariant::fromValue<QObject *>(this));
    if (QWidget *row = button->parentWidget(); row && !brim::HasAccessibleRole(row))
        brim::SetAccessibleRole(row, QAccessible::PageTabList);
    if (m_items.size() == 1)
        activate(raw);
    else
        inactivate(raw);
    return int(m_items.size()) - 1;
}

bool TBrimTabControl::SelectTab(int index)
{
    TBrimTabItem *item = Item(index);
    if (!item)
        return false;
    switchTo(item);
    return true;
}

TBrimTabItem *TBrimTabControl::Item(int index) const
{
    if (index < 0 || index >= int(m_items.size()))
        return nullptr;
    return m_items[size_t(index)].get();
}

int TBrimTabControl::IndexOf(const TBrimTabItem *item) const
{
    for (size_t i = 0; i < m_items.size(); ++i) {
        if (m_items[i].get() == item)
            return int(i);
    }
    return -1;
}

void TBrimTabControl::switchTo(TBrimTabItem *item)
{
    if (m_active)
        inactivate(m_active);
    activate(item);
}

void TBrimTabControl::activate(TBrimTabItem *item)
{
    if (!item->m_button || !item->m_page)
        return;
    if (OnActivateing)
        OnActivateing(this, item);
    if (item->m_page) {
        item->m_page->show();
        item->m_page->raise();
    }
    if (OnActivated)
        OnActivated(this, item);
    TBrimTabItem *previous = m_active;
    m_active = item;
    if (QAccessible::isActive()) {
        QAccessible::State selected;
        selected.selected = true;
        for (TBrimTabItem *changed : {previous, item}) {
            if (changed && changed->m_button) {
                QAccessibleStateChangeEvent event(changed->m_button, selected);
                QAccessible::updateAccessibility(&event);
            }
        }
    }
}

void TBrimTabControl::inactivate(TBrimTabItem *item)
{
    if (!item->m_button || !item->m_page)
        return;
    if (OnInactivating)
        OnInactivating(this, item);
    if (item->m_page) {
        item->m_page->hide();
        item->m_page->lower();
    }
    if (item->m_button)
        item->m_button->setEnabled(true);
    if (OnInactivated)
        OnInactivated(this, item);
}

bool TBrimTabControl::eventFilter(QObject *watched, QEvent *event)
{
    // The pressed button keeps the mouse, so its release completes the switch
    // wherever the release happens. The button's own handling still runs.
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
        // A disabled button (the active tab) takes no presses.
        auto *w = qobject_cast<QWidget *>(watched);
        if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton && w && w->isEnabled())
            m_pressedButton = watched;
    } else if (event->type() == QEvent::MouseButtonRelease && !m_forwarding) {
        if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton && m_pressedButton == watched) {
            m_pressedButton = nullptr;
            // Let the button finish its own release and click first: the switch
            // usually disables it, and a disabled button gets no mouse events.
            QPointer<QObject> guard(watched);
            m_forwarding = true;
            QCoreApplication::sendEvent(watched, event);
            m_forwarding = false;
            if (guard) {
                for (auto &item : m_items) {
                    if (item->m_button == watched) {
                        switchTo(item.get());
                        break;
                    }
                }
            }
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
