#include "ui/HoverHints.h"

#include <QEvent>
#include <QPlainTextEdit>

namespace corvidan::ui {

HoverHints::HoverHints(QPlainTextEdit* box) : QObject(box), m_box(box) {}

void HoverHints::add(QWidget* control, const QString& text)
{
    m_hints.insert(control, text);
    control->installEventFilter(this);
}

void HoverHints::hide()
{
    m_box->hide();
}

bool HoverHints::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Enter) {
        if (const auto it = m_hints.constFind(watched); it != m_hints.cend()) {
            m_box->setPlainText(*it);
            m_box->show();
            m_box->raise();
        }
    }
    return false;
}

} // namespace corvidan::ui
