#pragma once

#include <QWidget>
#include <optional>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QStatusBar;
class QTextEdit;

namespace corvidan::ui {
class Application;
}

namespace corvidan::compose {

/// The reply window "返事を書く": answers a stored message with the same send
/// call as the compose window, but writes nothing to the sent history.
///
/// Line ends: the body is a rich text box, which keeps each line break (CR LF,
/// a lone CR or LF) as a paragraph; its text is read back with CR LF for every
/// break, and that is what is sent.
class BackForm : public QWidget {
    Q_OBJECT
public:
    explicit BackForm(ui::Application& app, QWidget* parent = nullptr);

    void Form_Load();
    void Form_Resize();
    void Form_Unload();

    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void AttachCommand_Click();
    void Command9_Click();
    void Command10_Click();

    /// The viewer's hand-off: the answered message's subject, sender and body.
    void FillReply(const QString& subject, const QString& address, const QString& body);
    /// "Re:", two blanks and the subject without surrounding blanks.
    static QString replySubject(const QString& subject);
    /// The rebuilt body: clipboard text, the break sequence, the answered body.
    static QString rebuiltBody(const QString& clipboardText, const QString& receivedBody);
    /// The body box's plain text with CR LF line ends.
    QString bodyText() const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void connectHandlers();
    /// The file dialog for an attachment; empty when cancelled.
    std::optional<QString> chooseAttachment();

    ui::Application& m_app;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command4 = nullptr;
    QPushButton* AttachCommand = nullptr;
    QPushButton* Command9 = nullptr;
    QPushButton* Command10 = nullptr;
    QLineEdit* ToText = nullptr;
    QLineEdit* SubjectText = nullptr;
    QLineEdit* AttachText = nullptr;
    QListWidget* List2 = nullptr;
    QTextEdit* BodyText = nullptr;
    QStatusBar* StatusBar1 = nullptr;
};

} // namespace corvidan::compose
