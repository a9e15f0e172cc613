#include "ui/BrimSkin.h"

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

} // namespace brim
