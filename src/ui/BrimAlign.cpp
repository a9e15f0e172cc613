#include "ui/BrimAlign.h"

namespace brim {

QPoint alignPicture(TBrimAlign align, QSize box, QSize pic, int pictureX, int pictureY)
{
    const int W = box.width(), H = box.height(), w = pic.width(), h = pic.height();
    const int cx = (W - w) / 2, cy = (H - h) / 2;
    switch (align) {
    case BrimAlign_TopLeft:
        return {0, 0};
    case BrimAlign_TopCenter:
        return {cx, 0};
    case BrimAlign_TopRight:
        return {W - w, 0};
    case BrimAlign_MiddleLeft:
        return {0, cy};
    case BrimAlign_MiddleCenter:
        return {cx, cy};
    case BrimAlign_MiddleRight:
        return {W - w, cy};
    case BrimAlign_BottomLeft:
        return {0, H - h};
    case BrimAlign_BottomCenter:
        return {cx, H - h};
    case BrimAlign_BottomRight:
        return {W - w, H - h};
    case BrimAlign_CustomTop:
        return {pictureX, 0};
    case BrimAlign_CustomMiddle:
        return {pictureX, cy};
    case BrimAlign_CustomBottom:
        return {pictureX, H - h};
    case BrimAlign_CustomLeft:
        return {0, pictureY};
    case BrimAlign_CustomCenter:
        return {cx, pictureY};
    case BrimAlign_CustomRight:
        return {W - w, pictureY};
    case BrimAlign_Custom:
        return {pictureX, pictureY};
    }
    return {0, 0};
}

CaptionPlacement alignCaption(TBrimAlign align, QRect client, int textX, int textY)
{
    CaptionPlacement p;
    p.box = client;
    switch (align) {
    case BrimAlign_TopLeft:
        p.flags = Qt::AlignTop | Qt::AlignLeft;
        break;
    case BrimAlign_TopCenter:
        p.flags = Qt::AlignTop | Qt::AlignHCenter;
        break;
    case BrimAlign_TopRight:
        p.flags = Qt::AlignTop | Qt::AlignRight;
        break;
    case BrimAlign_MiddleLeft:
        p.flags = Qt::AlignVCenter | Qt::AlignLeft;
        break;
    case BrimAlign_MiddleCenter:
        p.flags = Qt::AlignVCenter | Qt::AlignHCenter;
        break;
    case BrimAlign_MiddleRight:
        p.flags = Qt::AlignVCenter | Qt::AlignRight;
        break;
    case BrimAlign_BottomLeft:
        p.flags = Qt::AlignBottom | Qt::AlignLeft;
        break;
    case BrimAlign_BottomCenter:
        p.flags = Qt::AlignBottom | Qt::AlignHCenter;
        break;
    case BrimAlign_BottomRight:
        p.flags = Qt::AlignBottom | Qt::AlignRight;
        break;
    case BrimAlign_CustomTop:
        p.box.setLeft(client.left() + textX);
        p.flags = Qt::AlignTop | Qt::AlignLeft;
        break;
    case BrimAlign_CustomMiddle:
        p.box.setLeft(client.left() + textX);
        p.flags = Qt::AlignVCenter | Qt::AlignLeft;
        break;
    case BrimAlign_CustomBottom:
        p.box.setLeft(client.left() + textX);
        p.flags = Qt::AlignBottom | Qt::AlignLeft;
        break;
    case BrimAlign_CustomLeft:
        p.box.setTop(client.top() + textY);
        p.flags = Qt::AlignTop | Qt::AlignLeft;
        break;
    case BrimAlign_CustomCenter:
        p.box.setTop(client.top() + textY);
        p.flags = Qt::AlignTop | Qt::AlignHCenter;
        break;
    case BrimAlign_CustomRight:
        p.box.setTop(client.top() + textY);
        p.flags = Qt::AlignTop | Qt::AlignRight;
        break;
    case BrimAlign_Custom:
        p.box.setTopLeft(client.topLeft() + QPoint(textX, textY));
        p.flags = Qt::AlignTop | Qt::AlignLeft;
        break;
    }
    return p;
}

} // namespace brim
