#include "OVShellWindow.h"

#include <QLabel>
#include <QTabWidget>

OVShellWindow::OVShellWindow(QWidget *parent)
    : QMainWindow(parent)
    , m_tabs(new QTabWidget(this))
{
    setWindowTitle(QStringLiteral("Orvane"));
    resize(800, 600);
    for (const char *name : {"Recommendations", "Running", "Uninstall", "Tasks"}) {
        auto *page = new QLabel(QString::fromLatin1(name), m_tabs);
        page->setAlignment(Qt::AlignCenter);
        m_tabs->addTab(page, QString::fromLatin1(name));
    }
    setCentralWidget(m_tabs);
}

void OVShellWindow::SelectTab(int index)
{
    if (index >= 0 && index < m_tabs->count())
        m_tabs->setCurrentIndex(index);
}

int OVShellWindow::CurrentTab() const
{
    return m_tabs->currentIndex();
}
