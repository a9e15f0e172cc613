#pragma once

#include "ui/BrimImagePanel.h"

#include <QString>
#include <array>
#include <functional>

class QLabel;
class QTimer;
class TBrimImage;
class TBrimImageButton;

// The main window's header band: the tab buttons, the Tasks shortcut with its
// animated frame, and the upgrade banner. It shows and animates; what a click
// does is the window's, through the events below.
class TOVHeaderBand : public TBrimImagePanel
{
    Q_OBJECT
public:
    static constexpr int TabCount = 4;

    // Bounds: the band's place on Window, which also holds the shortcut's frame.
    TOVHeaderBand(const QRect &Bounds, QWidget *Window);

    // A tab button was clicked; the index counts from the left (the Tasks tab last).
    std::function<void(TOVHeaderBand *Sender, int Index)> OnTabClick;
    std::function<void(TOVHeaderBand *Sender)> OnTasksClick;
    std::function<void(TOVHeaderBand *Sender)> OnUpgradeClick;

    TBrimImageButton *TabButton(int Index) const;
    // The shortcut's text (the Tasks tab's counters) and whether that tab is current.
    void SetTasksText(const QString &Text);
    void SetTasksCurrent(bool Current);
    // A new task: the frame round the shortcut plays for five seconds.
    void StartTasksAnimation();
    void tmrTasksAnimateTimer();
    void imgTabTasksMouseEnter();
    void imgTabTasksMouseLeave();
    // Places the shortcut's label, mark and frame for the label's text.
    void LayoutTasksShortcut();

    TBrimImageButton *btnTabTopX = nullptr;
    TBrimImageButton *btnTabRunning = nullptr;
    TBrimImageButton *btnTabUninst = nullptr;
    TBrimImageButton *btnTabTasks = nullptr; // never visible; the shortcut stands for it
    TBrimImage *imgTabTasks = nullptr;
    TBrimImage *imgTabTasksFrame = nullptr; // on the window, so it may reach past the band
    QLabel *lblTabTasks = nullptr;
    QWidget *pnlTabTasksBack = nullptr; // marks the shortcut while the Tasks tab is current
    TBrimImageButton *imgAD = nullptr;
    QTimer *tmrTasksAnimate = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    TBrimImageButton *makeTabButton(const char *name, const char *art, int slot);
    void tasksClick();
};
