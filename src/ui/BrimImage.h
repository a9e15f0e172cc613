#pragma once

#include "platform/Worker.h"

#include <QByteArray>
#include <QList>
#include <QPixmap>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>

class QMovie;
class QBuffer;

namespace brim {

// The extension a downloaded picture gets from its first bytes: ".bmp",
// ".jpg", ".gif", ".png", or empty when it is none of these.
QByteArray pictureExtension(const QByteArray &head);

// The outcome of one picture download (run on a worker thread).
struct HttpPictureResult
{
    bool ok = false;
    QByteArray data; // the file's bytes
    QByteArray format; // "bmp", "jpg", "gif" or "png"
};

// Fetches url with a GET into a temporary file, accepts only status 200 and a
// known picture type, and removes the temporary file in every outcome. It goes
// through the program's installed fetcher; setting cancel abandons it.
HttpPictureResult fetchHttpPicture(const QString &url, const std::atomic<bool> *cancel = nullptr);

} // namespace brim

// A picture control: natural size, stretching, proportional fitting,
// centring, animated GIF pictures, window dragging and a picture that can be
// loaded from a web address in the background.
class TBrimImage : public QWidget
{
    Q_OBJECT
public:
    explicit TBrimImage(QWidget *parent = nullptr);
    ~TBrimImage() override;

    // The picture as shown now (the current frame of an animation).
    QPixmap Picture() const;
    void SetPicture(const QPixmap &picture);
    void SetPicture(const QImage &picture);
    // Loads encoded picture bytes (bitmap, JPEG, PNG, GIF, ...); false when they do not decode.
    bool LoadPicture(const QByteArray &data, const QByteArray &format = {});
    bool LoadPictureFromFile(const QString &fileName);
    // An animation made of separate pictures shown in turn every intervalMs
    // (at GIFAnimationSpeed 1000); it runs while GIFAnimation is on, like a GIF.
    void SetAnimationFrames(const QList<QPixmap> &frames, int intervalMs);
    void ClearPicture();
    bool HasPicture() const;
    bool IsAnimated() const;

    bool AutoSize() const { return m_autoSize; }
    void SetAutoSize(bool on);
    bool Stretch() const { return m_stretch; }
    void SetStretch(bool on);
    bool Proportional() const { return m_proportional; }
    void SetProportional(bool on);
    bool Center() const { return m_center; }
    void SetCenter(bool on);
    bool Transparent() const { return m_transparent; }
    void SetTransparent(bool on);
    bool IncrementalDisplay() const { return m_incrementalDisplay; }
    void SetIncrementalDisplay(bool on) { m_incrementalDisplay = on; }
    bool Draggable() const { return m_draggable; }
    void SetDraggable(bool on);
    bool GIFAnimation() const { return m_gifAnimation; }
    void SetGIFAnimation(bool on);
    // 1000 is the GIF's own speed; the value scales it (500 half, 2000 double).
    int GIFAnimationSpeed() const { return m_gifAnimationSpeed; }
    void SetGIFAnimationSpeed(int speed);

    QString HttpPicture() const { return m_httpPicture; }
    // Clears the picture and, for a non-blank address, downloads it in the
    // background; an earlier download still running is discarded.
    void SetHttpPicture(const QString &url);

    // The rectangle the picture is drawn into.
    QRect DestRect() const;
    // True when the picture covers the whole control and has no see-through parts.
    bool IsOpaque() const;

    std::function<void(QObject *Sender)> OnHttpPictureCompleted;
    std::function<void(QObject *Sender)> OnClick;
    std::function<void(QObject *Sender)> OnDblClick;
    std::function<void(QObject *Sender)> OnMouseEnter;
    std::function<void(QObject *Sender)> OnMouseLeave;

protected:
    void paintEvent(QPaintEvent *) override;
    void mousePressEvent(QMouseEvent *) override;
    void mouseReleaseEvent(QMouseEvent *) override;
    void mouseDoubleClickEvent(QMouseEvent *) override;
    void enterEvent(QEnterEvent *) override;
    void leaveEvent(QEvent *) override;
    // An image its owner lets take the focus is clicked with Enter or Space,
    // and shows a dotted frame while the keyboard's focus is on it.
    void keyPressEvent(QKeyEvent *) override;
    void focusInEvent(QFocusEvent *) override;
    void focusOutEvent(QFocusEvent *) override;

private:
    void pictureChanged();
    void applyGif();
    bool m_focusShown = false;
    QSize pictureSize() const;
    QPixmap shownPixmap() const;
    void httpPictureArrived(const brim::HttpPictureResult &result);

    QPixmap m_pixmap;
    QMovie *m_movie = nullptr;
    QBuffer *m_movieBuffer = nullptr;
    QList<QPixmap> m_frames;
    int m_frameIndex = 0;
    int m_frameInterval = 100;
    class QTimer *m_frameTimer = nullptr;
    bool m_autoSize = false;
    bool m_stretch = false;
    bool m_proportional = false;
    bool m_center = false;
    bool m_transparent = false;
    bool m_incrementalDisplay = false;
    bool m_draggable = false;
    bool m_gifAnimation = false;
    int m_gifAnimationSpeed = 1000;
    QString m_httpPicture;
    // The picture download; cancelled when superseded or when the image goes.
    platform::Worker m_download;
    QObject *m_drag = nullptr;
    bool m_pressed = false;
};
