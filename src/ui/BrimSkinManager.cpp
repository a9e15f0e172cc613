#include "ui/BrimSkinManager.h"

#include "ui/BrimWindowDrag.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>
#include <QWindowStateChangeEvent>
#include <algorithm>

namespace brim {

// Frame pieces are drawn opaque: the window's shape comes from the key colour alone.
QPixmap opaquePicture(const QPixmap &pic)
{
    if (pic.isNull() || !pic.hasAlphaChannel())
        return pic;
    QImage img = pic.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < img.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x)
            line[x] |= 0xFF000000u;
    }
    QPixmap opaque = QPixmap::fromImage(img.convertToFormat(QImage::Format_RGB32));
    opaque.setDevicePixelRatio(pic.devicePixelRatio());
    return opaque;
}

// Shortens text at a word boundary and appends "..." so that it fits width.
// A first word that alone does not fit is cut inside the word.
QString wordEllipsis(const QString &text, const QFontMetrics &fm, int width)
{
    if (fm.horizontalAdvance(text) <= width)
        return text;
    const QString dots = QStringLiteral("...");
    QString head = text;
    while (true) {
        const int cut = head.lastIndexOf(QLatin1Char(' '));
        if (cut <= 0)
            break;
        head = head.left(cut).trimmed();
        if (head.isEmpty())
            break;
        if (fm.horizontalAdvance(head + dots) <= width)
            return head + dots;
    }
    return fm.elidedText(text, Qt::ElideRight, qMax(0, width));
}

class SkinFramePiece : public QWidget
{
public:
    SkinFramePiece(QWidget *parent, TBrimSkinManager *mgr, bool titleArea)
        : QWidget(parent)
        , m_mgr(mgr)
        , m_titleArea(titleArea)
    {
        if (titleArea)
            new WindowDragFilter(this, true,
                                 [mgr] { return mgr->Window() && !mgr->Window()->isMaximized(); });
    }
    void setPicture(const QPixmap &pic, const SkinArt &art)
    {
        m_pic = pic;
        m_art = art;
        m_dense = QPixmap();
        update();
    }
    const QPixmap &picture() const { return m_pic; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        if (m_pic.isNull())
            return;
        QPainter p(this);
        p.drawPixmap(rect(), densePicture());
    }
    // On a dense screen the piece's art drawn for it, opaque like the 1x piece.
    const QPixmap &densePicture()
    {
        const qreal ratio = devicePixelRatioF();
        if (m_art.isNull() || qAbs(ratio - 1) < 0.001)
            return m_pic;
        if (m_dense.isNull() || qAbs(m_dense.devicePixelRatio() - ratio) > 0.001) {
            const QImage img = skinImageAt(m_art, ratio);
            m_dense = img.isNull() ? m_pic : opaquePicture(QPixmap::fromImage(img));
        }
        return m_dense;
    }
    void mouseDoubleClickEvent(QMouseEvent *) override
    {
        if (m_titleArea)
            m_mgr->ToggleMaximize();
    }

private:
    TBrimSkinManager *m_mgr;
    bool m_titleArea;
    QPixmap m_pic;
    SkinArt m_art;
    QPixmap m_dense;
};

class SkinTitleLabel : public QWidget
{
public:
    SkinTitleLabel(QWidget *parent, TBrimSkinManager *mgr)
        : QWidget(parent)
        , m_mgr(mgr)
    {
        new WindowDragFilter(this, true, [mgr] { return mgr->Window() && !mgr->Window()->isMaximized(); });
    }
    void setText(const QString &text, const TBrimColorFont &font)
    {
        m_text = text;
        m_color = font.Color;
        setFont(font.Font);
        update();
    }
    QString shown() const { return wordEllipsis(m_text, fontMetrics(), width()); }
    int textWidth() const { return fontMetrics().horizontalAdvance(m_text); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setPen(m_color);
        p.drawText(rect(), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, shown());
    }
    void mouseDoubleClickEvent(QMouseEvent *) override { m_mgr->ToggleMaximize(); }

private:
    TBrimSkinManager *m_mgr;
    QString m_text;
    QColor m_color;
};

class SkinSizeGrip : public QWidget
{
public:
    SkinSizeGrip(QWidget *parent, TBrimSkinManager *mgr)
        : QWidget(parent)
        , m_mgr(mgr)
    { }

protected:
    void mousePressEvent(QMouseEvent *e) override
    {
        if (e->button() == Qt::LeftButton && m_mgr->Style() == fsSizable)
            m_mgr->gripPress(e->globalPosition().toPoint());
    }
    void mouseMoveEvent(QMouseEvent *e) override
    {
        if (e->buttons() & Qt::LeftButton)
            m_mgr->gripMove(e->globalPosition().toPoint());
    }
    void mouseReleaseEvent(QMouseEvent *e) override
    {
        if (e->button() == Qt::LeftButton)
            m_mgr->gripRelease(e->globalPosition().toPoint());
    }

private:
    TBrimSkinManager *m_mgr;
};

// The rectangle the window will get, shown while the grip is dragged: a
// 4-pixel frame in a 50 % checker pattern, drawn as its own top-level window
// so it shows over everything on the screen.
class ResizeOutline : public QWidget
{
public:
    ResizeOutline()
        : QWidget(nullptr,
                  Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                      | Qt::X11BypassWindowManagerHint)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_ShowWithoutActivating);
    }
    void showRect(const QRect &r)
    {
        m_rect = r;
        setGeometry(r);
        const QRect local(QPoint(0, 0), r.size());
        QRegion ring(local);
        if (r.width() > 8 && r.height() > 8)
            ring -= QRegion(local.adjusted(4, 4, -4, -4));
        setMask(ring);
        show();
        update();
    }
    void hideOutline()
    {
        m_rect = QRect();
        hide();
    }
    QRect current() const { return m_rect; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.fillRect(rect(), Qt::white);
        p.fillRect(rect(), QBrush(Qt::black, Qt::Dense4Pattern));
    }

private:
    QRect m_rect;
};

} // namespace brim

using brim::ResizeOutline;
using brim::SkinFramePiece;
using brim::SkinSizeGrip;
using brim::SkinTitleLabel;

void TSMPart::changed()
{
    m_owner->SettingsChanged();
}

void TSMFrame::SetPicture(Piece piece, const QPixmap &pic)
{
    if (piece < 0 || piece >= PieceCount)
        return;
    m_art[piece] = brim::skinArtOf(pic);
    m_pics[piece] = brim::opaquePicture(pic);
    changed();
}

TSMTitle::TSMTitle(TBrimSkinManager *owner)
    : TSMPart(owner)
{
    QFont f = QApplication::font();
    f.setBold(true);
    m_Font = TBrimColorFont {f, Qt::black};
}

TBrimSkinManager::TBrimSkinManager(QWidget *window)
    : QObject(window)
    , m_window(window)
    , m_icon(this)
    , m_title(this)
    , m_frame(this)
    , m_cmdButtons(this)
{
    if (m_window)
        m_window->setWindowFlags(m_window->windowFlags() | Qt::FramelessWindowHint);
}

TBrimSkinManager::~TBrimSkinManager()
{
    if (m_window)
        m_window->removeEventFilter(this);
    delete m_outline;
}

void TBrimSkinManager::SetStyle(TFormStyle style)
{
    m_style = style;
    if (m_grip)
        m_grip->setCursor(m_style == fsSizable ? Qt::SizeFDiagCursor : Qt::ArrowCursor);
}

void TBrimSkinManager::SetTransparentColor(bool on)
{
    m_transparentColor = on;
    updateShape();
}

void TBrimSkinManager::SetTransparentColorValue(const QColor &color)
{
    m_transparentColorValue = color;
    updateShape();
}

TBrimImageButton *TBrimSkinManager::CommandButton(TSMButtonKind kind) const
{
    return m_buttons[size_t(kind)];
}

QWidget *TBrimSkinManager::TitleLabel() const
{
    return m_titleLabel;
}

QString TBrimSkinManager::TitleShown() const
{
    return m_titleLabel ? m_titleLabel->shown() : QString();
}

QWidget *TBrimSkinManager::FramePiece(TSMFrame::Piece piece) const
{
    return piece >= 0 && piece < TSMFrame::PieceCount ? m_pieces[piece] : nullptr;
}

QWidget *TBrimSkinManager::SizeGrip() const
{
    return m_grip;
}

QRect TBrimSkinManager::OutlineRect() const
{
    return m_outline ? m_outline->current() : QRect();
}

bool TBrimSkinManager::canMove() const
{
    return m_window && !m_window->isMaximized();
}

void TBrimSkinManager::SettingsChanged()
{
    if (!m_applied || m_syncing)
        return;
    syncControls();
}

void TBrimSkinManager::updateWindowFlags()
{
    // The window keeps a system menu offering only the commands the skin shows.
    Qt::WindowFlags flags = m_window->windowFlags() | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint;
    const auto offered = [](TSMButton &b) { return b.Visible() && b.Enabled(); };
    flags.setFlag(Qt::WindowMinimizeButtonHint, offered(m_cmdButtons.BtnMin()));
    flags.setFlag(Qt::WindowMaximizeButtonHint, offered(m_cmdButtons.BtnMax()));
    if (flags != m_window->windowFlags()) {
        const bool wasVisible = m_window->isVisible();
        m_window->setWindowFlags(flags);
        if (wasVisible)
            m_window->show();
    }
}

void TBrimSkinManager::ApplySkin()
{
    if (!m_window)
        return;
    QWidget *w = m_window;
    w->setAttribute(Qt::WA_NoSystemBackground, false);
    updateWindowFlags();
    w->setWindowTitle(m_title.Text());

    if (!m_pieces[0]) {
        for (int i = 0; i < TSMFrame::PieceCount; ++i) {
            const bool titleArea = i == TSMFrame::TopLeft || i == TSMFrame::Top || i == TSMFrame::TopRight;
            m_pieces[size_t(i)] = new SkinFramePiece(w, this, titleArea);
        }
        m_grip = new SkinSizeGrip(w, this);
        m_grip->resize(7, 7);

        m_iconButton = new TBrimImageButton(w);
        m_iconButton->SetTransparent(true);
        m_iconButton->SetTabStop(false);
        m_iconButton->OnMouseDown = [this](QObject *, Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
            // Without a handler the press moves the window (see the drag filter).
            if (OnIconClick)
                OnIconClick(this);
        };
        new brim::WindowDragFilter(m_iconButton, true, [this] { return !OnIconClick && canMove(); });

        m_titleLabel = new SkinTitleLabel(w, this);

        for (int k = 0; k < 3; ++k) {
            auto *b = new TBrimImageButton(w);
            b->SetTransparent(true);
            b->SetTabStop(false);
            m_buttons[size_t(k)] = b;
        }
        m_buttons[size_t(TSMButtonKind::Min)]->OnClick = [this](QObject *) {
            if (!m_window)
                return;
            m_expectedState = Qt::WindowMinimized;
            m_expectingState = true;
            m_window->showMinimized();
            if (OnMinimized)
                OnMinimized(this);
        };
        m_buttons[size_t(TSMButtonKind::Max)]->OnClick = [this](QObject *) { ToggleMaximize(); };
        m_buttons[size_t(TSMButtonKind::Close)]->OnClick = [this](QObject *) {
            if (m_window)
                m_window->close();
        };
        w->installEventFilter(this);
    }

    m_applied = true;
    syncControls();
    // The title sits just above the frame, below every other control, so it
    // never takes clicks meant for the window's own buttons in the title bar.
    m_titleLabel->lower();
    for (auto *piece : m_pieces)
        piece->lower();
    SetStyle(m_style);
}

void TBrimSkinManager::syncControls()
{
    if (!m_applied || !m_window)
        return;
    m_syncing = true;
    if (m_window->windowTitle() != m_title.Text())
        m_window->setWindowTitle(m_title.Text());
    for (int i = 0; i < TSMFrame::PieceCount; ++i)
        m_pieces[size_t(i)]->setPicture(m_frame.Picture(TSMFrame::Piece(i)), m_frame.Art(TSMFrame::Piece(i)));

    m_iconButton->SetPictures(m_icon.PicNormal(), m_icon.PicMouseHover(), m_icon.PicMouseDown(),
                              m_icon.PicDisabled());
    m_iconButton->resize(m_icon.PicNormal().deviceIndependentSize().toSize());
    m_iconButton->setVisible(m_icon.Visible());

    for (int k = 0; k < 3; ++k) {
        TSMButton &s = m_cmdButtons.Button(TSMButtonKind(k));
        TBrimImageButton *b = m_buttons[size_t(k)];
        b->SetPictures(s.PicNormal(), s.PicMouseHover(), s.PicMouseDown(), s.PicDisabled());
        b->SetCaption(s.Caption());
        b->setEnabled(s.Enabled());
        b->resize(s.PicNormal().deviceIndependentSize().toSize());
        b->setVisible(s.Visible());
        // A placed button keeps its distance from the right edge; it is taken
        // anew only when its position is set, not when other settings change.
        if (!m_placed[size_t(k)] || m_placedX[size_t(k)] != s.PosX()) {
            m_buttonRightOffset[size_t(k)] = m_window->width() - s.PosX();
            m_placedX[size_t(k)] = s.PosX();
            m_placed[size_t(k)] = true;
        }
    }
    m_titleLabel->setText(m_title.Text(), m_title.Font());
    m_titleLabel->setVisible(m_title.Visible());
    m_syncing = false;

    if (m_window->isVisible())
        updateWindowFlags();
    layoutFrame();
    layoutIcon();
    layoutCommandButtons();
    layoutTitle();
    updateShape();
}

void TBrimSkinManager::layoutFrame()
{
    const int W = m_window->width(), H = m_window->height();
    auto size = [this](TSMFrame::Piece p) { return m_frame.Picture(p).deviceIndependentSize().toSize(); };
    const QSize tl = size(TSMFrame::TopLeft), t = size(TSMFrame::Top), tr = size(TSMFrame::TopRight);
    const QSize l = size(TSMFrame::Left), r = size(TSMFrame::Right);
    const QSize bl = size(TSMFrame::BottomLeft), b = size(TSMFrame::Bottom), br = size(TSMFrame::BottomRight);

    m_pieces[TSMFrame::TopLeft]->setGeometry(0, 0, tl.width(), tl.height());
    m_pieces[TSMFrame::TopRight]->setGeometry(W - tr.width(), 0, tr.width(), tr.height());
    m_pieces[TSMFrame::Top]->setGeometry(tl.width(), 0, W - tr.width() - tl.width(), t.height());
    m_pieces[TSMFrame::BottomLeft]->setGeometry(0, H - bl.height(), bl.width(), bl.height());
    m_pieces[TSMFrame::BottomRight]->setGeometry(W - br.width(), H - br.height(), br.width(), br.height());
    m_pieces[TSMFrame::Bottom]->setGeometry(bl.width(), H - b.height(), W - br.width() - bl.width(),
                                            b.height());
    m_pieces[TSMFrame::Left]->setGeometry(0, tl.height(), l.width(), H - bl.height() - tl.height());
    m_pieces[TSMFrame::Right]->setGeometry(W - r.width(), tr.height(), r.width(),
                                           H - br.height() - tr.height());
    m_grip->setGeometry(W - 7, H - 7, 7, 7);
    m_grip->raise();
}

void TBrimSkinManager::layoutIcon()
{
    if (m_icon.AutoPosition())
        m_iconButton->move(5, 5);
    else
        m_iconButton->move(m_icon.PosX(), m_icon.PosY());
}

void TBrimSkinManager::layoutCommandButtons()
{
    const int W = m_window->width();
    auto *close = m_buttons[size_t(TSMButtonKind::Close)];
    auto *max = m_buttons[size_t(TSMButtonKind::Max)];
    auto *min = m_buttons[size_t(TSMButtonKind::Min)];
    const bool closeShown = m_cmdButtons.BtnClose().Visible();
    const bool maxShown = m_cmdButtons.BtnMax().Visible();
    if (m_cmdButtons.AutoPosition()) {
        close->move(W - close->width() - 5, 5);
        int x = W - max->width() - 5;
        if (closeShown)
            x -= close->width() + 5;
        max->move(x, 5);
        x = W - min->width() - 5;
        if (closeShown)
            x -= close->width() + 5;
        if (maxShown)
            x -= max->width() + 5;
        min->move(x, 5);
    } else {
        // Placed buttons keep their distance from the right edge.
        for (int k = 0; k < 3; ++k) {
            TSMButton &s = m_cmdButtons.Button(TSMButtonKind(k));
            m_buttons[size_t(k)]->move(W - m_buttonRightOffset[size_t(k)], s.PosY());
        }
    }
    for (auto *b : m_buttons)
        b->raise();
}

void TBrimSkinManager::layoutTitle()
{
    const QFontMetrics fm(m_title.Font().Font);
    const int labelH = fm.height();
    int left = 5, top = 5;
    if (!m_title.AutoPosition()) {
        left = m_title.PosX();
        top = m_title.PosY();
    } else if (m_icon.Visible()) {
        const QRect icon = m_iconButton->geometry();
        left = icon.x() + icon.width() + 5;
        top = qMax(icon.y(), icon.y() + (icon.height() - labelH) / 2);
    }
    int limit = m_window->width();
    for (int k = 0; k < 3; ++k) {
        if (m_cmdButtons.Button(TSMButtonKind(k)).Visible())
            limit = qMin(limit, m_buttons[size_t(k)]->x());
    }
    const int width = qMax(0, limit - left - 5);
    m_titleLabel->setGeometry(left, top, width, labelH);
}

void TBrimSkinManager::ToggleMaximize()
{
    if (!m_window || m_style == fsFixed)
        return;
    m_expectingState = true;
    if (m_window->isMaximized()) {
        m_expectedState = Qt::WindowNoState;
        m_window->showNormal();
        if (m_grip)
            m_grip->setEnabled(true);
        if (OnRestored)
            OnRestored(this);
    } else {
        m_expectedState = Qt::WindowMaximized;
        m_window->showMaximized();
        if (m_grip)
            m_grip->setEnabled(false);
        if (OnMaximized)
            OnMaximized(this);
    }
}

QPoint TBrimSkinManager::clampGrip(QPoint p) const
{
    const QPoint origin = m_gripOrigin;
    if (m_bounds.MinWidth > 0)
        p.setX(qMax(p.x(), origin.x() + m_bounds.MinWidth));
    if (m_bounds.MinHeight > 0)
        p.setY(qMax(p.y(), origin.y() + m_bounds.MinHeight));
    if (m_bounds.MaxWidth > 0)
        p.setX(qMin(p.x(), origin.x() + m_bounds.MaxWidth));
    if (m_bounds.MaxHeight > 0)
        p.setY(qMin(p.y(), origin.y() + m_bounds.MaxHeight));
    // A window is never made narrower or lower than one pixel.
    p.setX(qMax(p.x(), origin.x() + 1));
    p.setY(qMax(p.y(), origin.y() + 1));
    return p;
}

void TBrimSkinManager::gripPress(QPoint global)
{
    if (!m_window || m_style != fsSizable || m_window->isMaximized())
        return;
    m_gripActive = true;
    m_gripOrigin = m_window->pos();
    if (!m_outline)
        m_outline = new ResizeOutline;
    m_outline->showRect(QRect(m_gripOrigin, clampGrip(global) - QPoint(1, 1)));
}

void TBrimSkinManager::gripMove(QPoint global)
{
    if (!m_gripActive)
        return;
    m_outline->showRect(QRect(m_gripOrigin, clampGrip(global) - QPoint(1, 1)));
}

void TBrimSkinManager::gripRelease(QPoint global)
{
    if (!m_gripActive)
        return;
    m_gripActive = false;
    const QPoint p = clampGrip(global);
    m_outline->hideOutline();
    if (m_window)
        m_window->resize(p.x() - m_gripOrigin.x(), p.y() - m_gripOrigin.y());
}

void TBrimSkinManager::updateShape()
{
    if (!m_window || !m_applied)
        return;
    if (!m_transparentColor) {
        if (m_shapeSet) {
            m_window->clearMask();
            m_shapeSet = false;
        }
        m_shape = QRegion();
        return;
    }
    const int W = m_window->width(), H = m_window->height();
    const QRgb key = m_transparentColorValue.rgb() & 0xFFFFFF;
    QRect g[TSMFrame::PieceCount];
    for (int i = 0; i < TSMFrame::PieceCount; ++i)
        g[i] = m_pieces[size_t(i)]->geometry();

    // Where each piece's pixels land in the shape.
    QPoint at[TSMFrame::PieceCount];
    at[TSMFrame::TopLeft] = {0, 0};
    at[TSMFrame::Top] = {g[TSMFrame::TopLeft].right() + 1, 0};
    at[TSMFrame::TopRight] = {g[TSMFrame::Top].right() + 1, 0};
    at[TSMFrame::Left] = {0, g[TSMFrame::TopLeft].bottom() + 1};
    at[TSMFrame::Right] = {W - g[TSMFrame::Right].width(), g[TSMFrame::TopRight].bottom() + 1};
    at[TSMFrame::BottomLeft] = {0, g[TSMFrame::Left].bottom() + 1};
    at[TSMFrame::Bottom] = {g[TSMFrame::BottomLeft].right() + 1, H - g[TSMFrame::Bottom].height()};
    at[TSMFrame::BottomRight] = {g[TSMFrame::Bottom].right() + 1, H - g[TSMFrame::BottomRight].height()};

    QRegion shape;
    for (int i = 0; i < TSMFrame::PieceCount; ++i) {
        if (g[i].isEmpty())
            continue;
        QImage img(g[i].size(), QImage::Format_RGB32);
        img.fill(Qt::black);
        {
            QPainter p(&img);
            const QPixmap &pic = m_frame.Picture(TSMFrame::Piece(i));
            if (!pic.isNull())
                p.drawPixmap(img.rect(), pic);
        }
        QRegion piece;
        for (int x = 0; x < img.width(); ++x) {
            int runStart = -1;
            for (int y = 0; y <= img.height(); ++y) {
                const bool solid = y < img.height() && (img.pixel(x, y) & 0xFFFFFF) != key;
                if (solid && runStart < 0)
                    runStart = y;
                else if (!solid && runStart >= 0) {
                    piece += QRect(x, runStart, 1, y - runStart);
                    runStart = -1;
                }
            }
        }
        shape += piece.translated(at[i]);
    }
    const int innerLeft
        = std::min({g[TSMFrame::TopLeft].right(), g[TSMFrame::Left].right(), g[TSMFrame::BottomLeft].right()})
        + 1;
    const int innerTop
        = std::min({g[TSMFrame::TopLeft].bottom(), g[TSMFrame::Top].bottom(), g[TSMFrame::TopRight].bottom()})
        + 1;
    const int innerRight = std::max({W - g[TSMFrame::TopRight].width(), W - g[TSMFrame::Right].width(),
                                     W - g[TSMFrame::BottomRight].width()});
    const int innerBottom = std::max({H - g[TSMFrame::BottomLeft].height(), H - g[TSMFrame::Bottom].height(),
                                      H - g[TSMFrame::BottomRight].height()});
    if (innerRight > innerLeft && innerBottom > innerTop)
        shape += QRect(QPoint(innerLeft, innerTop), QPoint(innerRight - 1, innerBottom - 1));
    m_shape = shape;
    m_window->setMask(shape);
    m_shapeSet = true;
}

bool TBrimSkinManager::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_window || !m_applied)
        return QObject::eventFilter(watched, event);
    QWidget *w = m_window;
    switch (event->type()) {
    case QEvent::Resize:
        if (w->isMaximized() && w->screen()) {
            // A maximized frameless window would cover the task bar; keep it
            // to the screen's work area.
            const QRect avail = w->screen()->availableGeometry();
            if (w->geometry() != avail)
                w->setGeometry(avail);
        }
        layoutFrame();
        layoutCommandButtons();
        layoutTitle();
        updateShape();
        break;
    case QEvent::Move:
        if (w->isMaximized() && w->screen()) {
            const QRect avail = w->screen()->availableGeometry();
            if (w->pos() != avail.topLeft())
                w->move(avail.topLeft());
        }
        break;
    case QEvent::WindowTitleChange:
        if (!m_syncing && w->windowTitle() != m_title.Text())
            m_title.SetText(w->windowTitle());
        break;
    case QEvent::WindowStateChange: {
        const Qt::WindowStates now = w->windowState();
        const auto *e = static_cast<QWindowStateChangeEvent *>(event);
        if (m_expectingState && (now & (Qt::WindowMinimized | Qt::WindowMaximized)) == m_expectedState) {
            m_expectingState = false;
            break;
        }
        // Changes made by the window system (its menu, keys, the task bar).
        if (now & Qt::WindowMinimized) {
            if (OnMinimized)
                OnMinimized(this);
        } else if (now & Qt::WindowMaximized) {
            if (m_grip)
                m_grip->setEnabled(false);
            if (OnMaximized)
                OnMaximized(this);
        } else if (e->oldState() & (Qt::WindowMinimized | Qt::WindowMaximized)) {
            if (m_grip)
                m_grip->setEnabled(true);
            if (OnRestored)
                OnRestored(this);
        }
        break;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
