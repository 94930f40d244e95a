#pragma once

#include <QWidget>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace corvidan::ui {
class Application;
}

namespace corvidan::settings {

/// The account dialog: POP user id and password, kept in the account file
/// only when "IDパスワードを保存する" is ticked. Enter is OK, Esc is Cancel.
class IdPassForm : public QWidget {
    Q_OBJECT
public:
    explicit IdPassForm(ui::Application& app, QWidget* parent = nullptr);
    /// Fills the boxes from the account file; does not show the window.
    void Form_Load();

    QLineEdit* idText() const { return m_idText; }
    QLineEdit* passText() const { return m_passText; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OKCommand_Click();
    void CancelCommand_Click();

    ui::Application& m_app;
    QLineEdit* m_idText;
    QLineEdit* m_passText;
    QCheckBox* m_check1;
    QPushButton* m_okCommand;
    QPushButton* m_cancelCommand;
};

} // namespace corvidan::settings
