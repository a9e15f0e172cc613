#include "ui/BrimImagePanel.h"

#include "ui/BrimWindowDrag.h"

#include <QEvent>
#include <QPainter>
#include <QPixmap>

TBrimImagePanel::TBrimImagePanel(QWidget *parent)
    : QWidget(parent)
{
    m_color = palette().color(QPalette::Window);
    m_fontColor = palette().color(QPalette::WindowText);
    setFocusPolicy(Qt::NoFocus);
}

void TBrimImagePanel::SetPicture(const QImage &picture)
{
    m_art = brim::skinArtOf(picture);
    m_dense = QImage();
    if (picture.isNull()) {
        m_picture = QImage();
    } else {
        const QImage converted = picture.convertToFormat(QImage::Format_ARGB32);
        // A picture that cannot be converted leaves the previous one.
        if (converted.isNull())
            return;
        m_picture = converted;
    }
    rebuildKeyed();
    applyAutoSize();
    update();
}

void TBrimImagePanel::SetPicture(const QPixmap &picture)
{
    const brim::SkinArt art = brim::skinArtOf(picture);
    SetPicture(picture.toImage());
    m_art = art;
}

void TBrimImagePanel::SetPictureAlign(TBrimAlign align)
{
    m_pictureAlign = align;
    update();
}

void TBrimImagePanel::SetPictureX(int x)
{
    m_pictureX = x;
    update();
}

void TBrimImagePanel::SetPictureY(int y)
{
    m_pictureY = y;
    update();
}

void TBrimImagePanel::SetStretch(bool on)
{
    m_stretch = on;
    update();
}

void TBrimImagePanel::SetAutoSize(bool on)
{
    m_autoSize = on;
    applyAutoSize();
    update();
}

void TBrimImagePanel::SetTransparent(bool on)
{
    m_transparent = on;
    setAutoFillBackground(false);
    rebuildKeyed();
    update();
}

void TBrimImagePanel::SetTransparentColor(const QColor &color)
{
    m_transparentColor = color;
    rebuildKeyed();
    update();
}

void TBrimImagePanel::SetDraggable(bool on)
{
    m_draggable = on;
    if (on && !m_drag)
        m_drag = new brim::WindowDragFilter(this, false, [this] { return m_draggable; });
}

void TBrimImagePanel::SetCaption(const QString &caption)
{
    m_caption = caption;
    update();
}

void TBrimImagePanel::SetColor(const QColor &color)
{
    m_color = color;
    update();
}

void TBrimImagePanel::SetFontColor(const QColor &color)
{
    m_fontColor = color;
    update();
}

void TBrimImagePanel::SetAlign(TAlign align)
{
    m_align = align;
    applyAutoSize();
}

namespace {

QImage keyedCopy(const QImage &picture, const QColor &color)
{
    QImage keyed = picture.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = color.rgb() & 0xFFFFFF;
    for (int y = 0; y < keyed.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(keyed.scanLine(y));
        for (int x = 0; x < keyed.width(); ++x) {
            if (qAlpha(line[x]) == 255 && (line[x] & 0xFFFFFF) == key)
                line[x] = 0;
        }
    }
    return keyed;
}

} // namespace

void TBrimImagePanel::rebuildKeyed()
{
    m_keyed = QImage();
    m_dense = QImage();
    if (m_picture.isNull() || !m_transparent)
        return;
    m_keyed = keyedCopy(m_picture, m_transparentColor);
}

void TBrimImagePanel::applyAutoSize()
{
    if (!m_autoSize || m_picture.isNull())
        return;
    int w = width(), h = height();
    if (m_align != alTop && m_align != alBottom && m_align != alClient)
        w = m_picture.width();
    if (m_align != alLeft && m_align != alRight && m_align != alClient)
        h = m_picture.height();
    if (w != width() || h != height())
        resize(w, h);
}

QRect TBrimImagePanel::PictureRect() const
{
    if (m_picture.isNull())
        return {};
    const QPoint at = brim::alignPicture(m_pictureAlign, size(), m_picture.size(), m_pictureX, m_pictureY);
    return QRect(at, m_stretch ? size() : m_picture.size());
}

void TBrimImagePanel::PaintPicture(QPainter &p)
{
    if (m_picture.isNull())
        return;
    const QImage *img = m_transparent ? &m_keyed : &m_picture;
    const qreal ratio = p.device() ? p.device()->devicePixelRatioF() : 1.0;
    if (!m_art.isNull() && qAbs(ratio - 1) > 0.001) {
        if (m_dense.isNull() || qAbs(m_dense.devicePixelRatio() - ratio) > 0.001) {
            m_dense = brim::skinImageAt(m_art, ratio);
            if (m_transparent && !m_dense.isNull())
                m_dense = keyedCopy(m_dense, m_transparentColor);
        }
        if (!m_dense.isNull())
            img = &m_dense;
    }
    p.drawImage(PictureRect(), *img);
}

void TBrimImagePanel::PaintCaption(QPainter &p)
{
    if (m_caption.trimmed().isEmpty() || !isVisible())
        return;
    p.setFont(font());
    p.setPen(isEnabled() ? m_fontColor : palette().color(QPalette::Disabled, QPalette::Text));
    p.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, m_caption);
}

void TBrimImagePanel::paintEvent(QPaintEvent *)
{
    // With Transparent the parent has already painted what lies behind us;
    // key-colour pixels were made see-through when the picture was set.
    QPainter p(this);
    if (!m_transparent)
        p.fillRect(rect(), m_color);
    PaintPicture(p);
    PaintCaption(p);
    PaintBorder(p);
}

void TBrimImagePanel::resizeEvent(QResizeEvent *e)
{
    QWidget::resizeEvent(e);
    applyAutoSize();
}

void TBrimImagePanel::changeEvent(QEvent *e)
{
    if (e->type() == QEvent::EnabledChange)
        update();
    QWidget::changeEvent(e);
}
