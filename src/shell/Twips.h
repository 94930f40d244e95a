#pragma once

#include <QRect>
#include <QWidget>
#include <QtMath>

namespace corvidan::shell {

// Window geometry is designed in twips (1/1440 inch); at 96 dpi one pixel is 15
// twips. Sizes given for a window are its client area: Qt's width()/height()
// exclude the frame, so W and H in resize rules are the client size in twips.
inline constexpr int TwipsPerPixel = 15;

inline int px(double twips)
{
    return qRound(twips / TwipsPerPixel);
}

inline int tw(int pixels)
{
    return pixels * TwipsPerPixel;
}

inline QRect rectTw(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

inline void placeTw(QWidget* w, int left, int top, int width, int height)
{
    w->setGeometry(rectTw(left, top, width, height));
}

} // namespace corvidan::shell
