#pragma once

#include <QHash>
#include <QObject>
#include <QString>

class QPlainTextEdit;
class QWidget;

namespace corvidan::ui {

/// A window's hint box: the pointer entering a control shows that control's
/// text in the box, raised over the others. The window decides where it hides.
class HoverHints final : public QObject {
public:
    explicit HoverHints(QPlainTextEdit* box);

    void add(QWidget* control, const QString& text);
    void hide();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPlainTextEdit* m_box;
    QHash<QObject*, QString> m_hints;
};

} // namespace corvidan::ui
