#pragma once

#include <QAccessible>
#include <QLabel>

class QWidget;

namespace brim {

// Makes the toolkit's controls readable by screen readers: an image button
// reads as a button, or as a page tab (selected while current) when a tab
// control holds it, by its caption; widgets given a role below read with that
// role. Installed once, by the first control that needs it.
void EnsureAccessibility();

// Gives a widget of one of the program's own classes (one with Q_OBJECT;
// Qt's own classes keep Qt's reading) a role for screen readers. A group or a
// pane without an accessible name is named by its own text or else by its
// first visible label, so a panel that shows an item reads as that item.
void SetAccessibleRole(QWidget *Widget, QAccessible::Role Role);
bool HasAccessibleRole(const QWidget *Widget);
// Marks a page tab that is not an image button as the current one.
void SetAccessibleSelected(QWidget *Widget, bool Selected);

} // namespace brim

// A label a screen reader announces with the role it is given: a group (a
// panel holding other controls, named after what it shows, see
// SetAccessibleRole; its own text shows while it holds nothing else), or a
// page tab, a link, and so on.
class TBrimRoleLabel : public QLabel
{
    Q_OBJECT
public:
    explicit TBrimRoleLabel(QWidget *Parent = nullptr, QAccessible::Role Role = QAccessible::Grouping);
};
