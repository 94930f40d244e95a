#pragma once

#include "transport/ConnectionCheck.h"

#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace corvidan::ui {
class Application;
}

namespace corvidan::settings {

/// The connection check: probes the configured servers' ways in, shows what
/// works and why not, and writes the advised server lines on request.
class CheckForm : public QWidget {
    Q_OBJECT
public:
    explicit CheckForm(ui::Application& app, QWidget* parent = nullptr);
    /// Runs the check (the window keeps painting meanwhile) and shows the report.
    void Form_Load();
    const transport::CheckReport& report() const { return m_report; }

private:
    void UseCommand_Click();
    transport::CheckRequest request() const;

    ui::Application& m_app;
    QLabel* m_statusLabel;
    QPlainTextEdit* m_reportText;
    QPushButton* m_useCommand;
    QPushButton* m_closeCommand;
    transport::CheckReport m_report;
};

} // namespace corvidan::settings
