#pragma once

#include "shell/AppState.h"
#include "shell/FormRegistry.h"
#include "shell/UiSeam.h"
#include "storage/ProfileFile.h"
#include "transport/NMail.h"

namespace corvidan::shell {

/// The composition root: the shared values, the mail library, the dialog seam
/// and the window registry. A test builds a fresh one over a temporary folder.
class Application {
public:
    Application(common::AppDir appDir, UiSeam& ui)
        : m_state(std::move(appDir)), m_ui(ui), m_forms(*this)
    {
        m_mail.options().serveEventsWhileWaiting = true;
        m_mail.options().useDataFolder(m_state.appDir);
    }
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    AppState& state() { return m_state; }
    const common::AppDir& appDir() const { return m_state.appDir; }
    UiSeam& ui() { return m_ui; }
    transport::NMail& mail() { return m_mail; }
    FormRegistry& forms() { return m_forms; }

    /// A server that wants a login for sending gets the POP account; before any
    /// receive or account dialog filled it, it comes from the account file.
    void prepareSmtpAccount()
    {
        QString user = m_state.PopUserId;
        QString password = m_state.PopPassword;
        if (user.isEmpty() || password.isEmpty()) {
            user = storage::ReadAccountValue(m_state.appDir, QStringLiteral("NAME"));
            password = storage::ReadAccountValue(m_state.appDir, QStringLiteral("NAME2"));
        }
        m_mail.setSmtpAccount(user, password);
    }

    /// Plain notice with the application's title, as most messages are.
    MsgAnswer notify(QWidget* parent, const QString& text, MsgIcon icon = MsgIcon::None)
    {
        return m_ui.messageBox(parent, text, UiSeam::applicationTitle(), MsgButtons::Ok, icon);
    }

private:
    AppState m_state;
    UiSeam& m_ui;
    transport::NMail m_mail;
    FormRegistry m_forms; // last: windows go before the state they use
};

} // namespace corvidan::shell
