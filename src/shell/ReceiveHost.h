#pragma once

#include "transport/ReceiveMail.h"

namespace corvidan::shell {

class Application;
class MainForm;

/// The receive on the desktop: status and result lines and the picture of the
/// launcher, the viewer's boxes as the holder of each message, the account
/// dialog, message boxes through the seam. Windows stay painted between messages.
class ReceiveHost final : public transport::ReceiveHost {
public:
    ReceiveHost(Application& app, MainForm& launcher) : m_app(app), m_launcher(launcher) {}

    void setStatusLine(const QString& text) override;
    void setResultLine(const QString& text) override;
    void showNewMailPicture(const QString& path) override;
    void setAccount(const QString& id, const QString& password) override;
    void requestAccount() override;
    void messageBox(const QString& text, const QString& title) override;
    void showMessage(const transport::ReceivedMessage& message) override;
    void setCurrentRecordNo(std::int16_t recordNo) override;
    void setReceivedRecord(const storage::MailRecord& record) override;
    void progress(int index, int count) override;
    bool cancelRequested() override { return false; }

private:
    Application& m_app;
    MainForm& m_launcher;
};

/// The launcher's receive: runs the procedure to its end with this host.
transport::ReceiveOutcome runReceive(Application& app, MainForm& launcher);

} // namespace corvidan::shell
