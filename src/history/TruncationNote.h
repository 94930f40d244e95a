#pragma once

#include <QLabel>

namespace corvidan::history {

/// A small note in the body pane's upper right corner saying the stored body
/// was cut to fit its record, with a link to the whole original when one is kept.
/// It floats over the pane so no control moves.
class TruncationNote final : public QLabel {
    Q_OBJECT
public:
    explicit TruncationNote(QWidget* pane);

    void showFor(bool cut, bool originalKept);

signals:
    void openOriginal();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void placeInCorner();
};

} // namespace corvidan::history
