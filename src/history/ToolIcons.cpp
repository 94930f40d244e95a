#include "history/ToolIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace corvidan::history {

namespace {

constexpr int Size = 16;

void drawPage(QPainter& p, const QRectF& r)
{
    p.setBrush(Qt::white);
    p.drawRect(r);
    p.drawLine(QPointF(r.left() + 2, r.top() + 4), QPointF(r.right() - 2, r.top() + 4));
    p.drawLine(QPointF(r.left() + 2, r.top() + 7), QPointF(r.right() - 2, r.top() + 7));
}

void drawLetter(QPainter& p, const QString& letter, bool bold, bool italic, bool underline)
{
    QFont f(QStringLiteral("Serif"));
    f.setPixelSize(13);
    f.setBold(bold);
    f.setItalic(italic);
    f.setUnderline(underline);
    p.setFont(f);
    p.drawText(QRect(0, 0, Size, Size), Qt::AlignCenter, letter);
}

void drawKey(QPainter& p, const QString& key)
{
    p.setPen(QPen(QColor(40, 40, 60), 1));
    if (key == u"New") {
        drawPage(p, QRectF(3.5, 1.5, 9, 13));
    } else if (key == u"Open") {
        p.setBrush(QColor(240, 200, 90));
        p.drawRect(QRectF(1.5, 4.5, 13, 9));
        p.drawRect(QRectF(1.5, 2.5, 5, 2));
    } else if (key == u"Save") {
        p.setBrush(QColor(70, 110, 190));
        p.drawRect(QRectF(1.5, 1.5, 13, 13));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(4.5, 1.5, 7, 5));
    } else if (key == u"Print") {
        p.setBrush(QColor(200, 200, 200));
        p.drawRect(QRectF(1.5, 6.5, 13, 6));
        drawPage(p, QRectF(4.5, 1.5, 7, 5));
        drawPage(p, QRectF(4.5, 10.5, 7, 4));
    } else if (key == u"Cut") {
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(2.5, 10.5, 4, 4));
        p.drawEllipse(QRectF(9.5, 10.5, 4, 4));
        p.drawLine(QPointF(5.5, 10.5), QPointF(11.5, 1.5));
        p.drawLine(QPointF(10.5, 10.5), QPointF(4.5, 1.5));
    } else if (key == u"Copy") {
        drawPage(p, QRectF(1.5, 1.5, 8, 10));
        drawPage(p, QRectF(6.5, 4.5, 8, 10));
    } else if (key == u"Paste") {
        p.setBrush(QColor(190, 150, 90));
        p.drawRect(QRectF(2.5, 2.5, 11, 12));
        drawPage(p, QRectF(5.5, 5.5, 8, 9));
    } else if (key == u"Bold") {
        drawLetter(p, QStringLiteral("B"), true, false, false);
    } else if (key == u"Italic") {
        drawLetter(p, QStringLiteral("I"), false, true, false);
    } else if (key == u"Underline") {
        drawLetter(p, QStringLiteral("U"), false, false, true);
    }
}

QString themeName(const QString& key)
{
    if (key == u"New") return QStringLiteral("document-new");
    if (key == u"Open") return QStringLiteral("document-open");
    if (key == u"Save") return QStringLiteral("document-save-as");
    if (key == u"Print") return QStringLiteral("document-print");
    if (key == u"Cut") return QStringLiteral("edit-cut");
    if (key == u"Copy") return QStringLiteral("edit-copy");
    if (key == u"Paste") return QStringLiteral("edit-paste");
    if (key == u"Bold") return QStringLiteral("format-text-bold");
    if (key == u"Italic") return QStringLiteral("format-text-italic");
    if (key == u"Underline") return QStringLiteral("format-text-underline");
    return {};
}

} // namespace

QIcon toolIcon(const QString& key)
{
    QPixmap pixmap(Size, Size);
    pixmap.fill(Qt::transparent);
    {
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        drawKey(p, key);
    }
    return QIcon::fromTheme(themeName(key), QIcon(pixmap));
}

} // namespace corvidan::history
