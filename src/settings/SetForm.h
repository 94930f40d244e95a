#pragma once

#include <QWidget>

namespace corvidan::ui {
class Application;
}

namespace corvidan::settings {

/// The settings hub: one button for the account, one for the servers, one
/// for the connection check.
class SetForm : public QWidget {
    Q_OBJECT
public:
    explicit SetForm(ui::Application& app, QWidget* parent = nullptr);
    void Form_Load() {}

private:
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();

    ui::Application& m_app;
};

} // namespace corvidan::settings
