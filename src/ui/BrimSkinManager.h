#pragma once

#include "ui/BrimImageButton.h"
#include "ui/BrimSkin.h"

#include <QColor>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QRegion>
#include <array>
#include <functional>

class TBrimSkinManager;

enum TFormStyle { fsFixed, fsSizable, fsMaximizable };
enum class TSMButtonKind { Min, Max, Close };

// Settings objects of the skin manager. Their setters take effect at once
// once the skin is applied.
class TSMPart
{
public:
    explicit TSMPart(TBrimSkinManager *owner)
        : m_owner(owner)
    { }
    TSMPart(const TSMPart &) = delete;
    TSMPart &operator=(const TSMPart &) = delete;

protected:
    void changed();
    TBrimSkinManager *m_owner;
};

#define BRIM_SM_PROPERTY(Type, Name, Init)                                                                   \
public:                                                                                                      \
    const Type &Name() const                                                                                 \
    {                                                                                                        \
        return m_##Name;                                                                                     \
    }                                                                                                        \
    void Set##Name(const Type &value)                                                                        \
    {                                                                                                        \
        m_##Name = value;                                                                                    \
        changed();                                                                                           \
    }                                                                                                        \
                                                                                                             \
private:                                                                                                     \
    Type m_##Name = Init;

// Size limits for the grip; 0 means no limit.
struct TSMBounds
{
    int MinWidth = 0;
    int MinHeight = 0;
    int MaxWidth = 0;
    int MaxHeight = 0;
};

class TSMFrame : public TSMPart
{
public:
    enum Piece { TopLeft, Top, TopRight, Left, Right, BottomLeft, Bottom, BottomRight, PieceCount };
    using TSMPart::TSMPart;
    // Frame pieces are drawn opaque: an alpha channel is dropped on assignment.
    void SetPicture(Piece piece, const QPixmap &pic);
    const QPixmap &Picture(Piece piece) const { return m_pics[piece]; }
    // The skin's art a piece was given, drawn again for dense screens.
    const brim::SkinArt &Art(Piece piece) const { return m_art[piece]; }

    void SetPicTopLeft(const QPixmap &p) { SetPicture(TopLeft, p); }
    void SetPicTop(const QPixmap &p) { SetPicture(Top, p); }
    void SetPicTopRight(const QPixmap &p) { SetPicture(TopRight, p); }
    void SetPicLeft(const QPixmap &p) { SetPicture(Left, p); }
    void SetPicRight(const QPixmap &p) { SetPicture(Right, p); }
    void SetPicBottomLeft(const QPixmap &p) { SetPicture(BottomLeft, p); }
    void SetPicBottom(const QPixmap &p) { SetPicture(Bottom, p); }
    void SetPicBottomRight(const QPixmap &p) { SetPicture(BottomRight, p); }

private:
    std::array<QPixmap, PieceCount> m_pics;
    std::array<brim::SkinArt, PieceCount> m_art;
};

class TSMIcon : public TSMPart
{
    BRIM_SM_PROPERTY(bool, Visible, true)
    BRIM_SM_PROPERTY(bool, AutoPosition, true)
    BRIM_SM_PROPERTY(int, PosX, 0)
    BRIM_SM_PROPERTY(int, PosY, 0)
    BRIM_SM_PROPERTY(QPixmap, PicNormal, {})
    BRIM_SM_PROPERTY(QPixmap, PicDisabled, {})
    BRIM_SM_PROPERTY(QPixmap, PicMouseHover, {})
    BRIM_SM_PROPERTY(QPixmap, PicMouseDown, {})
public:
    using TSMPart::TSMPart;
};

class TSMTitle : public TSMPart
{
    BRIM_SM_PROPERTY(bool, Visible, true)
    BRIM_SM_PROPERTY(QString, Text, {})
    BRIM_SM_PROPERTY(TBrimColorFont, Font, {})
    BRIM_SM_PROPERTY(bool, AutoPosition, true)
    BRIM_SM_PROPERTY(int, PosX, 0)
    BRIM_SM_PROPERTY(int, PosY, 0)
public:
    explicit TSMTitle(TBrimSkinManager *owner);
};

class TSMButton : public TSMPart
{
    BRIM_SM_PROPERTY(bool, Enabled, true)
    BRIM_SM_PROPERTY(bool, Visible, true)
    BRIM_SM_PROPERTY(QString, Caption, {})
    BRIM_SM_PROPERTY(int, PosX, 0)
    BRIM_SM_PROPERTY(int, PosY, 0)
    BRIM_SM_PROPERTY(QPixmap, PicNormal, {})
    BRIM_SM_PROPERTY(QPixmap, PicDisabled, {})
    BRIM_SM_PROPERTY(QPixmap, PicMouseHover, {})
    BRIM_SM_PROPERTY(QPixmap, PicMouseDown, {})
public:
    TSMButton(TBrimSkinManager *owner, TSMButtonKind kind)
        : TSMPart(owner)
        , m_kind(kind)
    { }
    TSMButtonKind Kind() const { return m_kind; }

private:
    TSMButtonKind m_kind;
};

class TSMCmdButtons : public TSMPart
{
    BRIM_SM_PROPERTY(bool, AutoPosition, true)
public:
    explicit TSMCmdButtons(TBrimSkinManager *owner)
        : TSMPart(owner)
        , m_min(owner, TSMButtonKind::Min)
        , m_max(owner, TSMButtonKind::Max)
        , m_close(owner, TSMButtonKind::Close)
    { }
    TSMButton &BtnMin() { return m_min; }
    TSMButton &BtnMax() { return m_max; }
    TSMButton &BtnClose() { return m_close; }
    TSMButton &Button(TSMButtonKind kind)
    {
        return kind == TSMButtonKind::Min ? m_min : kind == TSMButtonKind::Max ? m_max : m_close;
    }

private:
    TSMButton m_min, m_max, m_close;
};

#undef BRIM_SM_PROPERTY

namespace brim {
class SkinFramePiece;
class SkinTitleLabel;
class SkinSizeGrip;
class ResizeOutline;
} // namespace brim

// Replaces a window's system frame and title bar by pictures: eight frame
// pieces, icon, title and three command buttons, with moving, maximizing,
// resizing by a grip and an optional shape cut by a key colour.
class TBrimSkinManager : public QObject
{
    Q_OBJECT
public:
    // The window loses its system border at once.
    explicit TBrimSkinManager(QWidget *window);
    ~TBrimSkinManager() override;

    QWidget *Window() const { return m_window; }

    TFormStyle Style() const { return m_style; }
    void SetStyle(TFormStyle style);
    TSMBounds &Bounds() { return m_bounds; }
    TSMIcon &Icon() { return m_icon; }
    TSMTitle &Title() { return m_title; }
    TSMFrame &Frame() { return m_frame; }
    TSMCmdButtons &CmdButtons() { return m_cmdButtons; }
    bool TransparentColor() const { return m_transparentColor; }
    void SetTransparentColor(bool on);
    QColor TransparentColorValue() const { return m_transparentColorValue; }
    void SetTransparentColorValue(const QColor &color);

    std::function<void(QObject *Sender)> OnIconClick;
    std::function<void(QObject *Sender)> OnMinimized;
    std::function<void(QObject *Sender)> OnMaximized;
    std::function<void(QObject *Sender)> OnRestored;

    // Builds the skin on the window; running it again reuses the controls.
    void ApplySkin();
    bool Applied() const { return m_applied; }
    void ToggleMaximize();

    // The controls the skin created (none before ApplySkin).
    TBrimImageButton *IconButton() const { return m_iconButton; }
    TBrimImageButton *CommandButton(TSMButtonKind kind) const;
    QWidget *TitleLabel() const;
    QString TitleShown() const; // the title as drawn, with its ellipsis
    QWidget *FramePiece(TSMFrame::Piece piece) const;
    QWidget *SizeGrip() const;
    // The outline shown while the grip is dragged (empty when none).
    QRect OutlineRect() const;
    // The shape computed from the frame pictures and the key colour.
    QRegion WindowShape() const { return m_shape; }

    // Re-applies every setting to the controls; the settings objects call it.
    void SettingsChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    friend class brim::SkinSizeGrip;
    void layoutFrame();
    void layoutCommandButtons();
    void layoutIcon();
    void layoutTitle();
    void syncControls();
    void updateShape();
    void updateWindowFlags();
    void gripPress(QPoint global);
    void gripMove(QPoint global);
    void gripRelease(QPoint global);
    QPoint clampGrip(QPoint global) const;
    bool canMove() const;

    QPointer<QWidget> m_window;
    TFormStyle m_style = fsSizable;
    TSMBounds m_bounds;
    TSMIcon m_icon;
    TSMTitle m_title;
    TSMFrame m_frame;
    TSMCmdButtons m_cmdButtons;
    bool m_transparentColor = false;
    QColor m_transparentColorValue = QColor(255, 0, 255);

    bool m_applied = false;
    bool m_syncing = false;
    std::array<brim::SkinFramePiece *, TSMFrame::PieceCount> m_pieces {};
    brim::SkinSizeGrip *m_grip = nullptr;
    TBrimImageButton *m_iconButton = nullptr;
    brim::SkinTitleLabel *m_titleLabel = nullptr;
    std::array<TBrimImageButton *, 3> m_buttons {};
    std::array<int, 3> m_buttonRightOffset {}; // distance from the window's right edge
    std::array<int, 3> m_placedX {};
    std::array<bool, 3> m_placed {};
    brim::ResizeOutline *m_outline = nullptr;
    bool m_gripActive = false;
    QPoint m_gripOrigin;
    QRegion m_shape;
    bool m_shapeSet = false;
    Qt::WindowStates m_expectedState;
    bool m_expectingState = false;
};
