#pragma once

#include <QList>
#include <QPixmap>
#include <QSize>
#include <QString>

class TBrimImageButton;
class TBrimSkinManager;

namespace brim {

// Renders the named artwork of the program's skin (":/skin/<name>.svg") at the
// given size, or at the size the drawing declares when size is empty. Unknown
// names give an empty picture. Results are cached.
QPixmap skinPicture(const QString &name, QSize size = {});
QImage skinImage(const QString &name, QSize size = {});
bool skinHas(const QString &name);
// The frames "<base>_1", "<base>_2", ... of an animation, as many as exist.
QList<QPixmap> skinFrames(const QString &base, QSize size = {});

// Renders any SVG (file or resource path) at the given or declared size.
QImage renderSvg(const QString &path, QSize size = {});

// Gives a button the four pictures "<base>_normal", "_hover", "_down" and
// "_<fourth>" (the tabs use "selected" as their disabled picture) and the
// normal picture's size.
void setButtonPictures(TBrimImageButton *button, const QString &base,
                       const QString &fourth = QStringLiteral("disabled"));

// The program's window look: frame pieces, window icon and the pictures of
// the minimize, maximize and close buttons. Positions are left to the window.
void applyWindowSkin(TBrimSkinManager *skin);

} // namespace brim
