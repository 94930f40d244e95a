#pragma once

#include <QRect>
#include <QWidget>
#include <QtMath>

namespace corvidan::ui {

// Window geometry is designed in twips (1/1440 inch); at 96 dpi one pixel is 15
// twips. A size the design gives as a window's client area is used as it is
// (Qt's width()/height() exclude the frame).
inline constexpr int TwipsPerPixel = 15;

// A window's Width and Height as its handlers set or read them are the classic
// outer size, frame and caption included: the client area is FrameWidthTw
// narrower and FrameHeightTw lower. The compose window relies on this (its
// address panel at 6960 lies outside a 7100 wide window), and resize rules
// stated in outer sizes add the allowance back to the client size.
inline constexpr int FrameWidthTw = 150;
inline constexpr int FrameHeightTw = 450;

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

/// Client size in pixels of a window whose outer size is given in twips.
inline QSize clientSizeForOuterTw(int outerWidth, int outerHeight)
{
    return QSize(px(outerWidth - FrameWidthTw), px(outerHeight - FrameHeightTw));
}

/// The outer width and height in twips of a window, from its client size.
inline int outerWidthTw(const QWidget* w)
{
    return tw(w->width()) + FrameWidthTw;
}

inline int outerHeightTw(const QWidget* w)
{
    return tw(w->height()) + FrameHeightTw;
}

} // namespace corvidan::ui
