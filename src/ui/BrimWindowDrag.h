#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <functional>

class QWidget;

namespace brim {

// Lets a press on a widget move the window holding it, as a title bar does.
// Uses the window system's interactive move where it offers one and moves
// the window by hand otherwise. The widget's own mouse handling still runs.
class WindowDragFilter : public QObject
{
public:
    // anyButton: any mouse button starts a move (title areas); otherwise only the left one.
    // allowed: asked at each press; a move starts only when it answers true.
    WindowDragFilter(QWidget *source, bool anyButton, std::function<bool()> allowed = {});

    bool isDragging() const { return m_dragging; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPointer<QWidget> m_source;
    bool m_anyButton;
    std::function<bool()> m_allowed;
    bool m_dragging = false;
    QPoint m_offset; // press position relative to the window's top-left
};

// Starts a move of source's window for a press at globalPos. Returns true when
// the window system took over; otherwise the caller moves the window by hand.
bool startSystemMove(QWidget *source);

} // namespace brim
