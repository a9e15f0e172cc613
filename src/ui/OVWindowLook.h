#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QAbstractItemView;
class QDialog;
class QFontMetrics;
class QLabel;
class QWidget;
class TBrimImageButton;
class TBrimSkinManager;

// The look shared by the program's windows: colours, fonts, and the skinned
// frame of the fixed dialogs.
namespace ovlook {

inline const QColor Body(0xf4, 0xf6, 0xf9);
inline const QColor Ink(0x1f, 0x2d, 0x3d);
inline const QColor Muted(0x6b, 0x7a, 0x8d);
inline const QColor Link(0x1f, 0x5f, 0xbf);
inline const QColor Navy(0x1d, 0x3a, 0x5f);
inline const QColor Selection(0xd6, 0xe4, 0xfb); // a selected row or item panel
inline const QColor HeaderInk(0x4a, 0x58, 0x68);
inline const QColor Rule(0xdb, 0xe2, 0xea); // borders of lists and their headers
inline const QColor RuleLight(0xe6, 0xeb, 0xf1); // between header sections

QFont UiFont(int pixelSize, bool bold = false);

// Paints the widget's background in the body colour.
void SetBody(QWidget *widget);
// A label drawn without its own background, in the given colour.
void MakeTransparent(QLabel *label);
void SetTextColor(QWidget *widget, const QColor &color);
// A label that reacts to clicks like a link (hand cursor, underline on hover
// is left to the colour); the label emits linkActivated on a click.
QLabel *NewLinkLabel(QWidget *parent, const QString &name);
// Text cut to fit width: whole when it fits, else the longest run of whole
// words followed by "..." (a run of characters when not even the first word fits).
QString ElideAtWord(const QString &Text, const QFontMetrics &Metrics, int Width);

// A caption as a rich-text link in the link colour, not underlined.
QString LinkHtml(const QString &caption);
// A label's dotted frame in the link colour while it has the focus.
QString LinkFocusStyleSheet();

// The lists' colours through the palette: white rows, ink text, a selection that
// keeps its colour when the list loses the focus. Cheaper to repaint than a style
// sheet, for lists refreshed every second.
void SetListPalette(QAbstractItemView *list);
// The style sheet of a list's header sections.
QString ListHeaderStyleSheet();
// The same colours as a style sheet for a QTreeWidget, with rows of a fixed height.
QString ListStyleSheet(int rowHeight);

// Every label of the window drawn on its parent's background.
void MakeLabelsTransparent(QWidget *window);

// An image button with the skin's action (filled) or plain picture set.
TBrimImageButton *NewActionButton(QWidget *parent, const QString &name, bool plain);

// The skinned frame of a fixed dialog: width x height, icon at (9, 9), title
// at (30, 7), close button at (width - 30, 5), no minimise or maximise button.
TBrimSkinManager *SetupDialogSkin(QDialog *dialog, int width, int height);

} // namespace ovlook
