#pragma once

#include <QLabel>

class QTextEdit;

namespace corvidan::history {

/// A small note in the body pane's upper right corner saying the stored body
/// was cut to fit its record, with a link to the whole original when one is kept.
/// It floats over the pane so no control moves, and goes as soon as the pane's
/// text changes (an edit, a file opened): that text is no longer the record's.
class TruncationNote final : public QLabel {
    Q_OBJECT
public:
    explicit TruncationNote(QTextEdit* pane);

    void showFor(bool cut, bool originalKept);

signals:
    void openOriginal();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void placeInCorner();
};

} // namespace corvidan::history
