#include "ui/BrimImageButton.h"

#include "ui/BrimAccessible.h"
#include "ui/BrimSkin.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QPainter>
#include <QShortcut>
#include <QStyleOptionFocusRect>

namespace {

const QColor kGrey(128, 128, 128);

bool inside(const QWidget *w, QPointF pos)
{
    // Edges included: the release rule counts the right and bottom edge as inside.
    return pos.x() >= 0 && pos.y() >= 0 && pos.x() <= w->width() && pos.y() <= w->height();
}

bool isEnterKey(int key)
{
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

} // namespace

TBrimCustomButton::TBrimCustomButton(QWidget *parent)
    : QWidget(parent)
{
    brim::EnsureAccessibility();
    setAttribute(Qt::WA_Hover, false);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    m_color = palette().color(QPalette::Button);
    m_fontColor = palette().color(QPalette::ButtonText);
    m_fontHover = m_fontDown = m_fontDisabled = TBrimColorFont {font(), m_fontColor};
    resize(75, 25);
}

TBrimCustomButton::~TBrimCustomButton()
{
    if (m_watchedWindow)
        m_watchedWindow->removeEventFilter(this);
}

void TBrimCustomButton::SetCaption(const QString &caption)
{
    if (caption == m_caption)
        return;
    m_caption = caption;
    updateShortcut();
    update();
    // A button without a name of its own is read by its caption.
    if (QAccessible::isActive() && accessibleName().isEmpty()) {
        QAccessibleEvent event(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
}

void TBrimCustomButton::SetTextAlign(TBrimAlign align)
{
    m_textAlign = align;
    update();
}

void TBrimCustomButton::SetTextX(int x)
{
    m_textX = x;
    update();
}

void TBrimCustomButton::SetTextY(int y)
{
    m_textY = y;
    update();
}

void TBrimCustomButton::SetTransparent(bool on)
{
    m_transparent = on;
    update();
}

void TBrimCustomButton::SetColor(const QColor &color)
{
    m_color = color;
    update();
}

void TBrimCustomButton::SetFocusedRectMargin(int margin)
{
    m_focusedRectMargin = margin;
    update();
}

void TBrimCustomButton::SetMultiLines(bool on)
{
    m_multiLines = on;
    update();
}

void TBrimCustomButton::SetFont(const TBrimColorFont &f)
{
    setFont(f.Font);
    m_fontColor = f.Color;
    update();
}

void TBrimCustomButton::SetEnableStatesFont(bool on)
{
    m_enableStatesFont = on;
    update();
}

void TBrimCustomButton::SetFontMouseHover(const TBrimColorFont &f)
{
    m_fontHover = f;
    update();
}

void TBrimCustomButton::SetFontMouseDown(const TBrimColorFont &f)
{
    m_fontDown = f;
    update();
}

void TBrimCustomButton::SetFontDisabled(const TBrimColorFont &f)
{
    m_fontDisabled = f;
    update();
}

void TBrimCustomButton::SetShowDisabledShadow(bool on)
{
    m_showDisabledShadow = on;
    update();
}

void TBrimCustomButton::SetTabStop(bool on)
{
    m_tabStop = on;
    setFocusPolicy(on ? Qt::StrongFocus : Qt::NoFocus);
    update();
}

void TBrimCustomButton::SetDefault(bool on)
{
    m_default = on;
    watchWindowKeys();
}

void TBrimCustomButton::SetCancel(bool on)
{
    m_cancel = on;
    watchWindowKeys();
}

bool TBrimCustomButton::canTakeFocus() const
{
    return isEnabled() && isVisible();
}

void TBrimCustomButton::Click()
{
    if (m_down) {
        m_down = false;
        m_hover = true;
        update();
    }
    QPointer<QDialog> dialog = qobject_cast<QDialog *>(window());
    const int result = m_modalResult;
    if (dialog && result != 0)
        dialog->setResult(result);
    if (OnClick)
        OnClick(this);
    // A dialog closes once its result is set, after the click handler ran (the
    // handler may still change the result back to 0 to keep it open).
    if (dialog && result != 0 && dialog->result() == result)
        dialog->done(result);
}

void TBrimCustomButton::PaintBackground(QPainter &p)
{
    if (!m_transparent)
        p.fillRect(rect(), m_color);
}

void TBrimCustomButton::PaintCaption(QPainter &p)
{
    if (m_caption.trimmed().isEmpty())
        return;
    const auto placement = brim::alignCaption(m_textAlign, rect(), m_textX, m_textY);
    QRect box = placement.box;
    int flags = placement.flags | Qt::TextShowMnemonic;
    if (m_multiLines) {
        flags = (flags & ~Qt::AlignVertical_Mask) | Qt::AlignTop | Qt::TextWordWrap;
    } else {
        flags |= Qt::TextSingleLine;
    }

    const TBrimColorFont f = StateFont();
    bool shadow = false;
    if (isEnabled()) {
        if (m_down && brim::isEdgeAlign(m_textAlign))
            box.translate(1, 1);
    } else {
        shadow = m_showDisabledShadow;
    }
    p.setFont(f.Font);
    p.setPen(f.Color);
    p.drawText(box, flags, m_caption);
    if (shadow) {
        p.setPen(kGrey);
        p.drawText(box.translated(1, 1), flags, m_caption);
    }
}

TBrimColorFont TBrimCustomButton::StateFont() const
{
    if (!m_enableStatesFont)
        return {font(), m_fontColor};
    if (!isEnabled())
        return m_fontDisabled;
    if (m_down)
        return m_fontDown;
    if (m_hover)
        return m_fontHover;
    return {font(), m_fontColor};
}

void TBrimCustomButton::paintEvent(QPaintEvent *)
{
    // Composed off-screen and copied once, so a transparent button over a
    // picture background never shows a half-drawn state. The buffer has the
    // screen's pixel density, so captions and pictures stay sharp on it.
    const qreal ratio = devicePixelRatioF();
    QPixmap buffer((QSizeF(size()) * ratio).toSize());
    buffer.setDevicePixelRatio(ratio);
    buffer.fill(Qt::transparent);
    {
        QPainter p(&buffer);
        PaintBackground(p);
        PaintPicture(p);
        PaintCaption(p);
        PaintFocusRect(p);
        PaintBorder(p);
    }
    QPainter screen(this);
    screen.drawPixmap(0, 0, buffer);
}

void TBrimCustomButton::enterEvent(QEnterEvent *)
{
    if (m_mousePressed)
        return;
    m_hover = true;
    m_down = false;
    update();
    if (OnMouseEnter)
        OnMouseEnter(this);
}

void TBrimCustomButton::leaveEvent(QEvent *)
{
    if (m_down)
        return;
    m_hover = false;
    update();
    if (OnMouseExit)
        OnMouseExit(this);
}

void TBrimCustomButton::mousePressEvent(QMouseEvent *e)
{
    const QPoint pos = e->position().toPoint();
    if (e->button() == Qt::LeftButton) {
        m_down = true;
        m_hover = false;
        m_mousePressed = true;
        if (m_tabStop && focusPolicy() != Qt::NoFocus && isEnabled() && isVisible())
            setFocus(Qt::MouseFocusReason);
        update();
    }
    if (OnMouseDown)
        OnMouseDown(this, e->button(), e->modifiers(), pos.x(), pos.y());
}

void TBrimCustomButton::mouseDoubleClickEvent(QMouseEvent *e)
{
    // A second quick press is an ordinary press for a button.
    mousePressEvent(e);
}

void TBrimCustomButton::mouseMoveEvent(QMouseEvent *e)
{
    const QPointF pos = e->position();
    if (!m_down && (pos.x() < 0 || pos.y() < 0 || pos.x() > width() || pos.y() > height())) {
        if (m_hover) {
            m_hover = false;
            update();
        }
    }
    if (OnMouseMove)
        OnMouseMove(this, e->modifiers(), int(pos.x()), int(pos.y()));
}

void TBrimCustomButton::mouseReleaseEvent(QMouseEvent *e)
{
    const QPointF pos = e->position();
    const bool over = inside(this, pos);
    const bool click = e->button() == Qt::LeftButton && m_mousePressed && over;
    if (e->button() == Qt::LeftButton)
        m_mousePressed = false;
    m_hover = over;
    m_down = false;
    update();
    QPointer<TBrimCustomButton> self(this);
    if (OnMouseUp)
        OnMouseUp(this, e->button(), e->modifiers(), int(pos.x()), int(pos.y()));
    if (click && self && isEnabled())
        Click();
}

void TBrimCustomButton::keyPressEvent(QKeyEvent *e)
{
    int key = e->key();
    if (OnKeyDown)
        OnKeyDown(this, key, e->modifiers());
    if (OnKeyPress && !e->text().isEmpty()) {
        QChar ch = e->text().at(0);
        OnKeyPress(this, ch);
    }
    if ((key == Qt::Key_Space || isEnterKey(key)) && !e->isAutoRepeat() && isEnabled() && hasFocus()) {
        m_down = true;
        m_keyDown = true;
        update();
        e->accept();
        return;
    }
    if ((key == Qt::Key_Space || isEnterKey(key)) && e->isAutoRepeat()) {
        e->accept();
        return;
    }
    QWidget::keyPressEvent(e);
}

void TBrimCustomButton::keyReleaseEvent(QKeyEvent *e)
{
    int key = e->key();
    if (e->isAutoRepeat()) {
        e->accept();
        return;
    }
    if (OnKeyUp)
        OnKeyUp(this, key, e->modifiers());
    if ((key == Qt::Key_Space || isEnterKey(key)) && m_keyDown) {
        m_keyDown = false;
        if (m_down) {
            m_down = false;
            update();
            Click();
        }
        e->accept();
        return;
    }
    QWidget::keyReleaseEvent(e);
}

void TBrimCustomButton::focusInEvent(QFocusEvent *e)
{
    switch (e->reason()) {
    case Qt::TabFocusReason:
    case Qt::BacktabFocusReason:
    case Qt::ShortcutFocusReason:
        m_focusShown = true;
        break;
    case Qt::MouseFocusReason:
        m_focusShown = false;
        break;
    default: // the window coming back, a menu closing: as it was
        break;
    }
    QWidget::focusInEvent(e);
    update();
    if (OnEnter)
        OnEnter(this);
}

void TBrimCustomButton::focusOutEvent(QFocusEvent *e)
{
    QWidget::focusOutEvent(e);
    if (m_keyDown) {
        m_keyDown = false;
        m_down = false;
    }
    update();
    if (OnExit)
        OnExit(this);
}

void TBrimCustomButton::changeEvent(QEvent *e)
{
    if (e->type() == QEvent::EnabledChange) {
        if (!isEnabled()) {
            m_down = false;
            m_keyDown = false;
            m_mousePressed = false;
            m_hover = false;
        }
        update();
    } else if (e->type() == QEvent::ParentChange) {
        watchWindowKeys();
    }
    QWidget::changeEvent(e);
}

void TBrimCustomButton::showEvent(QShowEvent *e)
{
    QWidget::showEvent(e);
    watchWindowKeys();
}

void TBrimCustomButton::updateShortcut()
{
    const QKeySequence seq = QKeySequence::mnemonic(m_caption);
    if (seq.isEmpty()) {
        delete m_shortcut;
        m_shortcut = nullptr;
        return;
    }
    if (!m_shortcut) {
        m_shortcut = new QShortcut(this);
        m_shortcut->setContext(Qt::WindowShortcut);
        connect(m_shortcut, &QShortcut::activated, this, [this] {
            if (isEnabled() && isVisible())
                Click();
        });
    }
    m_shortcut->setKey(seq);
}

void TBrimCustomButton::watchWindowKeys()
{
    QWidget *win = window();
    const bool want = (m_default || m_cancel) && win && win != this;
    if (m_watchedWindow && (m_watchedWindow != win || !want)) {
        m_watchedWindow->removeEventFilter(this);
        m_watchedWindow = nullptr;
    }
    if (want && !m_watchedWindow) {
        m_watchedWindow = win;
        win->installEventFilter(this);
    }
}

bool TBrimCustomButton::eventFilter(QObject *watched, QEvent *event)
{
    // Enter and Escape that no control used travel up to the window; the
    // default and cancel buttons take them there.
    if (watched == m_watchedWindow && event->type() == QEvent::KeyPress) {
        auto *ke = static_cast<QKeyEvent *>(event);
        const bool noShift = !(ke->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier));
        if (noShift && !ke->isAutoRepeat() && canTakeFocus()) {
            QWidget *focus = QApplication::focusWidget();
            const bool otherButtonFocused = focus && focus != this
                && (qobject_cast<TBrimCustomButton *>(focus) || qobject_cast<QAbstractButton *>(focus));
            if (m_default && isEnterKey(ke->key()) && !otherButtonFocused) {
                Click();
                return true;
            }
            if (m_cancel && ke->key() == Qt::Key_Escape) {
                Click();
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------

TBrimImageButton::TBrimImageButton(QWidget *parent)
    : TBrimCustomButton(parent)
{ }

void TBrimImageButton::SetPicNormal(const QPixmap &pic)
{
    m_picNormal = pic;
    update();
}

void TBrimImageButton::SetPicMouseHover(const QPixmap &pic)
{
    m_picHover = pic;
    update();
}

void TBrimImageButton::SetPicMouseDown(const QPixmap &pic)
{
    m_picDown = pic;
    update();
}

void TBrimImageButton::SetPicDisabled(const QPixmap &pic)
{
    m_picDisabled = pic;
    update();
}

void TBrimImageButton::SetPictures(const QPixmap &normal, const QPixmap &hover, const QPixmap &down,
                                   const QPixmap &disabled)
{
    m_picNormal = normal;
    m_picHover = hover;
    m_picDown = down;
    m_picDisabled = disabled;
    update();
}

void TBrimImageButton::SetPictureAlign(TBrimAlign align)
{
    m_pictureAlign = align;
    update();
}

void TBrimImageButton::SetPictureX(int x)
{
    m_pictureX = x;
    update();
}

void TBrimImageButton::SetPictureY(int y)
{
    m_pictureY = y;
    update();
}

void TBrimImageButton::SetStretch(bool on)
{
    m_stretch = on;
    update();
}

void TBrimImageButton::SetDrawFocused(bool on)
{
    m_drawFocused = on;
    update();
}

void TBrimImageButton::SetDrawBorder(bool on)
{
    m_drawBorder = on;
    update();
}

void TBrimImageButton::SetTransparentColor(bool on)
{
    m_transparentColor = on;
    update();
}

void TBrimImageButton::SetTransparentColorValue(const QColor &color)
{
    m_transparentColorValue = color;
    update();
}

const QPixmap *TBrimImageButton::ChoosePicture() const
{
    const QPixmap *pic = &m_picNormal;
    if (!isEnabled())
        pic = &m_picDisabled;
    else if (IsDown())
        pic = &m_picDown;
    else if (IsHover())
        pic = &m_picHover;
    if (pic->isNull())
        pic = &m_picNormal;
    return pic->isNull() ? nullptr : pic;
}

QRect TBrimImageButton::PictureRect() const
{
    const QPixmap *pic = ChoosePicture();
    if (!pic)
        return {};
    const QSize picSize = pic->deviceIndependentSize().toSize();
    const QPoint at = brim::alignPicture(m_pictureAlign, size(), picSize, m_pictureX, m_pictureY);
    if (m_stretch)
        return QRect(at, QPoint(width() - 1, height() - 1));
    return QRect(at, picSize);
}

QSize TBrimImageButton::sizeHint() const
{
    if (!m_picNormal.isNull())
        return m_picNormal.deviceIndependentSize().toSize();
    return TBrimCustomButton::sizeHint();
}

void TBrimImageButton::PaintPicture(QPainter &p)
{
    const QPixmap *chosen = ChoosePicture();
    if (!chosen)
        return;
    const qreal ratio = p.device() ? p.device()->devicePixelRatioF() : 1.0;
    const QPixmap pic = brim::skinPictureAt(*chosen, ratio);
    const QRect target = PictureRect();
    if (!m_transparentColor) {
        p.drawPixmap(target, pic);
        return;
    }
    // Compose the picture alone, then leave out the key colour's pixels so the
    // background shows through them.
    QImage layer((QSizeF(size()) * ratio).toSize(), QImage::Format_ARGB32);
    layer.setDevicePixelRatio(ratio);
    layer.fill(Qt::transparent);
    {
        QPainter lp(&layer);
        lp.drawPixmap(target, pic);
    }
    const QRgb key = m_transparentColorValue.rgb() & 0xFFFFFF;
    for (int y = 0; y < layer.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(layer.scanLine(y));
        for (int x = 0; x < layer.width(); ++x) {
            if (qAlpha(line[x]) == 255 && (line[x] & 0xFFFFFF) == key)
                line[x] = 0;
        }
    }
    p.drawImage(0, 0, layer);
}

void TBrimImageButton::PaintFocusRect(QPainter &p)
{
    if (!m_drawFocused || !FocusShown() || !TabStop())
        return;
    const int m = FocusedRectMargin();
    const QRectF r = QRectF(rect()).adjusted(m + 0.5, m + 0.5, -m - 0.5, -m - 0.5);
    if (r.width() <= 0 || r.height() <= 0)
        return;
    // Dotted, in the caption's colour of the moment, which the skin's pictures
    // are drawn to carry; rounded like the pictures' own corners.
    QPen pen(StateFont().Color, 1.5, Qt::DotLine);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(r, 4, 4);
    p.restore();
}

void TBrimImageButton::PaintBorder(QPainter &p)
{
    if (!m_drawBorder)
        return;
    p.save();
    p.setPen(isEnabled() ? QColor(Qt::black) : kGrey);
    p.setBrush(Qt::NoBrush);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    p.restore();
}
