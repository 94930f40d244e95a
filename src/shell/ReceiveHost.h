#pragma once

#include "transport/ReceiveMail.h"

#include <QObject>

namespace corvidan::ui {
class Application;
}

namespace corvidan::shell {

class MainForm;

/// The receive on the desktop: status and result lines and the picture of the
/// launcher, the viewer's boxes as the holder of each message, the account
/// dialog, message boxes through the seam. Windows stay painted between messages.
class ReceiveHost final : public QObject, public transport::ReceiveHost {
public:
    ReceiveHost(ui::Application& app, MainForm& launcher);
    ~ReceiveHost() override;

    void setStatusLine(const QString& text) override;
    void setResultLine(const QString& text) override;
    void showNewMailPicture(const QString& path) override;
    void setAccount(const QString& id, const QString& password) override;
    void requestAccount() override;
    void notify(const transport::ReceiveNotice& notice) override;
    void showMessage(const transport::ReceivedMessage& message) override;
    void setCurrentRecordNo(std::int16_t recordNo) override;
    void setReceivedRecord(const storage::MailRecord& record) override;
    void progress(int index, int count) override;
    /// Esc, the launcher's 中止 or closing the launcher; asked between messages
    /// and while the server is awaited, which is when they are noticed.
    bool cancelRequested() override;
    bool closeRequested() const { return m_closeRequested; }
    void requestCancel() { m_cancelRequested = true; }

protected:
    /// While the receive runs, user input is held back except what stops it.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    ui::Application& m_app;
    MainForm& m_launcher;
    bool m_cancelRequested = false;
    bool m_closeRequested = false;
};

struct ReceiveRun {
    transport::ReceiveOutcome outcome;
    /// The launcher was closed during the receive; the caller closes it now.
    bool closeRequested = false;
};

/// The launcher's receive: runs the procedure to its end with this host.
ReceiveRun runReceive(ui::Application& app, MainForm& launcher);

} // namespace corvidan::shell
