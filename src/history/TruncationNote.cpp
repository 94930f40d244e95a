#include "history/TruncationNote.h"

#include <QAbstractScrollArea>
#include <QEvent>
#include <QScrollBar>

namespace corvidan::history {

TruncationNote::TruncationNote(QWidget* pane) : QLabel(pane)
{
    setObjectName(QStringLiteral("lblTruncated"));
    setAutoFillBackground(true);
    setPalette(QPalette(QColor(255, 255, 225)));
    setFrameShape(QFrame::Box);
    setMargin(2);
    setTextFormat(Qt::RichText);
    setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    connect(this, &QLabel::linkActivated, this, &TruncationNote::openOriginal);
    pane->installEventFilter(this);
    hide();
}

void TruncationNote::showFor(bool cut, bool originalKept)
{
    if (!cut) {
        hide();
        return;
    }
    const QString said = QStringLiteral("本文は記録に収まる長さ（32,000 バイト）で切れています。");
    setText(originalKept ? said + QStringLiteral("<a href=\"original\">原文を開く</a>")
                         : said + QStringLiteral("原文は保存されていません。"));
    adjustSize();
    placeInCorner();
    show();
    raise();
}

bool TruncationNote::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parent() && event->type() == QEvent::Resize)
        placeInCorner();
    return QLabel::eventFilter(watched, event);
}

void TruncationNote::placeInCorner()
{
    auto* pane = qobject_cast<QAbstractScrollArea*>(parentWidget());
    int right = parentWidget()->width() - 2;
    int bottom = parentWidget()->height() - 2;
    if (pane && pane->verticalScrollBar()->isVisible())
        right -= pane->verticalScrollBar()->width();
    if (pane && pane->horizontalScrollBar()->isVisible())
        bottom -= pane->horizontalScrollBar()->height();
    move(std::max(0, right - width()), std::max(0, bottom - height()));
}

} // namespace corvidan::history
