#pragma once

class QWidget;

// One page of the main window's tab control. The main window keeps a table of
// these and calls them as the tabs switch and as the language changes; a tab
// controller implements it and holds all of its page's logic.
class IOVTabPage
{
public:
    virtual ~IOVTabPage() = default;

    // The widget that fills the tab sheet.
    virtual QWidget *PageWidget() = 0;
    // The first time the tab becomes current (before Activate).
    virtual void FirstActivate() { }
    // The tab became current (also the first time).
    virtual void Activate() { }
    // Another tab is about to become current.
    virtual void Deactivate() { }
    // Re-applies every text and font of the page after a language change.
    virtual void ApplyTexts() { }
};
