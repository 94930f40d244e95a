#pragma once

#include <QHash>
#include <QString>
#include <QWidget>

class QLabel;
class QPushButton;
class QLineEdit;
class QTimer;

namespace corvidan::ui {
class Application;
class HoverHints;
}

namespace corvidan::shell {

/// The launcher: a picture-filled window whose labels act as buttons. Its load
/// handler is start-up, closing it is shutdown.
class MainForm : public QWidget {
    Q_OBJECT
public:
    explicit MainForm(ui::Application& app, QWidget* parent = nullptr);

    /// Start-up: pictures, the hidden compose window, the server settings, the
    /// mail library, and the server dialog when no POP3 server is set.
    void Form_Load();
    /// Shutdown: releases the mail library once and ends every other window.
    void Form_Unload();

    /// Fetches new mail (the launcher's "受信").
    void ReceiveMail();

    // What the receive procedure reports through.
    void setStatusLine(const QString& text);
    void setResultLine(const QString& text);
    QString statusLine() const;
    QString resultLine() const;
    /// Replaces the central picture by the new-mail picture.
    void showNewMailPicture();
    /// The 中止 control, shown only while a receive runs.
    QPushButton* receiveCancelButton() const { return m_receiveCancel; }
    void setReceiving(bool receiving);
    /// The clock box's text, the date a sent message records.
    QString clockBoxText() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    using Handler = void (MainForm::*)();

    void createPictures();
    void createFunctionLabels();
    void createDecoration();
    void createStatusControls();
    QLabel* addLabel(const QString& name, const QString& caption, QRect twips);
    void setClick(QWidget* control, Handler handler);
    void loadPicture(QStringView windowsRelative);

    void Label8_Click();
    void Label9_Click();
    void Label7_Click();
    void Label6_Click();
    void Label10_Click();
    void Label11_Click();
    void Label5_Click();
    void Label4_Click();
    void Timer2_Timer();

    ui::Application& m_app;
    QLabel* m_image2 = nullptr;
    QLabel* m_statusLine = nullptr;
    QLabel* m_resultLine = nullptr;
    QLineEdit* m_clockBox = nullptr;
    QPushButton* m_receiveCancel = nullptr;
    QTimer* m_timer2 = nullptr;
    ui::HoverHints* m_hints = nullptr;
    QHash<QObject*, Handler> m_clickHandlers;
    QObject* m_pressed = nullptr;
    bool m_shutDown = false;
};

} // namespace corvidan::shell
