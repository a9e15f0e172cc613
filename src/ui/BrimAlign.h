#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

// Placement of a picture or a caption inside a control. The numeric values are
// stored in forms and must not change.
enum TBrimAlign {
    BrimAlign_TopLeft = 0,
    BrimAlign_TopCenter = 1,
    BrimAlign_TopRight = 2,
    BrimAlign_MiddleLeft = 3,
    BrimAlign_MiddleCenter = 4,
    BrimAlign_MiddleRight = 5,
    BrimAlign_BottomLeft = 6,
    BrimAlign_BottomCenter = 7,
    BrimAlign_BottomRight = 8,
    BrimAlign_CustomTop = 9,
    BrimAlign_CustomMiddle = 10,
    BrimAlign_CustomBottom = 11,
    BrimAlign_CustomLeft = 12,
    BrimAlign_CustomCenter = 13,
    BrimAlign_CustomRight = 14,
    BrimAlign_Custom = 15,
};

namespace brim {

// Top-left corner of a picture of size pic inside a box of size box.
QPoint alignPicture(TBrimAlign align, QSize box, QSize pic, int pictureX, int pictureY);

// Where a caption goes: the box it is laid out in and the Qt alignment flags.
struct CaptionPlacement
{
    QRect box;
    int flags = 0;
};
CaptionPlacement alignCaption(TBrimAlign align, QRect client, int textX, int textY);

// Values 0..8 place relative to the box's edges; the rest use custom offsets.
inline bool isEdgeAlign(TBrimAlign align)
{
    return align >= BrimAlign_TopLeft && align <= BrimAlign_BottomRight;
}

} // namespace brim
