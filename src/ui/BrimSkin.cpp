#include "ui/BrimSkin.h"

#include "ui/BrimImageButton.h"
#include "ui/BrimSkinManager.h"

#include <QFile>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

namespace brim {

namespace {

QString skinPath(const QString &name)
{
    return QStringLiteral(":/skin/%1.svg").arg(name);
}

// Pictures handed out by skinPicture and skinImage, by their cache keys (which
// copies share and which are never reused), so controls can ask for them again
// at another ratio. Main thread only, as every control.
QHash<qint64, SkinArt> &pixmapArt()
{
    static QHash<qint64, SkinArt> art;
    return art;
}

QHash<qint64, SkinArt> &imageArt()
{
    static QHash<qint64, SkinArt> art;
    return art;
}

QString cacheName(const QString &name, QSize size, qreal ratio)
{
    return QStringLiteral("%1@%2x%3@%4").arg(name).arg(size.width()).arg(size.height()).arg(ratio);
}

bool sameRatio(qreal a, qreal b)
{
    return qAbs(a - b) < 0.001;
}

} // namespace

QImage renderSvg(const QString &path, QSize size, qreal ratio)
{
    QSvgRenderer renderer(path);
    if (!renderer.isValid() || !(ratio > 0) || ratio > 8)
        return {};
    if (size.isEmpty())
        size = renderer.defaultSize();
    if (size.isEmpty() || size.width() > 8192 || size.height() > 8192)
        return {};
    QImage img(sameRatio(ratio, 1) ? size : (QSizeF(size) * ratio).toSize(),
               QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    {
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        renderer.render(&p);
    }
    img.setDevicePixelRatio(ratio);
    return img;
}

QImage skinImage(const QString &name, QSize size)
{
    if (!skinHas(name))
        return {};
    QImage img = renderSvg(skinPath(name), size);
    if (!img.isNull())
        imageArt().insert(img.cacheKey(), {name, size});
    return img;
}

QPixmap skinPicture(const QString &name, QSize size)
{
    static QHash<QString, QPixmap> cache;
    const QString key = cacheName(name, size, 1);
    auto it = cache.constFind(key);
    if (it != cache.constEnd())
        return *it;
    QPixmap pix;
    const QImage img = skinImage(name, size);
    if (!img.isNull()) {
        pix = QPixmap::fromImage(img);
        pixmapArt().insert(pix.cacheKey(), {name, size});
    }
    cache.insert(key, pix);
    return pix;
}

SkinArt skinArtOf(const QPixmap &picture)
{
    return picture.isNull() ? SkinArt() : pixmapArt().value(picture.cacheKey());
}

SkinArt skinArtOf(const QImage &picture)
{
    return picture.isNull() ? SkinArt() : imageArt().value(picture.cacheKey());
}

QImage skinImageAt(const SkinArt &art, qreal ratio)
{
    if (art.isNull() || !skinHas(art.name))
        return {};
    static QHash<QString, QImage> cache;
    const QString key = cacheName(art.name, art.size, ratio);
    auto it = cache.constFind(key);
    if (it != cache.constEnd())
        return *it;
    QImage img = renderSvg(skinPath(art.name), art.size, ratio);
    cache.insert(key, img);
    return img;
}

QPixmap skinPictureAt(const QPixmap &picture, qreal ratio)
{
    if (sameRatio(ratio, 1) || sameRatio(ratio, picture.devicePixelRatio()))
        return picture;
    const SkinArt art = skinArtOf(picture);
    if (art.isNull())
        return picture;
    static QHash<QString, QPixmap> cache;
    const QString key = cacheName(art.name, art.size, ratio);
    auto it = cache.constFind(key);
    if (it != cache.constEnd())
        return *it;
    const QImage img = skinImageAt(art, ratio);
    const QPixmap pix = img.isNull() ? picture : QPixmap::fromImage(img);
    cache.insert(key, pix);
    return pix;
}

bool skinHas(const QString &name)
{
    return QFile::exists(skinPath(name));
}

QList<QPixmap> skinFrames(const QString &base, QSize size)
{
    QList<QPixmap> frames;
    for (int n = 1; n < 1000; ++n) {
        const QString name = base + QLatin1Char('_') + QString::number(n);
        if (!skinHas(name))
            break;
        frames.append(skinPicture(name, size));
    }
    return frames;
}

void setButtonPictures(TBrimImageButton *button, const QString &base, const QString &fourth)
{
    if (!button)
        return;
    button->SetPictures(
        skinPicture(base + QStringLiteral("_normal")), skinPicture(base + QStringLiteral("_hover")),
        skinPicture(base + QStringLiteral("_down")), skinPicture(base + QLatin1Char('_') + fourth));
    if (!button->PicNormal().isNull())
        button->resize(button->PicNormal().size());
    // The skin's buttons show where the keyboard's focus is.
    button->SetDrawFocused(true);
}

void applyWindowSkin(TBrimSkinManager *skin)
{
    if (!skin)
        return;
    static const char *const pieces[TSMFrame::PieceCount]
        = {"frame_topleft", "frame_top",        "frame_topright", "frame_left",
           "frame_right",   "frame_bottomleft", "frame_bottom",   "frame_bottomright"};
    for (int i = 0; i < TSMFrame::PieceCount; ++i)
        skin->Frame().SetPicture(TSMFrame::Piece(i), skinPicture(QLatin1String(pieces[i])));
    skin->Icon().SetPicNormal(skinPicture(QStringLiteral("icon")));
    const struct
    {
        TSMButtonKind kind;
        const char *base;
    } buttons[] = {{TSMButtonKind::Min, "btn_min"},
                   {TSMButtonKind::Max, "btn_max"},
                   {TSMButtonKind::Close, "btn_close"}};
    for (const auto &b : buttons) {
        TSMButton &button = skin->CmdButtons().Button(b.kind);
        const QString base = QLatin1String(b.base);
        button.SetPicNormal(skinPicture(base + QStringLiteral("_normal")));
        button.SetPicMouseHover(skinPicture(base + QStringLiteral("_hover")));
        button.SetPicMouseDown(skinPicture(base + QStringLiteral("_down")));
        button.SetPicDisabled(skinPicture(base + QStringLiteral("_disabled")));
    }
}

} // namespace brim
