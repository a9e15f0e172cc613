#pragma once

#include <QImage>
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

// Renders any SVG (file or resource path) at the given or declared size,
// with as many pixels per logical pixel as ratio asks for.
QImage renderSvg(const QString &path, QSize size = {}, qreal ratio = 1.0);

// What a picture of the skin was drawn from: its name and the logical size
// asked for (empty for the drawing's own). Controls keep their 1x picture and
// ask for the same art again at the device pixel ratio of the screen they are
// painted on, so the skin stays sharp on a high-density screen and after the
// window moves to a screen with another ratio.
struct SkinArt
{
    QString name;
    QSize size;
    bool isNull() const { return name.isEmpty(); }
};
// Empty for a picture that did not come from skinPicture or skinImage.
SkinArt skinArtOf(const QPixmap &picture);
SkinArt skinArtOf(const QImage &picture);
// The picture at ratio: itself at 1 or when it is not the skin's art, else
// the art drawn again with the same logical size (cached).
QPixmap skinPictureAt(const QPixmap &picture, qreal ratio);
QImage skinImageAt(const SkinArt &art, qreal ratio);

// Gives a button the four pictures "<base>_normal", "_hover", "_down" and
// "_<fourth>" (the tabs use "selected" as their disabled picture), the
// normal picture's size and the mark of the keyboard's focus.
void setButtonPictures(TBrimImageButton *button, const QString &base,
                       const QString &fourth = QStringLiteral("disabled"));

// The program's window look: frame pieces, window icon and the pictures of
// the minimize, maximize and close buttons. Positions are left to the window.
void applyWindowSkin(TBrimSkinManager *skin);

} // namespace brim
