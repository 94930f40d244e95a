#pragma once

#include <QWidget>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace corvidan::ui {
class Application;
}

namespace corvidan::settings {

/// The server dialog: SMTP and POP3 server, own address, APOP. Stays above
/// every other window; "設定" stores, "中止" (or Esc) leaves everything as it was.
class OptionForm : public QWidget {
    Q_OBJECT
public:
    explicit OptionForm(ui::Application& app, QWidget* parent = nullptr);
    /// Shows the dialog topmost, filled from the process-wide values.
    void Form_Load();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OKCommand_Click();
    void CancelCommand_Click();

    ui::Application& m_app;
    QLineEdit* m_smtpText;
    QLineEdit* m_pop3Text;
    QLineEdit* m_mailText;
    QCheckBox* m_apopCheck;
    QPushButton* m_okCommand;
    QPushButton* m_cancelCommand;
};

} // namespace corvidan::settings
