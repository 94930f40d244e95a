#include "ui/HoverHints.h"

#include <QEvent>
#include <QLabel>
#include <QPlainTextEdit>

namespace corvidan::ui {

HoverHints::HoverHints(QPlainTextEdit* box) : QObject(box), m_box(box)
{
    // The box lies over other controls; were it to catch the pointer, what it
    // covers would never see the pointer arrive and the hint would stay.
    box->setAttribute(Qt::WA_TransparentForMouseEvents);
}

HoverHints::HoverHints(QWidget* window) : QObject(window) {}

void HoverHints::showIn(QLabel* line)
{
    m_line = line;
}

void HoverHints::add(QWidget* control, const QString& text)
{
    // Enter and Leave are enough here; tracked, a control that ignores mouse moves
    // would pass them on to the window, whose background puts the hint away.
    m_hints.insert(control, text);
    control->installEventFilter(this);
}

void HoverHints::addQuiet(QWidget* area)
{
    m_quiet.insert(area);
    area->setMouseTracking(true);
    area->installEventFilter(this);
}

void HoverHints::showFor(const QObject* control)
{
    if (const auto it = m_hints.constFind(control); it != m_hints.cend())
        show(*it);
}

void HoverHints::show(const QString& text)
{
    m_shown = text;
    if (m_line) {
        m_line->setText(text);
    } else if (m_box) {
        if (m_box->toPlainText() != text)
            m_box->setPlainText(text);
        m_box->show();
        m_box->raise();
    }
}

void HoverHints::hide()
{
    if (m_line) {
        if (m_line->text() == m_shown)
            m_line->clear();
    } else if (m_box) {
        m_box->hide();
    }
    m_shown.clear();
}

bool HoverHints::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    const bool over = type == QEvent::Enter || type == QEvent::MouseMove;
    if (const auto it = m_hints.constFind(watched); it != m_hints.cend()) {
        if (over)
            show(*it);
        else if (type == QEvent::Leave)
            hide();
    } else if (over && m_quiet.contains(watched)) {
        hide();
    }
    return false;
}

} // namespace corvidan::ui
