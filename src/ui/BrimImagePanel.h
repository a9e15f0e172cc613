#pragma once

#include "ui/BrimAlign.h"
#include "ui/BrimSkin.h"

#include <QColor>
#include <QImage>
#include <QWidget>

// A panel whose background is a picture drawn with alpha blending, placed by
// TBrimAlign, optionally stretched and see-through where the key colour is;
// it may carry a centred caption and serve as a handle to drag its window.
class TBrimImagePanel : public QWidget
{
    Q_OBJECT
public:
    explicit TBrimImagePanel(QWidget *parent = nullptr);

    const QImage &Picture() const { return m_picture; }
    void SetPicture(const QImage &picture);
    void SetPicture(const QPixmap &picture);
    TBrimAlign PictureAlign() const { return m_pictureAlign; }
    void SetPictureAlign(TBrimAlign align);
    int PictureX() const { return m_pictureX; }
    void SetPictureX(int x);
    int PictureY() const { return m_pictureY; }
    void SetPictureY(int y);
    bool Stretch() const { return m_stretch; }
    void SetStretch(bool on);
    bool AutoSize() const { return m_autoSize; }
    void SetAutoSize(bool on);
    bool Transparent() const { return m_transparent; }
    void SetTransparent(bool on);
    QColor TransparentColor() const { return m_transparentColor; }
    void SetTransparentColor(const QColor &color);
    bool Draggable() const { return m_draggable; }
    void SetDraggable(bool on);
    QString Caption() const { return m_caption; }
    void SetCaption(const QString &caption);
    QColor Color() const { return m_color; }
    void SetColor(const QColor &color);
    QColor FontColor() const { return m_fontColor; }
    void SetFontColor(const QColor &color);

    // Placement used for alignments that follow the panel's edges (no docking here).
    enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
    TAlign Align() const { return m_align; }
    void SetAlign(TAlign align);

    // Where the picture is drawn (empty without a picture).
    QRect PictureRect() const;

protected:
    // The drawing steps, in the order they run.
    virtual void PaintPicture(QPainter &p);
    virtual void PaintCaption(QPainter &p);
    virtual void PaintBorder(QPainter &) { }

    void paintEvent(QPaintEvent *) override;
    void resizeEvent(QResizeEvent *) override;
    void changeEvent(QEvent *) override;

private:
    void applyAutoSize();
    void rebuildKeyed();

    QImage m_picture;
    QImage m_keyed; // the picture with key-colour pixels made see-through
    // The skin's art the picture came from, and it drawn for the last screen
    // density other than 1 (keyed like m_keyed).
    brim::SkinArt m_art;
    QImage m_dense;
    TBrimAlign m_pictureAlign = BrimAlign_TopLeft;
    int m_pictureX = 0;
    int m_pictureY = 0;
    bool m_stretch = false;
    bool m_autoSize = false;
    bool m_transparent = true;
    QColor m_transparentColor = QColor(255, 0, 255);
    bool m_draggable = false;
    QString m_caption;
    QColor m_color;
    QColor m_fontColor;
    TAlign m_align = alNone;
    class QObject *m_drag = nullptr;
};
