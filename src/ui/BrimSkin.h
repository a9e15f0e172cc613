#pragma once

#include <QPixmap>
#include <QSize>
#include <QString>

namespace brim {

// Renders the named artwork of the program's skin (":/skin/<name>.svg") at the
// given size, or at the size the drawing declares when size is empty. Unknown
// names give an empty picture. Results are cached.
QPixmap skinPicture(const QString &name, QSize size = {});
QImage skinImage(const QString &name, QSize size = {});
bool skinHas(const QString &name);

// Renders any SVG (file or resource path) at the given or declared size.
QImage renderSvg(const QString &path, QSize size = {});

} // namespace brim
