#pragma once

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

class QLabel;
class QPlainTextEdit;
class QWidget;

namespace corvidan::ui {

/// A window's hover hints: the pointer over a control shows that control's text;
/// leaving the control, or moving over a quiet part of the window, puts it away.
/// The hint shows either in a box of its own, hidden while idle, or in a status
/// line that other messages share.
class HoverHints final : public QObject {
public:
    /// Hints in `box`, which is hidden while no hint is due.
    explicit HoverHints(QPlainTextEdit* box);
    /// Hints in a status line, given by showIn once the window has made it.
    explicit HoverHints(QWidget* window);

    /// A status line is idle when empty; a message written over a hint stays.
    void showIn(QLabel* line);

    void add(QWidget* control, const QString& text);
    /// Where no hint stays even without leaving a hinted control: the window's
    /// background, its main text, its lists.
    void addQuiet(QWidget* area);
    /// Shows `control`'s hint as the pointer over it would (reached by keyboard).
    void showFor(const QObject* control);
    void hide();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void show(const QString& text);

    QPlainTextEdit* m_box = nullptr;
    QLabel* m_line = nullptr;
    QString m_shown;
    QHash<const QObject*, QString> m_hints;
    QSet<const QObject*> m_quiet;
};

} // namespace corvidan::ui
