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

} // namespace

QImage renderSvg(const QString &path, QSize size)
{
    QSvgRenderer renderer(path);
    if (!renderer.isValid())
        return {};
    if (size.isEmpty())
        size = renderer.defaultSize();
    if (size.isEmpty() || size.width() > 8192 || size.height() > 8192)
        return {};
    QImage img(size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    renderer.render(&p);
    return img;
}

QImage skinImage(const QString &name, QSize size)
{
    if (!skinHas(name))
        return {};
    return renderSvg(skinPath(name), size);
}

QPixmap skinPicture(const QString &name, QSize size)
{
    static QHash<QString, QPixmap> cache;
    const QString key = QStringLiteral("%1@%2x%3").arg(name).arg(size.width()).arg(size.height());
    auto it = cache.constFind(key);
    if (it != cache.constEnd())
        return *it;
    QPixmap pix;
    const QImage img = skinImage(name, size);
    if (!img.isNull())
        pix = QPixmap::fromImage(img);
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
