#pragma once

#include "ui/BrimAlign.h"

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QPointer>
#include <QWidget>
#include <functional>

class QShortcut;

// A font together with its colour, as the button's state fonts carry both.
struct TBrimColorFont
{
    QFont Font;
    QColor Color = Qt::black;
};

using TBrimNotifyEvent = std::function<void(QObject *Sender)>;
using TBrimMouseEvent
    = std::function<void(QObject *Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y)>;
using TBrimMouseMoveEvent = std::function<void(QObject *Sender, Qt::KeyboardModifiers Shift, int X, int Y)>;
using TBrimKeyEvent = std::function<void(QObject *Sender, int &Key, Qt::KeyboardModifiers Shift)>;
using TBrimKeyPressEvent = std::function<void(QObject *Sender, QChar &Key)>;

// Self-drawn focusable button: holds the hover/down state machine, the caption,
// the state fonts and the click rules. Pictures come with TBrimImageButton.
class TBrimCustomButton : public QWidget
{
    Q_OBJECT
public:
    explicit TBrimCustomButton(QWidget *parent = nullptr);
    ~TBrimCustomButton() override;

    QString Caption() const { return m_caption; }
    void SetCaption(const QString &caption);
    TBrimAlign TextAlign() const { return m_textAlign; }
    void SetTextAlign(TBrimAlign align);
    int TextX() const { return m_textX; }
    void SetTextX(int x);
    int TextY() const { return m_textY; }
    void SetTextY(int y);
    int ModalResult() const { return m_modalResult; }
    void SetModalResult(int result) { m_modalResult = result; }
    bool Transparent() const { return m_transparent; }
    void SetTransparent(bool on);
    QColor Color() const { return m_color; }
    void SetColor(const QColor &color);
    int FocusedRectMargin() const { return m_focusedRectMargin; }
    void SetFocusedRectMargin(int margin);
    bool MultiLines() const { return m_multiLines; }
    void SetMultiLines(bool on);

    // The control's own font and colour; the state fonts start as copies of it.
    TBrimColorFont Font() const { return {font(), m_fontColor}; }
    void SetFont(const TBrimColorFont &f);
    bool EnableStatesFont() const { return m_enableStatesFont; }
    void SetEnableStatesFont(bool on);
    TBrimColorFont FontMouseHover() const { return m_fontHover; }
    void SetFontMouseHover(const TBrimColorFont &f);
    TBrimColorFont FontMouseDown() const { return m_fontDown; }
    void SetFontMouseDown(const TBrimColorFont &f);
    TBrimColorFont FontDisabled() const { return m_fontDisabled; }
    void SetFontDisabled(const TBrimColorFont &f);
    bool ShowDisabledShadow() const { return m_showDisabledShadow; }
    void SetShowDisabledShadow(bool on);

    bool TabStop() const { return m_tabStop; }
    void SetTabStop(bool on);
    bool Default() const { return m_default; }
    void SetDefault(bool on);
    bool Cancel() const { return m_cancel; }
    void SetCancel(bool on);

    // Puts the button into a state as if the mouse had done it (for previews).
    void SetVisualState(bool hover, bool down)
    {
        m_hover = hover;
        m_down = down;
        update();
    }

    bool IsHover() const { return m_hover; }
    bool IsDown() const { return m_down; }
    // The focus came from the keyboard (Tab, Shift+Tab, a shortcut), so its
    // mark shows; a click that focuses the button shows none.
    bool FocusShown() const { return hasFocus() && m_focusShown; }
    // The caption's font and colour in the current state.
    TBrimColorFont StateFont() const;

    // Programmatic click: behaves as a mouse click.
    void Click();

    TBrimNotifyEvent OnClick;
    TBrimMouseEvent OnMouseDown;
    TBrimMouseMoveEvent OnMouseMove;
    TBrimMouseEvent OnMouseUp;
    TBrimKeyEvent OnKeyDown;
    TBrimKeyEvent OnKeyUp;
    TBrimKeyPressEvent OnKeyPress;
    TBrimNotifyEvent OnEnter;
    TBrimNotifyEvent OnExit;
    TBrimNotifyEvent OnMouseEnter;
    TBrimNotifyEvent OnMouseExit;

protected:
    // The drawing steps, in the order they run.
    virtual void PaintPicture(QPainter &) { }
    virtual void PaintCaption(QPainter &p);
    virtual void PaintFocusRect(QPainter &) { }
    virtual void PaintBorder(QPainter &) { }
    virtual const QPixmap *ChoosePicture() const { return nullptr; }

    // Background of the off-screen image: nothing (the parent shows through)
    // when transparent, the button's colour otherwise.
    void PaintBackground(QPainter &p);

    void paintEvent(QPaintEvent *) override;
    void enterEvent(QEnterEvent *) override;
    void leaveEvent(QEvent *) override;
    void mousePressEvent(QMouseEvent *) override;
    void mouseMoveEvent(QMouseEvent *) override;
    void mouseReleaseEvent(QMouseEvent *) override;
    void mouseDoubleClickEvent(QMouseEvent *) override;
    void keyPressEvent(QKeyEvent *) override;
    void keyReleaseEvent(QKeyEvent *) override;
    void focusInEvent(QFocusEvent *) override;
    void focusOutEvent(QFocusEvent *) override;
    void changeEvent(QEvent *) override;
    void showEvent(QShowEvent *) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void updateShortcut();
    void watchWindowKeys();
    bool canTakeFocus() const;

    QString m_caption;
    TBrimAlign m_textAlign = BrimAlign_MiddleCenter;
    int m_textX = 0;
    int m_textY = 0;
    int m_modalResult = 0;
    bool m_transparent = false;
    QColor m_color;
    int m_focusedRectMargin = 2;
    bool m_multiLines = false;
    QColor m_fontColor;
    bool m_enableStatesFont = false;
    TBrimColorFont m_fontHover, m_fontDown, m_fontDisabled;
    bool m_showDisabledShadow = false;
    bool m_tabStop = true;
    bool m_default = false;
    bool m_cancel = false;

    bool m_hover = false;
    bool m_down = false;
    bool m_mousePressed = false; // the left button went down on this button
    bool m_keyDown = false; // Space or Enter holds the button down
    bool m_focusShown = false;
    QShortcut *m_shortcut = nullptr;
    QPointer<QWidget> m_watchedWindow;
};

// The program's button: four state pictures placed by TBrimAlign, optionally
// stretched, keyed by a transparent colour, with border and focus rectangle.
class TBrimImageButton : public TBrimCustomButton
{
    Q_OBJECT
public:
    explicit TBrimImageButton(QWidget *parent = nullptr);

    const QPixmap &PicNormal() const { return m_picNormal; }
    void SetPicNormal(const QPixmap &pic);
    const QPixmap &PicMouseHover() const { return m_picHover; }
    void SetPicMouseHover(const QPixmap &pic);
    const QPixmap &PicMouseDown() const { return m_picDown; }
    void SetPicMouseDown(const QPixmap &pic);
    const QPixmap &PicDisabled() const { return m_picDisabled; }
    void SetPicDisabled(const QPixmap &pic);
    // Sets all four pictures at once; empty ones fall back to PicNormal.
    void SetPictures(const QPixmap &normal, const QPixmap &hover, const QPixmap &down,
                     const QPixmap &disabled);

    TBrimAlign PictureAlign() const { return m_pictureAlign; }
    void SetPictureAlign(TBrimAlign align);
    int PictureX() const { return m_pictureX; }
    void SetPictureX(int x);
    int PictureY() const { return m_pictureY; }
    void SetPictureY(int y);
    bool Stretch() const { return m_stretch; }
    void SetStretch(bool on);
    bool DrawFocused() const { return m_drawFocused; }
    void SetDrawFocused(bool on);
    bool DrawBorder() const { return m_drawBorder; }
    void SetDrawBorder(bool on);
    bool TransparentColor() const { return m_transparentColor; }
    void SetTransparentColor(bool on);
    QColor TransparentColorValue() const { return m_transparentColorValue; }
    void SetTransparentColorValue(const QColor &color);

    // The rectangle the current picture is drawn into (empty when none).
    QRect PictureRect() const;
    QSize sizeHint() const override;

protected:
    void PaintPicture(QPainter &p) override;
    void PaintFocusRect(QPainter &p) override;
    void PaintBorder(QPainter &p) override;
    const QPixmap *ChoosePicture() const override;

private:
    QPixmap m_picNormal, m_picHover, m_picDown, m_picDisabled;
    TBrimAlign m_pictureAlign = BrimAlign_TopLeft;
    int m_pictureX = 0;
    int m_pictureY = 0;
    bool m_stretch = false;
    bool m_drawFocused = false;
    bool m_drawBorder = false;
    bool m_transparentColor = false;
    QColor m_transparentColorValue = QColor(255, 0, 255);
};
