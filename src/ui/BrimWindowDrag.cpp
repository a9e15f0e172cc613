#include "ui/BrimWindowDrag.h"

#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

namespace brim {

bool startSystemMove(QWidget *source)
{
    QWidget *win = source ? source->window() : nullptr;
    if (!win || !win->windowHandle())
        return false;
    return win->windowHandle()->startSystemMove();
}

WindowDragFilter::WindowDragFilter(QWidget *source, bool anyButton, std::function<bool()> allowed)
    : QObject(source)
    , m_source(source)
    , m_anyButton(anyButton)
    , m_allowed(std::move(allowed))
{
    source->installEventFilter(this);
}

bool WindowDragFilter::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_source)
        return false;
    QWidget *win = m_source->window();
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto *me = static_cast<QMouseEvent *>(event);
        if (!m_anyButton && me->button() != Qt::LeftButton)
            break;
        if (m_allowed && !m_allowed())
            break;
        if (startSystemMove(m_source)) {
            m_dragging = false;
            break;
        }
        m_dragging = true;
        m_offset = me->globalPosition().toPoint() - win->pos();
        break;
    }
    case QEvent::MouseMove:
        if (m_dragging && win)
            win->move(static_cast<QMouseEvent *>(event)->globalPosition().toPoint() - m_offset);
        break;
    case QEvent::MouseButtonRelease:
        if (m_dragging && win)
            win->move(static_cast<QMouseEvent *>(event)->globalPosition().toPoint() - m_offset);
        m_dragging = false;
        break;
    default:
        break;
    }
    return false;
}

} // namespace brim
