#include "ui/BrimImage.h"

#include "core/UrlFetcher.h"
#include "platform/Clock.h"
#include "ui/BrimSkin.h"
#include "ui/BrimWindowDrag.h"

#include <QBitmap>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QMovie>
#include <QPainter>
#include <QTemporaryFile>
#include <QTimer>

namespace brim {

namespace {

// A picture larger than this is not an icon; the download is abandoned.
constexpr qint64 kMaxPictureBytes = 32 * 1024 * 1024;

} // namespace

QByteArray pictureExtension(const QByteArray &head)
{
    if (head.startsWith("BM"))
        return ".bmp";
    if (head.size() >= 2 && uchar(head[0]) == 0xFF && uchar(head[1]) == 0xD8)
        return ".jpg";
    if (head.startsWith("GIF87a") || head.startsWith("GIF89a"))
        return ".gif";
    if (head.startsWith(QByteArray("\x89PNG\r\n\x1a\n", 8)))
        return ".png";
    return {};
}

HttpPictureResult fetchHttpPicture(const QString &url, const std::atomic<bool> *cancel)
{
    HttpPictureResult result;
    // The temporary file goes in every outcome, including failures.
    QTemporaryFile file(QDir::tempPath() + QStringLiteral("/_TMPXXXXXX"));
    if (!file.open())
        return result;

    core::UrlFetchRequest request;
    request.url = url.trimmed();
    request.agent
        = QByteArray("HttpDownloadFile_") + QByteArray::number(qint32(platform::tickCount())) + "_Agent";
    request.maxBytes = kMaxPictureBytes;
    request.cancel = cancel;
    request.sink = &file;
    const core::UrlFetchResult fetched = core::fetchUrl(request);
    if (!fetched.ok || fetched.status != 200 || !file.flush() || file.size() == 0)
        return result;
    if (!file.seek(0))
        return result;
    const QByteArray ext = pictureExtension(file.read(8));
    if (ext.isEmpty() || !file.seek(0))
        return result;
    result.data = file.readAll();

    // Decoded here once to make sure the bytes are a picture; the control
    // decodes again on the main thread.
    result.format = ext.mid(1);
    QBuffer buf(&result.data);
    buf.open(QIODevice::ReadOnly);
    QImageReader reader(&buf, result.format == "jpg" ? QByteArray("jpeg") : result.format);
    result.ok = !result.data.isEmpty() && !reader.read().isNull();
    if (!result.ok)
        result.data.clear();
    return result;
}

} // namespace brim

// ---------------------------------------------------------------------------

TBrimImage::TBrimImage(QWidget *parent)
    : QWidget(parent)
{
    resize(105, 105);
}

TBrimImage::~TBrimImage()
{
    // A download still running is abandoned; its worker delivers nothing.
    m_download.cancel();
    ClearPicture();
}

QPixmap TBrimImage::Picture() const
{
    return shownPixmap();
}

QPixmap TBrimImage::shownPixmap() const
{
    if (m_movie)
        return m_movie->currentPixmap();
    if (!m_frames.isEmpty())
        return m_frames.at(m_frameIndex % m_frames.size());
    return m_pixmap;
}

bool TBrimImage::HasPicture() const
{
    return m_movie || !m_frames.isEmpty() || !m_pixmap.isNull();
}

bool TBrimImage::IsAnimated() const
{
    if (m_frameTimer && m_frameTimer->isActive())
        return true;
    return m_movie && m_movie->state() == QMovie::Running;
}

void TBrimImage::ClearPicture()
{
    if (m_movie) {
        m_movie->stop();
        delete m_movie;
        m_movie = nullptr;
        delete m_movieBuffer;
        m_movieBuffer = nullptr;
    }
    m_frames.clear();
    m_frameIndex = 0;
    if (m_frameTimer)
        m_frameTimer->stop();
    m_pixmap = QPixmap();
    update();
}

void TBrimImage::SetPicture(const QPixmap &picture)
{
    ClearPicture();
    m_pixmap = picture;
    pictureChanged();
}

void TBrimImage::SetPicture(const QImage &picture)
{
    SetPicture(QPixmap::fromImage(picture));
}

bool TBrimImage::LoadPicture(const QByteArray &data, const QByteArray &format)
{
    QByteArray fmt = format;
    if (fmt.isEmpty())
        fmt = brim::pictureExtension(data.left(8)).mid(1);
    if (fmt == "jpg")
        fmt = "jpeg";
    if (fmt == "gif") {
        // Checked before anything is replaced: a damaged file leaves the old picture.
        auto buffer = std::make_unique<QBuffer>();
        buffer->setData(data);
        buffer->open(QIODevice::ReadOnly);
        auto movie = std::make_unique<QMovie>();
        movie->setDevice(buffer.get());
        movie->setFormat("gif");
        movie->setCacheMode(QMovie::CacheAll);
        if (!movie->isValid() || !movie->jumpToFrame(0) || movie->currentPixmap().isNull())
            return false;
        ClearPicture();
        m_movie = movie.release();
        m_movieBuffer = buffer.release();
        connect(m_movie, &QMovie::frameChanged, this, [this] { update(); });
        pictureChanged();
        return true;
    }
    QImage img;
    if (!img.loadFromData(data, fmt.isEmpty() ? nullptr : fmt.constData()))
        return false;
    SetPicture(img);
    return true;
}

void TBrimImage::SetAnimationFrames(const QList<QPixmap> &frames, int intervalMs)
{
    ClearPicture();
    for (const QPixmap &frame : frames) {
        if (!frame.isNull())
            m_frames.append(frame);
    }
    m_frameInterval = qMax(10, intervalMs);
    pictureChanged();
}

bool TBrimImage::LoadPictureFromFile(const QString &fileName)
{
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    return LoadPicture(f.readAll());
}

QSize TBrimImage::pictureSize() const
{
    if (m_movie)
        return m_movie->currentPixmap().size();
    if (!m_frames.isEmpty())
        return m_frames.first().size();
    return m_pixmap.size();
}

void TBrimImage::pictureChanged()
{
    applyGif();
    if (m_autoSize && HasPicture())
        resize(pictureSize());
    update();
}

void TBrimImage::applyGif()
{
    if (!m_frames.isEmpty()) {
        if (!m_frameTimer) {
            m_frameTimer = new QTimer(this);
            connect(m_frameTimer, &QTimer::timeout, this, [this] {
                if (m_frames.isEmpty())
                    return;
                m_frameIndex = (m_frameIndex + 1) % m_frames.size();
                update();
            });
        }
        const int speed = qMax(1, m_gifAnimationSpeed);
        m_frameTimer->setInterval(
            int(qBound(qint64(10), qint64(m_frameInterval) * 1000 / speed, qint64(60000))));
        if (m_gifAnimation && m_frames.size() > 1) {
            if (!m_frameTimer->isActive())
                m_frameTimer->start();
        } else {
            m_frameTimer->stop();
            m_frameIndex = 0;
        }
        return;
    }
    if (!m_movie)
        return;
    m_movie->setSpeed(qBound(1, m_gifAnimationSpeed / 10, 10000));
    if (m_gifAnimation && m_movie->frameCount() != 1) {
        if (m_movie->state() != QMovie::Running)
            m_movie->start();
    } else {
        m_movie->stop();
        m_movie->jumpToFrame(0);
    }
}

void TBrimImage::SetAutoSize(bool on)
{
    m_autoSize = on;
    pictureChanged();
}

void TBrimImage::SetStretch(bool on)
{
    m_stretch = on;
    update();
}

void TBrimImage::SetProportional(bool on)
{
    m_proportional = on;
    update();
}

void TBrimImage::SetCenter(bool on)
{
    m_center = on;
    update();
}

void TBrimImage::SetTransparent(bool on)
{
    m_transparent = on;
    update();
}

void TBrimImage::SetDraggable(bool on)
{
    m_draggable = on;
    if (on && !m_drag)
        m_drag = new brim::WindowDragFilter(this, false, [this] { return m_draggable; });
}

void TBrimImage::SetGIFAnimation(bool on)
{
    m_gifAnimation = on;
    applyGif();
    update();
}

void TBrimImage::SetGIFAnimationSpeed(int speed)
{
    m_gifAnimationSpeed = speed;
    applyGif();
}

QRect TBrimImage::DestRect() const
{
    const QSize pic = pictureSize();
    const int w = pic.width(), h = pic.height();
    const int cw = width(), ch = height();
    int dw = w, dh = h;
    if (m_stretch || (m_proportional && (w > cw || h > ch))) {
        if (m_proportional && w > 0 && h > 0) {
            const double ratio = double(w) / double(h);
            if (w > h) {
                dw = cw;
                dh = int(cw / ratio);
                if (dh > ch) {
                    dh = ch;
                    dw = int(ch * ratio);
                }
            } else {
                dh = ch;
                dw = int(ch * ratio);
                if (dw > cw) {
                    dw = cw;
                    dh = int(cw / ratio);
                }
            }
        } else {
            dw = cw;
            dh = ch;
        }
    }
    QRect r(0, 0, dw, dh);
    if (m_center)
        r.translate((cw - dw) / 2, (ch - dh) / 2);
    return r;
}

bool TBrimImage::IsOpaque() const
{
    if (!HasPicture())
        return false;
    const QPixmap pix = shownPixmap();
    if (pix.hasAlphaChannel() || m_transparent)
        return false;
    return DestRect().contains(rect());
}

void TBrimImage::paintEvent(QPaintEvent *)
{
    QPixmap pix = brim::skinPictureAt(shownPixmap(), devicePixelRatioF());
    if (pix.isNull())
        return;
    if (m_transparent && !pix.hasAlphaChannel()) {
        // Pictures without an alpha channel use their bottom-left pixel's
        // colour as the see-through colour.
        const QColor key = pix.toImage().pixelColor(0, pix.height() - 1);
        pix.setMask(pix.createMaskFromColor(key, Qt::MaskInColor));
    }
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawPixmap(DestRect(), pix);
    if (m_focusShown && hasFocus()) {
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(palette().color(QPalette::Highlight), 1.5, Qt::DotLine));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), 3, 3);
    }
}

void TBrimImage::keyPressEvent(QKeyEvent *e)
{
    const int key = e->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) && !e->isAutoRepeat()
        && OnClick) {
        OnClick(this);
        return;
    }
    QWidget::keyPressEvent(e);
}

void TBrimImage::focusInEvent(QFocusEvent *e)
{
    const Qt::FocusReason reason = e->reason();
    if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason)
        m_focusShown = true;
    else if (reason == Qt::MouseFocusReason)
        m_focusShown = false;
    update();
    QWidget::focusInEvent(e);
}

void TBrimImage::focusOutEvent(QFocusEvent *e)
{
    update();
    QWidget::focusOutEvent(e);
}

void TBrimImage::mousePressEvent(QMouseEvent *e)
{
    if (e->button() == Qt::LeftButton)
        m_pressed = true;
    QWidget::mousePressEvent(e);
}

void TBrimImage::mouseReleaseEvent(QMouseEvent *e)
{
    const bool click = e->button() == Qt::LeftButton && m_pressed && rect().contains(e->position().toPoint());
    if (e->button() == Qt::LeftButton)
        m_pressed = false;
    if (click && OnClick)
        OnClick(this);
    QWidget::mouseReleaseEvent(e);
}

void TBrimImage::mouseDoubleClickEvent(QMouseEvent *e)
{
    if (e->button() == Qt::LeftButton && OnDblClick)
        OnDblClick(this);
    QWidget::mouseDoubleClickEvent(e);
}

void TBrimImage::enterEvent(QEnterEvent *e)
{
    if (OnMouseEnter)
        OnMouseEnter(this);
    QWidget::enterEvent(e);
}

void TBrimImage::leaveEvent(QEvent *e)
{
    if (OnMouseLeave)
        OnMouseLeave(this);
    QWidget::leaveEvent(e);
}

void TBrimImage::SetHttpPicture(const QString &url)
{
    m_httpPicture = url;
    ClearPicture();
    pictureChanged();
    m_download.cancel(); // an earlier download is abandoned and its result discarded
    if (url.trimmed().isEmpty())
        return;
    // The result arrives only while this download is still the image's current one.
    m_download.start(
        [url](const platform::WorkerContext &run) { return brim::fetchHttpPicture(url, run.cancelFlag()); },
        [this](const brim::HttpPictureResult &result) { httpPictureArrived(result); });
}

void TBrimImage::httpPictureArrived(const brim::HttpPictureResult &result)
{
    if (!result.ok)
        return;
    if (!LoadPicture(result.data, result.format))
        return;
    if (OnHttpPictureCompleted)
        OnHttpPictureCompleted(this);
}
