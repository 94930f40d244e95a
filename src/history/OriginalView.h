#pragma once

#include <QByteArray>
#include <QWidget>

class QComboBox;
class QPlainTextEdit;

namespace corvidan::history {

/// A kept original read whole: its header fields decoded and its body, never
/// cut, read-only, with a choice of charset for mail that declares the wrong one.
class OriginalView final : public QWidget {
    Q_OBJECT
public:
    explicit OriginalView(QWidget* parent = nullptr);

    void setMessage(const QByteArray& message, const QString& subject);
    /// The charset label chosen ("" for 自動: as the message declares).
    QByteArray chosenCharset() const;

private:
    void cboCharset_Change();

    QByteArray m_message;
    QComboBox* cboCharset = nullptr;
    QPlainTextEdit* txtGenbun = nullptr;
};

} // namespace corvidan::history
