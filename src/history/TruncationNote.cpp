#include "history/TruncationNote.h"

#include <QAbstractScrollArea>
#include <QEvent>
#include <QScrollBar>
#include <QTextEdit>

namespace corvidan::history {

TruncationNote::TruncationNote(QTextEdit* pane) : QLabel(pane)
{
    setObjectName(QStringLiteral("lblTruncated"));
    setAutoFillBackground(true);
    setPalette(QPalette(QColor(255, 255, 225)));
    setFrameShape(QFrame::Box);
    setMargin(2);
    setFont(QFont(QStringLiteral("ＭＳ Ｐゴシック"), 9));
    setTextFormat(Qt::RichText);
    setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    connect(this, &QLabel::linkActivated, this, &TruncationNote::openOriginal);
    pane->installEventFilter(this);
    connect(pane, &QTextEdit::textChanged, this, &QWidget::hide);
    hide();
}

void TruncationNote::showFor(bool cut, bool originalKept)
{
    if (!cut) {
        hide();
        return;
    }
    const QString said = QStringLiteral("本文は 32,000 バイトで切れています。");
    setText(originalKept ? said + QStringLiteral("<a href=\"original\">原文を開く</a>")
                         : said + QStringLiteral("原文は保存されていません。"));
    show();
    ensurePolished();
    adjustSize();
    placeInCorner();
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
    // The top, not the bottom: the status bar's controls cover the pane's lower edge.
    auto* pane = qobject_cast<QAbstractScrollArea*>(parentWidget());
    int right = parentWidget()->width() - 2;
    // Room for the scroll bar whether or not it is up yet: it comes with the long body.
    if (pane)
        right -= pane->verticalScrollBar()->sizeHint().width();
    move(std::max(0, right - width()), 2);
}

} // namespace corvidan::history
