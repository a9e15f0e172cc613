#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <vector>

class TBrimImageButton;
class TBrimTabControl;

// One tab: an image button bound to the page it shows.
class TBrimTabItem
{
public:
    TBrimTabControl *TabControl() const { return m_tabControl; }
    TBrimImageButton *Button() const;
    QWidget *Page() const { return m_page; }

private:
    friend class TBrimTabControl;
    TBrimTabControl *m_tabControl = nullptr;
    QPointer<QWidget> m_button;
    QPointer<QWidget> m_page;
};

using TSwitchEvent = std::function<void(QObject *Sender, TBrimTabItem *Item)>;

// Turns a row of image buttons into page tabs: pressing a tab's button shows
// its page and hides the previously active one.
class TBrimTabControl : public QObject
{
    Q_OBJECT
public:
    explicit TBrimTabControl(QObject *parent = nullptr);
    ~TBrimTabControl() override;

    // The property that names a tab's button's tab control (for screen readers).
    static constexpr const char *ButtonProperty = "brimTabControl";

    // Binds button and page; returns the new tab's index, or -1 when either is missing.
    int AddTab(TBrimImageButton *button, QWidget *page);
    bool SelectTab(int index);
    TBrimTabItem *ActiveItem() const { return m_active; }
    int Count() const { return int(m_items.size()); }
    TBrimTabItem *Item(int index) const;
    int IndexOf(const TBrimTabItem *item) const;

    TSwitchEvent OnActivateing;
    TSwitchEvent OnActivated;
    TSwitchEvent OnInactivating;
    TSwitchEvent OnInactivated;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void activate(TBrimTabItem *item);
    void inactivate(TBrimTabItem *item);
    void switchTo(TBrimTabItem *item);

    std::vector<std::unique_ptr<TBrimTabItem>> m_items;
    TBrimTabItem *m_active = nullptr;
    QObject *m_pressedButton = nullptr;
    bool m_forwarding = false;
};
