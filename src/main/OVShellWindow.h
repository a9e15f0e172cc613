#pragma once

#include <QMainWindow>

class QTabWidget;

// The program's window for now: the title, the four tabs in their order
// (recommendations, running, uninstall, tasks) and nothing in them yet.
class OVShellWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit OVShellWindow(QWidget *parent = nullptr);

    void SelectTab(int index);
    int CurrentTab() const;

private:
    QTabWidget *m_tabs;
};
